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

QString Q(const std::string& text) { return QString::fromStdString(text); }

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
  for (const std::string_view name : kChartNames) chart_->addItem(Q(std::string(name)));
  chart_->setToolTip(
      "The chart shown: the options' values or a Greek against the underlying's price, or the "
      "values against the days to expiry");
  greek_ = new QComboBox(this);
  greek_->setObjectName("cmbGreek");
  for (const std::string_view name : kGreekNames) greek_->addItem(Q(std::string(name)));
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
  connect(greek_, &QComboBox::currentIndexChanged, this, [this] { DrawChart(Chart::kGreek); });
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
  caption_->setText(Q(ChartCaption(have ? &*curves_ : nullptr)));
  DrawChart(Chart::kValue);
  DrawChart(Chart::kGreek);
  DrawChart(Chart::kTime);
}

QLineSeries* ChartPanel::AddCurve(QChart& chart, const PlotCurve& curve) {
  const QString name = Q(curve.name);
  const std::vector<double>& x = *curve.x;
  const std::vector<double>& y = *curve.y;
  const int colour = static_cast<int>(curve.colour);
  const Qt::PenStyle style = curve.dashed ? Qt::DashLine : Qt::SolidLine;
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

void ChartPanel::AddMarker(QChart& chart, const PlotMarker& marker,
                           std::pair<QValueAxis*, QValueAxis*> axes) {
  auto* line = new QLineSeries(&chart);
  line->setName(Q(marker.name));
  line->append(marker.x, axes.second->min());
  line->append(marker.x, axes.second->max());
  QColor colour = palette().color(QPalette::WindowText);
  colour.setAlpha(150);
  QPen pen(colour);
  pen.setStyle(marker.dotted ? Qt::DotLine : Qt::DashDotLine);
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

// The plot's axes; every series so far is attached to them.
std::pair<QValueAxis*, QValueAxis*> AttachAxes(QChart& chart, const Plot& plot) {
  auto make = [&](const PlotAxis& from) {
    auto* axis = new QValueAxis(&chart);
    axis->setTitleText(Q(from.title));
    QFont font = axis->titleFont();
    font.setPointSizeF(font.pointSizeF() * 0.9);
    axis->setTitleFont(font);
    axis->setRange(from.ticks.min, from.ticks.max);
    axis->setTickCount(from.ticks.count);
    axis->setLabelFormat(from.label_format);
    axis->setReverse(from.reverse);
    return axis;
  };
  QValueAxis* x = make(plot.x);
  QValueAxis* y = make(plot.y);
  chart.addAxis(x, Qt::AlignBottom);
  chart.addAxis(y, Qt::AlignLeft);
  for (QAbstractSeries* series : chart.series()) {
    series->attachAxis(x);
    series->attachAxis(y);
  }
  return {x, y};
}

}  // namespace

void ChartPanel::DrawChart(Chart which) {
  QChartView* const views[] = {value_view_, greek_view_, time_view_};  // in the order of Chart
  QChart& chart = *views[static_cast<int>(which)]->chart();
  const auto greek = static_cast<Greek>(std::max(greek_->currentIndex(), 0));
  const Plot plot = PlotOf(which, greek, curves_ ? &*curves_ : nullptr);
  ResetChart(chart, Q(plot.title));
  if (!curves_) return;
  for (const PlotCurve& curve : plot.curves) AddCurve(chart, curve);
  const auto axes = AttachAxes(chart, plot);
  for (const PlotMarker& marker : plot.markers) AddMarker(chart, marker, axes);
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
  const Chart chart = series->chart() == time_view_->chart()    ? Chart::kTime
                      : series->chart() == greek_view_->chart() ? Chart::kGreek
                                                                : Chart::kValue;
  const QString text =
      Q(PointText(chart, series->name().toStdString(), nearest->x(), nearest->y()));
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
  const QString path = png ? QFileDialog::getSaveFileName(this, "Save the charts",
                                                          "option-charts.png", "PNG images (*.png)")
                           : QFileDialog::getSaveFileName(this, "Save the curves",
                                                          "option-curves.csv", "CSV files (*.csv)");
  if (path.isEmpty()) return;
  if (!(png ? SavePng(path) : SaveCsv(path))) {
    QMessageBox::warning(this, "Charts", "Could not write " + path + ".");
  }
}

}  // namespace kx::calculator
