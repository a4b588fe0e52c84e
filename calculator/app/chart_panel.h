#pragma once
// The Charts tab: draws the curves lanternell_core computed, with Qt Charts, and exports them.
#include <QWidget>
#include <optional>

#include "kx/calculator/curves.h"

class QChart;
class QChartView;
class QComboBox;
class QLabel;
class QLineSeries;
class QPushButton;
class QValueAxis;

namespace kx::calculator {

enum class Greek { kDelta = 0, kGamma, kTheta, kVega, kRho };  // the selector's order

class ChartPanel final : public QWidget {
  Q_OBJECT

 public:
  explicit ChartPanel(QWidget* parent = nullptr);

  // Replaces the drawn curves; until the first call the charts are empty.
  void ShowCurves(const ChartCurves& curves);
  [[nodiscard]] const std::optional<ChartCurves>& curves() const noexcept { return curves_; }
  void SelectGreek(Greek greek);

  // The three charts as one image, and the curves as CSV; false when there are no curves yet
  // or the file cannot be written.
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
  void DrawValueChart();
  void DrawGreekChart();
  void DrawTimeChart();
  QLineSeries* AddCurve(QChart& chart, const QString& name, const std::vector<double>& x,
                        const std::vector<double>& y, int colour, Qt::PenStyle style);
  void AddMarker(QChart& chart, const QString& name, double x,
                 std::pair<QValueAxis*, QValueAxis*> axes);
  void ShowPoint(QLineSeries* series, const QPointF& at, bool entered);
  void SaveWithDialog(bool png);

  std::optional<ChartCurves> curves_;
  QLabel* caption_;
  QLabel* point_;
  QComboBox* greek_;
  QPushButton* save_png_;
  QPushButton* save_csv_;
  QPushButton* copy_;
  QWidget* area_;
  QChartView* value_view_;
  QChartView* greek_view_;
  QChartView* time_view_;
  bool dark_ = false;
};

}  // namespace kx::calculator
