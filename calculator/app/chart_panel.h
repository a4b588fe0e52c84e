#pragma once
// The Charts tab: draws the curves lanternell_core computed, with Qt Charts, and exports them.
// One chart at a time fills the tab, chosen by a selector, so that its tick labels, legend and
// title stay readable down to the window's smallest size.
#include <QWidget>
#include <optional>

#include "kx/calculator/plot.h"

class QChart;
class QChartView;
class QComboBox;
class QLabel;
class QLineSeries;
class QPushButton;
class QStackedWidget;
class QValueAxis;

namespace kx::calculator {

class ChartPanel final : public QWidget {
  Q_OBJECT

 public:
  explicit ChartPanel(QWidget* parent = nullptr);

  // Replaces the drawn curves; until the first call the charts are empty.
  void ShowCurves(const ChartCurves& curves);
  [[nodiscard]] const std::optional<ChartCurves>& curves() const noexcept { return curves_; }
  void SelectGreek(Greek greek);
  // The chart shown; choosing a Greek from the Greek list also shows the Greek chart.
  void SelectChart(Chart chart);
  [[nodiscard]] Chart shown() const;

  // The three charts as one image (each drawn at a fixed export size, whatever the window's),
  // and the curves as CSV; false when there are no curves yet or the file cannot be written.
  [[nodiscard]] bool SavePng(const QString& path) const;
  [[nodiscard]] bool SaveCsv(const QString& path) const;
  // The image and the CSV text together, for pasting into a document or a spreadsheet.
  void CopyToClipboard() const;
  [[nodiscard]] QImage Image() const;
  [[nodiscard]] bool dark() const noexcept { return dark_; }

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void Redraw();
  void ApplyPalette();
  void DrawChart(Chart which);
  QLineSeries* AddCurve(QChart& chart, const PlotCurve& curve);
  void AddMarker(QChart& chart, const PlotMarker& marker, std::pair<QValueAxis*, QValueAxis*> axes);
  void ShowPoint(QLineSeries* series, const QPointF& at, bool entered);
  void SaveWithDialog(bool png);

  std::optional<ChartCurves> curves_;
  QLabel* caption_;
  QLabel* point_;
  QComboBox* chart_;
  QComboBox* greek_;
  QPushButton* save_png_;
  QPushButton* save_csv_;
  QPushButton* copy_;
  QStackedWidget* area_;
  QChartView* value_view_;
  QChartView* greek_view_;
  QChartView* time_view_;
  bool dark_ = false;
};

}  // namespace kx::calculator
