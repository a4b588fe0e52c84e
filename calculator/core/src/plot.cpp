#include "kx/calculator/plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "kx/calculator/status.h"

namespace kx::calculator {

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

namespace {

constexpr char kPriceAxis[] = "Underlying price (currency units)";
constexpr char kValueAxis[] = "Value (currency units)";

PlotAxis Axis(std::string title, std::pair<double, double> range, bool round) {
  return {std::move(title),
          round ? RoundTicks(range.first, range.second) : Ticks{range.first, range.second, 7},
          false, "%.4g"};
}

void AddMarkers(Plot& plot, const ModelInputs& in) {
  plot.markers = {{"Exercise price", in.strike, true}, {"Current price", in.spot, false}};
}

}  // namespace

Plot PlotOf(Chart chart, Greek greek, const ChartCurves* curves) {
  Plot plot;
  switch (chart) {
    case Chart::kValue:
      plot.title = "Value against the underlying's price";
      break;
    case Chart::kGreek:
      plot.title =
          std::string(kGreekNames[static_cast<int>(greek)]) + " against the underlying's price";
      break;
    case Chart::kTime:
      plot.title = "Value against the days to expiry, at the current price";
      break;
  }
  if (curves == nullptr) return plot;
  const ChartCurves& c = *curves;
  const std::pair<double, double> spots{c.spots.front(), c.spots.back()};
  using enum PlotColour;
  if (chart == Chart::kValue) {
    plot.curves = {{"Call", &c.spots, &c.call_value, kCall, false},
                   {"Put", &c.spots, &c.put_value, kPut, false},
                   {"Call at expiry", &c.spots, &c.call_payoff, kCall, true},
                   {"Put at expiry", &c.spots, &c.put_payoff, kPut, true}};
    plot.x = Axis(kPriceAxis, spots, true);
    plot.y = Axis(kValueAxis, RangeOf({&c.call_value, &c.put_value, &c.call_payoff, &c.put_payoff}),
                  true);
    AddMarkers(plot, c.inputs);
  } else if (chart == Chart::kGreek) {
    // Per Greek in the selector's order: the y axis, then the call's and the put's curve, or
    // the one curve both share.
    using Curve = std::vector<double> ChartCurves::*;
    static constexpr struct {
      const char* label;
      const char* names[2];
      Curve curves[2];
    } kGreeks[] = {
        {"Delta (per 1.00 of price)",
         {"Call delta", "Put delta"},
         {&ChartCurves::call_delta, &ChartCurves::put_delta}},
        {"Gamma (per 1.00 of price)", {"Gamma", nullptr}, {&ChartCurves::gamma, nullptr}},
        {"Theta (per year)",
         {"Call theta", "Put theta"},
         {&ChartCurves::call_theta, &ChartCurves::put_theta}},
        {"Vega (per 1.00 of vol.)", {"Vega", nullptr}, {&ChartCurves::vega, nullptr}},
        {"Rho (per 1.00 of rate)",
         {"Call rho", "Put rho"},
         {&ChartCurves::call_rho, &ChartCurves::put_rho}}};
    const auto& g = kGreeks[static_cast<int>(greek)];
    if (g.curves[1] == nullptr) {
      plot.curves = {{g.names[0], &c.spots, &(c.*g.curves[0]), kOther, false}};
      plot.y = Axis(g.label, RangeOf({&(c.*g.curves[0])}), true);
    } else {
      plot.curves = {{g.names[0], &c.spots, &(c.*g.curves[0]), kCall, false},
                     {g.names[1], &c.spots, &(c.*g.curves[1]), kPut, false}};
      plot.y = Axis(g.label, RangeOf({&(c.*g.curves[0]), &(c.*g.curves[1])}), true);
    }
    plot.x = Axis(kPriceAxis, spots, true);
    AddMarkers(plot, c.inputs);
  } else {
    plot.curves = {{"Call", &c.days, &c.call_by_time, kCall, false},
                   {"Put", &c.days, &c.put_by_time, kPut, false}};
    // Days to expiry keep their exact span: the curve starts at the run's own day count.
    const double longest = c.days.empty() ? 1.0 : std::max(c.days.front(), 1e-9);
    plot.x = Axis("Calendar days to expiry (expiry at the right)", {0.0, longest}, false);
    plot.x.reverse = true;
    plot.x.label_format = "%.0f";
    plot.y = Axis(kValueAxis, RangeOf({&c.call_by_time, &c.put_by_time}), true);
  }
  return plot;
}

double TickValue(const Ticks& ticks, int i) noexcept {
  return ticks.min + (ticks.max - ticks.min) * i / std::max(ticks.count - 1, 1);
}

std::string TickLabel(const PlotAxis& axis, double value) {
  if (std::abs(value) < 1e-12 * std::max(std::abs(axis.ticks.min), std::abs(axis.ticks.max))) {
    value = 0;  // no "-0" or "1e-17" where the axis crosses zero
  }
  char text[32];
  std::snprintf(text, sizeof text, axis.label_format, value);
  return text;
}

std::string PointText(Chart chart, std::string_view curve, double x, double y) {
  char text[160];
  std::snprintf(text, sizeof text, "%.*s: %s %.*f, %s %.4f", static_cast<int>(curve.size()),
                curve.data(), chart == Chart::kTime ? "days to expiry" : "underlying",
                chart == Chart::kTime ? 1 : 2, x, chart == Chart::kGreek ? "value" : "option value",
                y);
  return text;
}

std::string ChartCaption(const ChartCurves* curves) {
  if (curves == nullptr) return "No curves yet: press Calculate on the Option Pricing tab.";
  const ModelInputs& in = curves->inputs;
  char text[512];
  std::snprintf(text, sizeof text,
                "Curves of the last computed run: price %.10g, exercise price %.10g, interest "
                "rate %.10g %%, volatility %.10g %%, dividend rate %.10g, %d days to expiry, %s.",
                in.spot, in.strike, in.rate * 100, in.vol * 100, in.dividend, in.days,
                ModelDescription(in).c_str());
  return text;
}

}  // namespace kx::calculator
