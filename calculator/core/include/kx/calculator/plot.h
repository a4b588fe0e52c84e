#pragma once
// What each chart of the Charts tab shows: its title, axes with round ticks, curves and marker
// lines, with their names. Both windows draw from this, each with its own toolkit.
#include <array>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kx/calculator/curves.h"

namespace kx::calculator {

enum class Greek { kDelta = 0, kGamma, kTheta, kVega, kRho };  // the Greek selector's order
enum class Chart { kValue = 0, kGreek, kTime };                // the chart selector's order

inline constexpr std::array<std::string_view, 3> kChartNames = {"Value by price", "Greek by price",
                                                                "Value by time"};
inline constexpr std::array<std::string_view, 5> kGreekNames = {"Delta", "Gamma", "Theta", "Vega",
                                                                "Rho"};

// Axis bounds and the number of ticks from bound to bound, both included.
struct Ticks {
  double min = 0, max = 1;
  int count = 2;
};

// Round bounds around [low, high] and a tick step of 1, 2, 2.5 or 5 times a power of ten, with
// at most six intervals (a delta from -1 to 1 keeps those bounds).
[[nodiscard]] Ticks RoundTicks(double low, double high);

// The y range of every curve of a chart, padded so no curve runs along the frame; never below 0
// when no curve is (a value, gamma or vega has no use for negative ticks).
[[nodiscard]] std::pair<double, double> RangeOf(
    std::initializer_list<const std::vector<double>*> curves);

struct PlotAxis {
  std::string title;
  Ticks ticks;
  bool reverse = false;      // days to expiry run down to 0 at the right
  const char* label_format;  // printf format of a tick's value
};

enum class PlotColour { kCall = 0, kPut, kOther };

struct PlotCurve {
  std::string name;
  const std::vector<double>* x;
  const std::vector<double>* y;
  PlotColour colour;
  bool dashed;  // the payoff at expiry
};

struct PlotMarker {  // a vertical line across the plot
  std::string name;
  double x;
  bool dotted;  // the exercise price; the current price is dash-dotted
};

struct Plot {
  std::string title;
  PlotAxis x, y;
  std::vector<PlotCurve> curves;  // pointing into the ChartCurves given
  std::vector<PlotMarker> markers;
};

// The chart `chart` (with `greek` for the Greek chart) of `curves`; without curves, only its
// title. The plot points into `curves`, which must outlive it.
[[nodiscard]] Plot PlotOf(Chart chart, Greek greek, const ChartCurves* curves);

// A tick's label as the axis writes it.
[[nodiscard]] std::string TickLabel(const PlotAxis& axis, double value);
// The value at tick `i` of `axis` (0 at its min).
[[nodiscard]] double TickValue(const Ticks& ticks, int i) noexcept;

// The point of a curve under the pointer, in words: "Call: underlying 100.00, option value
// 10.4506" (days to expiry with one decimal; a Greek's "value").
[[nodiscard]] std::string PointText(Chart chart, std::string_view curve, double x, double y);

// The caption above the charts: the run the curves belong to, or how to get some.
[[nodiscard]] std::string ChartCaption(const ChartCurves* curves);

}  // namespace kx::calculator
