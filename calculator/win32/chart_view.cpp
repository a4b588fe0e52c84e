#include "chart_view.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kx::calculator {

namespace {

std::wstring Wide(const std::string& text) { return {text.begin(), text.end()}; }  // ASCII
std::string Narrow(const std::wstring& text) { return {text.begin(), text.end()}; }

// The Qt window's colours for the call, the put and a single curve.
constexpr COLORREF kColours[] = {RGB(0x1f, 0x5f, 0xb4), RGB(0xc8, 0x3a, 0x1e),
                                 RGB(0x1a, 0x7f, 0x37)};
constexpr COLORREF kMarkerColour = RGB(0x70, 0x70, 0x70);
constexpr COLORREF kGridColour = RGB(0xe2, 0xe2, 0xe2);

HFONT MakeFont(HDC dc, int tenths_of_points, int weight, int escapement = 0) {
  return CreateFontW(-MulDiv(tenths_of_points, GetDeviceCaps(dc, LOGPIXELSY), 720), 0, escapement,
                     escapement, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0,
                     CLEARTYPE_QUALITY, 0, L"Arial");
}

HPEN MakePen(COLORREF colour, int width, DWORD style) {
  LOGBRUSH brush{BS_SOLID, colour, 0};
  return ExtCreatePen(PS_GEOMETRIC | style | PS_ENDCAP_FLAT, width, &brush, 0, nullptr);
}

SIZE TextSize(HDC dc, const std::wstring& text) {
  SIZE size{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  return size;
}

void Text(HDC dc, int x, int y, const std::wstring& text) {
  TextOutW(dc, x, y, text.c_str(), static_cast<int>(text.size()));
}

}  // namespace

void ChartView::Register(HINSTANCE instance) {
  WNDCLASSEXW chart_class{};
  chart_class.cbSize = sizeof(WNDCLASSEXW);
  chart_class.style = CS_HREDRAW | CS_VREDRAW;
  chart_class.lpfnWndProc = Proc;
  chart_class.hInstance = instance;
  chart_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  chart_class.lpszClassName = kClass;
  RegisterClassExW(&chart_class);
}

ChartView* ChartView::Of(HWND hwnd) {
  return reinterpret_cast<ChartView*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

void ChartView::Show(const ChartCurves* curves) {
  curves_ = curves;
  InvalidateRect(hwnd_, nullptr, FALSE);
}

void ChartView::Select(Chart chart, Greek greek) {
  chart_ = chart;
  greek_ = greek;
  InvalidateRect(hwnd_, nullptr, FALSE);
}

LRESULT CALLBACK ChartView::Proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_NCCREATE: {
      auto* view = new ChartView;
      view->hwnd_ = hwnd;
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(view));
      break;
    }
    case WM_NCDESTROY:
      delete Of(hwnd);
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      break;
    case WM_MOUSEMOVE:
      if (ChartView* view = Of(hwnd)) {
        view->Hover({static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))});
      }
      return 0;
    case WM_ERASEBKGND:
      return 1;  // painted whole, off screen
    case WM_PAINT: {
      PAINTSTRUCT paint;
      const HDC dc = BeginPaint(hwnd, &paint);
      RECT area;
      GetClientRect(hwnd, &area);
      // Drawn in a bitmap first: no flicker while the window is resized.
      const HDC memory = CreateCompatibleDC(dc);
      const HBITMAP bitmap = CreateCompatibleBitmap(dc, area.right, area.bottom);
      const HGDIOBJ old = SelectObject(memory, bitmap);
      if (ChartView* view = Of(hwnd)) {
        view->plot_ = PlotOf(view->chart_, view->greek_, view->curves_);
        view->drawn_ = Draw(memory, area, view->plot_, &view->box_);
      }
      BitBlt(dc, 0, 0, area.right, area.bottom, memory, 0, 0, SRCCOPY);
      SelectObject(memory, old);
      DeleteObject(bitmap);
      DeleteDC(memory);
      EndPaint(hwnd, &paint);
      return 0;
    }
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

HBITMAP ChartView::Image(const ChartCurves& curves, Greek greek) {
  constexpr int kWidth = 960, kHeight = 540;  // each chart's, whatever the window's size
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), kWidth, -3 * kHeight, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  void* pixels = nullptr;
  const HDC screen = GetDC(nullptr);
  const HBITMAP image = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
  const HDC dc = CreateCompatibleDC(screen);
  ReleaseDC(nullptr, screen);
  const HGDIOBJ old = SelectObject(dc, image);
  int top = 0;
  for (const Chart chart : {Chart::kValue, Chart::kGreek, Chart::kTime}) {
    SetViewportOrgEx(dc, 0, top, nullptr);
    (void)Draw(dc, {0, 0, kWidth, kHeight}, PlotOf(chart, greek, &curves));
    top += kHeight;
  }
  SelectObject(dc, old);
  DeleteDC(dc);
  return image;
}

int ChartView::PixelX(const Plot& plot, const RECT& box, double x) {
  double along = (x - plot.x.ticks.min) / (plot.x.ticks.max - plot.x.ticks.min);
  if (plot.x.reverse) along = 1 - along;
  return static_cast<int>(std::lround(box.left + along * (box.right - box.left)));
}

int ChartView::PixelY(const Plot& plot, const RECT& box, double y) {
  const double along = (y - plot.y.ticks.min) / (plot.y.ticks.max - plot.y.ticks.min);
  return static_cast<int>(std::lround(box.bottom - along * (box.bottom - box.top)));
}

POINT ChartView::PointOf(std::size_t curve, std::size_t i) const {
  const PlotCurve& c = plot_.curves.at(curve);
  return {PixelX(plot_, box_, c.x->at(i)), PixelY(plot_, box_, c.y->at(i))};
}

void ChartView::Hover(POINT at) {
  // The computed point nearest the pointer, if it is within a few pixels of it.
  constexpr long kNear = 10 * 10;
  long best = kNear + 1;
  std::string text;
  for (std::size_t k = 0; k < plot_.curves.size(); ++k) {
    const PlotCurve& c = plot_.curves[k];
    for (std::size_t i = 0; i < c.x->size() && i < c.y->size(); ++i) {
      if (!std::isfinite((*c.y)[i])) continue;
      const POINT p = PointOf(k, i);
      const long d = (p.x - at.x) * (p.x - at.x) + (p.y - at.y) * (p.y - at.y);
      if (d < best) {
        best = d;
        text = PointText(chart_, c.name, (*c.x)[i], (*c.y)[i]);
      }
    }
  }
  if (text == point_) return;
  point_ = text;
  SendMessageW(GetParent(hwnd_), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hwnd_), kPointChanged),
               reinterpret_cast<LPARAM>(hwnd_));
}

std::string ChartView::Draw(HDC dc, const RECT& area, const Plot& plot, RECT* box) {
  if (box != nullptr) *box = {};
  FillRect(dc, &area, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  SetBkMode(dc, TRANSPARENT);
  std::string drawn;
  const HFONT title_font = MakeFont(dc, 110, FW_BOLD);
  const HFONT label_font = MakeFont(dc, 100, FW_NORMAL);
  const HFONT upright_font = MakeFont(dc, 100, FW_NORMAL, 900);
  const HGDIOBJ old_font = SelectObject(dc, title_font);
  // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on chains of string +.
  drawn.append("chart.title=").append(plot.title).append("\n");
  // Each text's box is reported too, for reading it alone (a test cuts it out of a picture).
  const auto report_box = [&drawn](const RECT& box, const std::string& text) {
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, "chart.box=%ld %ld %ld %ld ", box.left, box.top,
                  box.right - box.left, box.bottom - box.top);
    drawn.append(numbers).append(text).append("\n");
  };
  const auto put = [&](int x, int y, const std::wstring& text) {
    Text(dc, x, y, text);
    const SIZE size = TextSize(dc, text);
    report_box({x, y, x + size.cx, y + size.cy}, Narrow(text));
  };

  // The title over the whole width, wrapped rather than cut when the window is narrow.
  const std::wstring title = Wide(plot.title);
  RECT title_box{8, 8, std::max<LONG>(area.right - 8, 9), 8};
  DrawTextW(dc, title.c_str(), -1, &title_box, DT_CENTER | DT_WORDBREAK | DT_CALCRECT);
  title_box.left = 8;
  title_box.right = std::max<LONG>(area.right - 8, 9);
  DrawTextW(dc, title.c_str(), -1, &title_box, DT_CENTER | DT_WORDBREAK);
  report_box(title_box, plot.title);
  if (plot.curves.empty()) {
    SelectObject(dc, old_font);
    for (const HFONT font : {title_font, label_font, upright_font}) DeleteObject(font);
    return drawn;
  }

  SelectObject(dc, label_font);
  TEXTMETRICW metrics;
  GetTextMetricsW(dc, &metrics);
  const int line = metrics.tmHeight;
  std::vector<std::wstring> x_labels, y_labels;
  int y_label_width = 0;
  for (int i = 0; i < plot.x.ticks.count; ++i) {
    x_labels.push_back(Wide(TickLabel(plot.x, TickValue(plot.x.ticks, i))));
  }
  for (int i = 0; i < plot.y.ticks.count; ++i) {
    y_labels.push_back(Wide(TickLabel(plot.y, TickValue(plot.y.ticks, i))));
    y_label_width = std::max<int>(y_label_width, TextSize(dc, y_labels.back()).cx);
  }
  // The legend: one name a line at the right, a short stroke of the curve's pen before it.
  std::vector<std::wstring> names;
  int name_width = 0;
  for (const PlotCurve& curve : plot.curves) names.push_back(Wide(curve.name));
  for (const PlotMarker& marker : plot.markers) names.push_back(Wide(marker.name));
  for (const std::wstring& name : names)
    name_width = std::max<int>(name_width, TextSize(dc, name).cx);
  constexpr int kStroke = 26;
  const int legend_width = kStroke + 8 + name_width + 16;

  RECT plot_box;
  plot_box.left = 8 + line + 6 + y_label_width + 6;
  plot_box.top = title_box.bottom + 10;
  plot_box.right = area.right - legend_width - 10;
  plot_box.bottom = area.bottom - 8 - line - 4 - line - 6;
  if (plot_box.right - plot_box.left < 20 || plot_box.bottom - plot_box.top < 20) {
    SelectObject(dc, old_font);
    for (const HFONT font : {title_font, label_font, upright_font}) DeleteObject(font);
    return drawn;  // no room for a plot
  }
  if (box != nullptr) *box = plot_box;
  const auto to_x = [&](double v) { return PixelX(plot, plot_box, v); };
  const auto to_y = [&](double v) { return PixelY(plot, plot_box, v); };

  // Grid lines and tick labels.
  const HPEN grid = CreatePen(PS_SOLID, 1, kGridColour);
  const HGDIOBJ old_pen = SelectObject(dc, grid);
  SetTextColor(dc, RGB(0, 0, 0));
  std::string xs, ys;
  for (int i = 0; i < plot.x.ticks.count; ++i) {
    const int x = to_x(TickValue(plot.x.ticks, i));
    MoveToEx(dc, x, plot_box.top, nullptr);
    LineTo(dc, x, plot_box.bottom + 4);
    put(x - TextSize(dc, x_labels[i]).cx / 2, plot_box.bottom + 6, x_labels[i]);
    xs.append(i ? " " : "").append(Narrow(x_labels[i]));
  }
  for (int i = 0; i < plot.y.ticks.count; ++i) {
    const int y = to_y(TickValue(plot.y.ticks, i));
    MoveToEx(dc, plot_box.left - 4, y, nullptr);
    LineTo(dc, plot_box.right, y);
    put(plot_box.left - 6 - TextSize(dc, y_labels[i]).cx, y - line / 2, y_labels[i]);
    ys.append(i ? " " : "").append(Narrow(y_labels[i]));
  }
  drawn.append("chart.xticks=").append(xs).append("\nchart.yticks=").append(ys).append("\n");
  // Axis titles: the x one centred under the ticks, the y one upright at the left.
  const std::wstring x_title = Wide(plot.x.title), y_title = Wide(plot.y.title);
  put((plot_box.left + plot_box.right - TextSize(dc, x_title).cx) / 2,
      plot_box.bottom + 6 + line + 4, x_title);
  SelectObject(dc, upright_font);
  Text(dc, 8, (plot_box.top + plot_box.bottom + TextSize(dc, y_title).cx) / 2, y_title);
  SelectObject(dc, label_font);
  drawn.append("chart.axes=").append(plot.x.title).append("|").append(plot.y.title).append("\n");

  // Curves and markers inside the frame only.
  const HPEN frame = CreatePen(PS_SOLID, 1, RGB(0x80, 0x80, 0x80));
  SelectObject(dc, frame);
  SelectObject(dc, GetStockObject(NULL_BRUSH));
  Rectangle(dc, plot_box.left, plot_box.top, plot_box.right + 1, plot_box.bottom + 1);
  const auto pen_of = [](const PlotCurve& curve) {
    return MakePen(kColours[static_cast<int>(curve.colour)], 2, curve.dashed ? PS_DASH : PS_SOLID);
  };
  const auto marker_pen = [](const PlotMarker& marker) {
    return MakePen(kMarkerColour, 1, marker.dotted ? PS_DOT : PS_DASHDOT);
  };
  SaveDC(dc);
  IntersectClipRect(dc, plot_box.left, plot_box.top, plot_box.right + 1, plot_box.bottom + 1);
  for (const PlotCurve& curve : plot.curves) {
    const HPEN pen = pen_of(curve);
    SelectObject(dc, pen);
    std::vector<POINT> points;
    for (std::size_t i = 0; i < curve.x->size() && i < curve.y->size(); ++i) {
      if (std::isfinite((*curve.y)[i]))
        points.push_back({to_x((*curve.x)[i]), to_y((*curve.y)[i])});
    }
    Polyline(dc, points.data(), static_cast<int>(points.size()));
    SelectObject(dc, frame);
    DeleteObject(pen);
  }
  for (const PlotMarker& marker : plot.markers) {
    const HPEN pen = marker_pen(marker);
    SelectObject(dc, pen);
    MoveToEx(dc, to_x(marker.x), plot_box.top, nullptr);
    LineTo(dc, to_x(marker.x), plot_box.bottom);
    SelectObject(dc, frame);
    DeleteObject(pen);
  }
  RestoreDC(dc, -1);

  std::string legend;
  const int legend_left = plot_box.right + 12;
  int y = plot_box.top + 4;
  for (std::size_t i = 0; i < names.size(); ++i, y += line + 6) {
    const HPEN pen = i < plot.curves.size() ? pen_of(plot.curves[i])
                                            : marker_pen(plot.markers[i - plot.curves.size()]);
    SelectObject(dc, pen);
    MoveToEx(dc, legend_left, y + line / 2, nullptr);
    LineTo(dc, legend_left + kStroke, y + line / 2);
    SelectObject(dc, frame);
    DeleteObject(pen);
    put(legend_left + kStroke + 8, y, names[i]);
    legend.append(i ? "|" : "").append(Narrow(names[i]));
  }
  drawn.append("chart.legend=").append(legend).append("\n");

  SelectObject(dc, old_pen);
  SelectObject(dc, old_font);
  DeleteObject(grid);
  DeleteObject(frame);
  for (const HFONT font : {title_font, label_font, upright_font}) DeleteObject(font);
  return drawn;
}

}  // namespace kx::calculator
