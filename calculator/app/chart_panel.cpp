#include "chart_panel.h"

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QClipboard>
#include <QComboBox>
#include <QCursor>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegend>
#include <QLineSeries>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolTip>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

#include "kx/calculator/status.h"

namespace kx::calculator {

namespace {

constexpr int kCall = 0, kPut = 1, kOther = 2;

QString Number(double value) { return QString::number(value, 'g', 10); }

struct GreekCurves {
  const char* label;  // the y axis, with its unit
  std::vector<std::pair<QString, const std::vector<double>*>> curves;
};

GreekCurves CurvesOf(Greek greek, const ChartCurves& c) {
  switch (greek) {
    case Greek::kDelta:
      return {"Delta (per 1.00 of price)",
              {{"Call delta", &c.call_delta}, {"Put delta", &c.put_delta}}};
    case Greek::kGamma:
      return {"Gamma (per 1.00 of price)", {{"Gamma", &c.gamma}}};
    case Greek::kTheta:
      return {"Theta (per year)", {{"Call theta", &c.call_theta}, {"Put theta", &c.put_theta}}};
    case Greek::kVega:
      return {"Vega (per 1.00 of vol.)", {{"Vega", &c.vega}}};
    case Greek::kRho:
      return {"Rho (per 1.00 of rate)",
              {{"Call rho", &c.call_rho}, {"Put rho", &c.put_rho}}};
  }
  return {};
}

// The y range of every curve of a chart, padded so no curve runs along the frame; never below 0
// when no curve is (a value, gamma or vega has no use for negative ticks).
std::pair<double, double> RangeOf(std::initializer_list<const std::vector<double>*> curves) {
  double low = 0, high = 0;
  bool first = true;
  for (const auto* curve : curves) {
    for (const double v : *curve) {
      if (!std::isfinite(v)) continue;
      low = first ? v : std::min(low, v);
      high = first ? v : std::max(high, v);
      first = false;
    }
  }
  const double pad = high > low ? (high - low) * 0.05 : std::max(std::abs(high) * 0.05, 0.5);
  return {low >= 0 ? std::max(low - pad, 0.0) : low - pad, high + pad};
}

QChartView* MakeView(QWidget* parent) {
  auto* view = new QChartView(new QChart, parent);
  view->setRenderHint(QPainter::Antialiasing);
  // The pricing tab keeps deciding the window's size.
  view->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
  // At the right, one name a line: a legend below the plot puts every name on one line and
  // cuts them all to "..." when they do not fit.
  view->chart()->legend()->setAlignment(Qt::AlignRight);
  return view;
}

}  // namespace

ChartPanel::ChartPanel(QWidget* parent) : QWidget(parent) {
  caption_ = new QLabel(this);
  caption_->setObjectName("lblChartCaption");
  caption_->setWordWrap(true);
  caption_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  chart_ = new QComboBox(this);
  chart_->setObjectName("cmbChart");
  chart_->addItems({"Value by price", "Greek by price", "Value by time"});
  chart_->setToolTip(
      "The chart shown: the options' values or a Greek against the underlying's price, or the "
      "values against the days to expiry");
  greek_ = new QComboBox(this);
  greek_->setObjectName("cmbGreek");
  greek_->addItems({"Delta", "Gamma", "Theta", "Vega", "Rho"});
  greek_->setToolTip("The Greek drawn against the underlying's price");
  save_png_ = new QPushButton("Save PNG...", this);
  save_png_->setObjectName("cmdSavePng");
  save_png_->setToolTip("Save the three charts as one PNG image");
  save_csv_ = new QPushButton("Save CSV...", this);
  save_csv_->setObjectName("cmdSaveCsv");
  save_csv_->setToolTip("Save every curve's points as CSV");
  copy_ = new QPushButton("Copy", this);
  copy_->setObjectName("cmdCopyCharts");
  copy_->setToolTip("Copy the charts (image) and the curves (CSV text) to the clipboard");
  point_ = new QLabel(this);
  point_->setObjectName("lblChartPoint");
  point_->setTextInteractionFlags(Qt::TextSelectableByMouse);

  area_ = new QStackedWidget(this);
  value_view_ = MakeView(area_);
  value_view_->setObjectName("chtValue");
  greek_view_ = MakeView(area_);
  greek_view_->setObjectName("chtGreek");
  time_view_ = MakeView(area_);
  time_view_->setObjectName("chtTime");
  area_->addWidget(value_view_);  // in the order of Chart
  area_->addWidget(greek_view_);
  area_->addWidget(time_view_);
  area_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);

  auto* tools = new QHBoxLayout;
  tools->addWidget(new QLabel("Chart:", this));
  tools->addWidget(chart_);
  tools->addWidget(new QLabel("Greek:", this));
  tools->addWidget(greek_);
  tools->addStretch();
  tools->addWidget(save_png_);
  tools->addWidget(save_csv_);
  tools->addWidget(copy_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(caption_);
  layout->addLayout(tools);
  layout->addWidget(area_, 1);
  layout->addWidget(point_);

  connect(chart_, &QComboBox::currentIndexChanged, area_, &QStackedWidget::setCurrentIndex);
  connect(greek_, &QComboBox::currentIndexChanged, this, [this] { DrawGreekChart(); });
  // A Greek picked by the user is one to look at.
  connect(greek_, &QComboBox::activated, this, [this] { SelectChart(Chart::kGreek); });
  connect(save_png_, &QPushButton::clicked, this, [this] { SaveWithDialog(true); });
  connect(save_csv_, &QPushButton::clicked, this, [this] { SaveWithDialog(false); });
  connect(copy_, &QPushButton::clicked, this, [this] { CopyToClipboard(); });
  ApplyPalette();
  Redraw();
}

void ChartPanel::ShowCurves(const ChartCurves& curves) {
  curves_ = curves;
  Redraw();
}

void ChartPanel::SelectGreek(Greek greek) { greek_->setCurrentIndex(static_cast<int>(greek)); }

void ChartPanel::SelectChart(Chart chart) { chart_->setCurrentIndex(static_cast<int>(chart)); }

Chart ChartPanel::shown() const { return static_cast<Chart>(std::max(chart_->currentIndex(), 0)); }

void ChartPanel::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::PaletteChange) {
    ApplyPalette();
    Redraw();
  }
}

void ChartPanel::ApplyPalette() {
  dark_ = palette().color(QPalette::Window).lightness() < 128;
  for (QChartView* view : {value_view_, greek_view_, time_view_}) {
    view->chart()->setTheme(dark_ ? QChart::ChartThemeDark : QChart::ChartThemeLight);
  }
}

void ChartPanel::Redraw() {
  const bool have = curves_.has_value();
  save_png_->setEnabled(have);
  save_csv_->setEnabled(have);
  copy_->setEnabled(have);
  point_->clear();
  if (!have) {
    caption_->setText("No curves yet: press Calculate on the Option Pricing tab.");
  } else {
    const ModelInputs& in = curves_->inputs;
    caption_->setText(
        QString("Curves of the last computed run: price %1, exercise price %2, interest rate "
                "%3 %, volatility %4 %, dividend rate %5, %6 days to expiry, %7.")
            .arg(Number(in.spot), Number(in.strike), Number(in.rate * 100), Number(in.vol * 100),
                 Number(in.dividend), QString::number(in.days),
                 QString::fromStdString(ModelDescription(in))));
  }
  DrawValueChart();
  DrawGreekChart();
  DrawTimeChart();
}

QLineSeries* ChartPanel::AddCurve(QChart& chart, const QString& name, const std::vector<double>& x,
                                  const std::vector<double>& y, int colour, Qt::PenStyle style) {
  auto* series = new QLineSeries(&chart);
  series->setName(name);
  QList<QPointF> points;
  for (std::size_t i = 0; i < x.size() && i < y.size(); ++i) points.append({x[i], y[i]});
  series->replace(points);
  const QColor colours[] = {dark_ ? QColor(0x6c, 0xb6, 0xff) : QColor(0x1f, 0x5f, 0xb4),
                            dark_ ? QColor(0xff, 0x9b, 0x6a) : QColor(0xc8, 0x3a, 0x1e),
                            dark_ ? QColor(0x7e, 0xe7, 0x87) : QColor(0x1a, 0x7f, 0x37)};
  QPen pen(colours[colour]);
  pen.setWidthF(style == Qt::SolidLine ? 2.0 : 1.6);
  pen.setStyle(style);
  series->setPen(pen);
  chart.addSeries(series);
  connect(series, &QLineSeries::hovered, this,
          [this, series](const QPointF& at, bool entered) { ShowPoint(series, at, entered); });
  return series;
}

void ChartPanel::AddMarker(QChart& chart, const QString& name, double x,
                           std::pair<QValueAxis*, QValueAxis*> axes) {
  auto* line = new QLineSeries(&chart);
  line->setName(name);
  line->append(x, axes.second->min());
  line->append(x, axes.second->max());
  QColor colour = palette().color(QPalette::WindowText);
  colour.setAlpha(150);
  QPen pen(colour);
  pen.setStyle(name.startsWith("Exercise") ? Qt::DotLine : Qt::DashDotLine);
  pen.setWidthF(1.2);
  line->setPen(pen);
  chart.addSeries(line);
  line->attachAxis(axes.first);
  line->attachAxis(axes.second);
}

namespace {

void ResetChart(QChart& chart, const QString& title) {
  chart.removeAllSeries();
  for (QAbstractAxis* axis : chart.axes()) {
    chart.removeAxis(axis);
    delete axis;
  }
  chart.setTitle(title);
}

// Round bounds around [low, high] and a tick step of 1, 2, 2.5 or 5 times a power of ten, with
// at most six intervals: Qt's own rounding turns a delta from -1 to 1 into -2 to 2.
struct Ticks {
  double min, max;
  int count;
};

Ticks RoundTicks(double low, double high) {
  constexpr int kMaxIntervals = 6;
  if (!(high > low)) return {low, low + 1, 2};
  const double magnitude = std::pow(10.0, std::floor(std::log10((high - low) / kMaxIntervals)));
  for (const double m : {1.0, 2.0, 2.5, 5.0, 10.0, 20.0}) {
    const double step = m * magnitude;
    const double min = std::floor(low / step), max = std::ceil(high / step);
    if (max - min <= kMaxIntervals) {
      return {min * step, max * step, static_cast<int>(max - min) + 1};
    }
  }
  return {low, high, kMaxIntervals + 1};
}

// Axes with round tick values; every series so far is attached to them.
std::pair<QValueAxis*, QValueAxis*> AttachAxes(QChart& chart, const QString& x_title,
                                               std::pair<double, double> x_range,
                                               const QString& y_title,
                                               std::pair<double, double> y_range, bool reverse_x) {
  auto make = [&](const QString& title, std::pair<double, double> range, bool nice) {
    auto* axis = new QValueAxis(&chart);
    axis->setTitleText(title);
    QFont font = axis->titleFont();
    font.setPointSizeF(font.pointSizeF() * 0.9);
    axis->setTitleFont(font);
    const Ticks ticks = nice ? RoundTicks(range.first, range.second)
                             : Ticks{range.first, range.second, 7};
    axis->setRange(ticks.min, ticks.max);
    axis->setTickCount(ticks.count);
    axis->setLabelFormat("%.4g");
    return axis;
  };
  // Days to expiry keep their exact span: the curve starts at the run's own day count.
  QValueAxis* x = make(x_title, x_range, !reverse_x);
  x->setReverse(reverse_x);
  if (reverse_x) x->setLabelFormat("%.0f");
  QValueAxis* y = make(y_title, y_range, true);
  chart.addAxis(x, Qt::AlignBottom);
  chart.addAxis(y, Qt::AlignLeft);
  for (QAbstractSeries* series : chart.series()) {
    series->attachAxis(x);
    series->attachAxis(y);
  }
  return {x, y};
}

}  // namespace

void ChartPanel::DrawValueChart() {
  QChart& chart = *value_view_->chart();
  ResetChart(chart, "Value against the underlying's price");
  if (!curves_) return;
  const ChartCurves& c = *curves_;
  AddCurve(chart, "Call", c.spots, c.call_value, kCall, Qt::SolidLine);
  AddCurve(chart, "Put", c.spots, c.put_value, kPut, Qt::SolidLine);
  AddCurve(chart, "Call at expiry", c.spots, c.call_payoff, kCall, Qt::DashLine);
  AddCurve(chart, "Put at expiry", c.spots, c.put_payoff, kPut, Qt::DashLine);
  const auto axes = AttachAxes(
      chart, "Underlying price (currency units)", {c.spots.front(), c.spots.back()},
      "Value (currency units)",
      RangeOf({&c.call_value, &c.put_value, &c.call_payoff, &c.put_payoff}), false);
  AddMarker(chart, "Exercise price", c.inputs.strike, axes);
  AddMarker(chart, "Current price", c.inputs.spot, axes);
}

void ChartPanel::DrawGreekChart() {
  QChart& chart = *greek_view_->chart();
  const auto greek = static_cast<Greek>(std::max(greek_->currentIndex(), 0));
  ResetChart(chart, greek_->currentText() + " against the underlying's price");
  if (!curves_) return;
  const ChartCurves& c = *curves_;
  const GreekCurves g = CurvesOf(greek, c);
  for (std::size_t i = 0; i < g.curves.size(); ++i) {
    const int colour = g.curves.size() == 1 ? kOther : static_cast<int>(i);
    AddCurve(chart, g.curves[i].first, c.spots, *g.curves[i].second, colour, Qt::SolidLine);
  }
  const auto y = g.curves.size() == 1 ? RangeOf({g.curves[0].second})
                                      : RangeOf({g.curves[0].second, g.curves[1].second});
  const auto axes = AttachAxes(chart, "Underlying price (currency units)",
                               {c.spots.front(), c.spots.back()}, g.label, y, false);
  AddMarker(chart, "Exercise price", c.inputs.strike, axes);
  AddMarker(chart, "Current price", c.inputs.spot, axes);
}

void ChartPanel::DrawTimeChart() {
  QChart& chart = *time_view_->chart();
  ResetChart(chart, "Value against the days to expiry, at the current price");
  if (!curves_) return;
  const ChartCurves& c = *curves_;
  AddCurve(chart, "Call", c.days, c.call_by_time, kCall, Qt::SolidLine);
  AddCurve(chart, "Put", c.days, c.put_by_time, kPut, Qt::SolidLine);
  const double longest = c.days.empty() ? 1.0 : std::max(c.days.front(), 1e-9);
  AttachAxes(chart, "Calendar days to expiry (expiry at the right)", {0.0, longest},
             "Value (currency units)", RangeOf({&c.call_by_time, &c.put_by_time}), true);
}

void ChartPanel::ShowPoint(QLineSeries* series, const QPointF& at, bool entered) {
  if (!entered || series->count() == 0) {
    QToolTip::hideText();
    return;
  }
  // The signal gives the position on the line; the nearest computed point is what is shown.
  const QList<QPointF> points = series->points();
  const auto nearest = std::min_element(points.begin(), points.end(), [&](auto& a, auto& b) {
    return std::abs(a.x() - at.x()) < std::abs(b.x() - at.x());
  });
  const bool by_time = series->chart() == time_view_->chart();
  const QString text = QString("%1: %2 %3, %4 %5")
                           .arg(series->name(), by_time ? "days to expiry" : "underlying",
                                QString::number(nearest->x(), 'f', by_time ? 1 : 2),
                                series->chart() == greek_view_->chart() ? "value" : "option value",
                                QString::number(nearest->y(), 'f', 4));
  point_->setText(text);
  QToolTip::showText(QCursor::pos(), text, this);
}

QImage ChartPanel::Image() const {
  // The size a chart has in a full-screen window: the image does not depend on the window's.
  constexpr QSize kEach(960, 540);
  QImage image(kEach.width(), kEach.height() * 3, QImage::Format_RGB32);
  image.fill(palette().color(QPalette::Window));
  QPainter painter(&image);
  int top = 0;
  for (QChartView* view : {value_view_, greek_view_, time_view_}) {
    const QSize size = view->size();
    view->resize(kEach);
    painter.drawPixmap(0, top, view->grab());
    view->resize(size);
    top += kEach.height();
  }
  return image;
}

bool ChartPanel::SavePng(const QString& path) const {
  if (!curves_) return false;
  return Image().save(path, "PNG");
}

bool ChartPanel::SaveCsv(const QString& path) const {
  if (!curves_) return false;
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  const std::string csv = CurvesCsv(*curves_);
  return file.write(csv.data(), static_cast<qint64>(csv.size())) ==
             static_cast<qint64>(csv.size()) &&
         file.flush();
}

void ChartPanel::CopyToClipboard() const {
  if (!curves_) return;
  auto* data = new QMimeData;
  data->setImageData(Image());
  data->setText(QString::fromStdString(CurvesCsv(*curves_)));
  QApplication::clipboard()->setMimeData(data);
}

void ChartPanel::SaveWithDialog(bool png) {
  const QString path =
      png ? QFileDialog::getSaveFileName(this, "Save the charts", "option-charts.png",
                                         "PNG images (*.png)")
          : QFileDialog::getSaveFileName(this, "Save the curves", "option-curves.csv",
                                         "CSV files (*.csv)");
  if (path.isEmpty()) return;
  if (!(png ? SavePng(path) : SaveCsv(path))) {
    QMessageBox::warning(this, "Charts", "Could not write " + path + ".");
  }
}

}  // namespace kx::calculator
