#include "kx/calculator/curves.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace kx::calculator {

using namespace kx::platform;

int CurvePoints(const ModelInputs& in) noexcept {
  if (in.method != PricingMethod::kBinomial) return 61;
  return in.steps > 1000 ? 21 : 41;
}

SpotRange ChooseSpotRange(const ModelInputs& in) noexcept {
  constexpr double kMinWidth = 0.1, kMaxWidth = 2.5;
  const double width = std::clamp(3.0 * in.vol * std::sqrt(std::max(in.time, 0.0)), kMinWidth,
                                  kMaxWidth);
  return {std::min(in.spot, in.strike) * std::exp(-width),
          std::max(in.spot, in.strike) * std::exp(width)};
}

std::vector<double> LinearGrid(double low, double high, int points) {
  std::vector<double> grid;
  if (points < 2) return grid;
  grid.reserve(static_cast<std::size_t>(points));
  const double step = (high - low) / (points - 1);
  for (int i = 0; i < points - 1; ++i) grid.push_back(low + step * i);
  grid.push_back(high);  // exactly, whatever the rounding of the steps
  return grid;
}

bool ComputeCurves(const ModelInputs& in, OptionsControl& ctl, ChartCurves& out,
                   CurveFailure& failure) {
  ChartCurves c;
  c.inputs = in;
  const int points = CurvePoints(in);
  const SpotRange range = ChooseSpotRange(in);
  c.spots = LinearGrid(range.low, range.high, points);

  auto price_at = [&](double spot, double time, CalcResults& r) {
    ModelInputs at = in;
    at.spot = spot;
    at.time = time;
    DISPID failed = 0;
    if (const HRESULT hr = PriceAndGreeks(ctl, at, r, failed); FAILED(hr)) {
      failure = {failed, hr, ctl.LastError()};
      return false;
    }
    return true;
  };

  for (const double spot : c.spots) {
    CalcResults r;
    if (!price_at(spot, in.time, r)) return false;
    c.call_value.push_back(r.call_price);
    c.put_value.push_back(r.put_price);
    c.call_payoff.push_back(CallPayoff(spot, in.strike));
    c.put_payoff.push_back(PutPayoff(spot, in.strike));
    c.call_delta.push_back(r.call_delta);
    c.put_delta.push_back(r.put_delta);
    c.gamma.push_back(r.gamma);
    c.call_theta.push_back(r.call_theta);
    c.put_theta.push_back(r.put_theta);
    c.vega.push_back(r.vega);
    c.call_rho.push_back(r.call_rho);
    c.put_rho.push_back(r.put_rho);
  }

  // From the run's time to expiry down to the last point before it; the payoff closes the curve.
  const int time_points = points;
  for (int i = 0; i < time_points - 1; ++i) {
    const double time =
        in.time * (static_cast<double>(time_points - 1 - i) / (time_points - 1));
    CalcResults r;
    if (!price_at(in.spot, time, r)) return false;
    c.years.push_back(time);
    c.days.push_back(time * 365.0);
    c.call_by_time.push_back(r.call_price);
    c.put_by_time.push_back(r.put_price);
  }
  c.years.push_back(0.0);
  c.days.push_back(0.0);
  c.call_by_time.push_back(CallPayoff(in.spot, in.strike));
  c.put_by_time.push_back(PutPayoff(in.spot, in.strike));

  out = std::move(c);
  return true;
}

namespace {

void Append(std::string& text, double value) {
  char buffer[32];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  text.append(buffer, ec == std::errc{} ? end : buffer);
}

void AppendRow(std::string& text, std::initializer_list<double> values) {
  bool first = true;
  for (const double v : values) {
    if (!first) text += ',';
    first = false;
    Append(text, v);
  }
  text += '\n';
}

}  // namespace

std::string CurvesCsv(const ChartCurves& c) {
  std::string text =
      "underlying,call_value,put_value,call_payoff,put_payoff,call_delta,put_delta,gamma,"
      "call_theta,put_theta,vega,call_rho,put_rho\n";
  for (std::size_t i = 0; i < c.spots.size(); ++i) {
    AppendRow(text, {c.spots[i], c.call_value[i], c.put_value[i], c.call_payoff[i],
                     c.put_payoff[i], c.call_delta[i], c.put_delta[i], c.gamma[i],
                     c.call_theta[i], c.put_theta[i], c.vega[i], c.call_rho[i], c.put_rho[i]});
  }
  text += "\ndays_to_expiry,years_to_expiry,call_value,put_value\n";
  for (std::size_t i = 0; i < c.days.size(); ++i) {
    AppendRow(text, {c.days[i], c.years[i], c.call_by_time[i], c.put_by_time[i]});
  }
  return text;
}

}  // namespace kx::calculator
