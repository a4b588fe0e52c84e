// korvanex._native.models: the pricing families over numpy arrays. Every element goes through the
// same argument tests, input adjustments and model functions as the component's method for it, so
// it is the same double; this file only walks the broadcast arrays and shares the elements out
// over threads. Python (korvanex/models.py) broadcasts, converts and names things.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <exception>
#include <limits>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "bindings.h"
#include "error_table.h"
#include "kx/models/argument_checks.h"
#include "kx/models/binomial.h"
#include "kx/models/bjerksund_stensland.h"
#include "kx/models/black_scholes.h"
#include "kx/models/black_scholes_search.h"
#include "kx/models/common.h"
#include "kx/models/historical_volatility.h"
#include "kx/models/implied_volatility.h"
#include "models_engine.h"

namespace kx::python {

namespace py = pybind11;
using namespace kx::models;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// The implied-volatility methods test their other inputs with this volatility.
constexpr double kSearchVolatility = 0.1;
// The Black-Scholes methods price a stock with a dividend yield and no foreign rate.
constexpr std::int32_t kBsModel = kModelDividendYield;
constexpr double kBsForeignRate = 0.0;

// Elements per scheduling unit: enough closed forms to hide the shared counter, one tree each.
constexpr std::size_t kClosedFormChunk = 2048;
constexpr std::size_t kSearchChunk = 64;
constexpr std::size_t kTreeChunk = 1;

// Element checks beyond ArgumentCheck (which fills 0-14).
constexpr std::uint8_t kTargetNotANumber = 32;
constexpr std::uint8_t kNotComputableOutput = 33;
constexpr std::uint8_t kBadTradingDays = 34;
constexpr std::uint8_t kTooFewPrices = 35;

constexpr std::int32_t kMinTradingDays = 1;
constexpr std::int32_t kMaxTradingDays = 367;
constexpr std::size_t kMinPrices = 3;

enum class Family {
  kBsPrice,
  kBsGreeks,
  kBsImpliedVol,
  kBinPrice,
  kBinGreeks,
  kBinImpliedVol,
  kBjsPrice,
  kBjsGreeks,
  kBjsImpliedVol,
};

struct FamilyInfo {
  const char* name;
  Family family;
  int inputs;
  int outputs;
  std::size_t chunk;
};

constexpr std::array kFamilies{
    FamilyInfo{"bs_price", Family::kBsPrice, 6, 1, kClosedFormChunk},
    FamilyInfo{"bs_greeks", Family::kBsGreeks, 6, 10, kClosedFormChunk},
    FamilyInfo{"bs_implied_vol", Family::kBsImpliedVol, 6, 1, kSearchChunk},
    FamilyInfo{"binomial_price", Family::kBinPrice, 7, 1, kTreeChunk},
    FamilyInfo{"binomial_greeks", Family::kBinGreeks, 7, 10, kTreeChunk},
    FamilyInfo{"binomial_implied_vol", Family::kBinImpliedVol, 7, 1, kTreeChunk},
    FamilyInfo{"bjs_price", Family::kBjsPrice, 7, 1, kClosedFormChunk},
    FamilyInfo{"bjs_greeks", Family::kBjsGreeks, 7, 10, kSearchChunk},
    FamilyInfo{"bjs_implied_vol", Family::kBjsImpliedVol, 7, 1, kSearchChunk},
};

const FamilyInfo& FindFamily(const std::string& name) {
  for (const FamilyInfo& info : kFamilies) {
    if (name == info.name) return info;
  }
  throw py::value_error("unknown model family: " + name);
}

// The keywords that are the same for every element of a call.
struct Settings {
  bool put = false;
  std::int32_t model_type = kModelDividendYield;
  std::int32_t steps = 0;
  std::int32_t flag_eur_am = kAmerican;
  std::int32_t max_iter = 0;
  // Fewer trees than threads: each tree's Greeks use a second thread for the rho tree instead.
  Parallelism tree_parallelism = Parallelism::kOneThread;
  // The caller asked for negative rates (the European and tree families only): the rate test
  // then refuses only a rate that is not a number.
  bool negative_rates = false;
};

// The rate the argument tests see.
double TestedRate(const Settings& set, double r) { return set.negative_rates && r < 0 ? 0.0 : r; }

std::uint8_t Code(ArgumentCheck check) { return static_cast<std::uint8_t>(check); }

void Store(double* o, CallPut v) {
  o[0] = v.call;
  o[1] = v.put;
}

// The tree methods run both validators: the option and model tests, then steps and FlagEurAm.
std::uint8_t TreeCheck(const double* v, double sigma, const Settings& set) {
  const ArgumentCheck model =
      FirstFailedModelCheck(v[0], v[1], TestedRate(set, v[2]), v[3], sigma, v[5], set.model_type,
                            v[6]);
  if (model != ArgumentCheck::kPassed) return Code(model);
  const ArgumentCheck steps = FirstFailedStepCheck(set.steps);
  if (steps != ArgumentCheck::kPassed) return Code(steps);
  return Code(FlagEurAmCheck(set.flag_eur_am));
}

// Input order: s, k, r, t, sigma, q (Black-Scholes); s, k, r, t, sigma, q, rf (tree, BjS);
// the implied volatilities take the target price in place of sigma's slot at the front:
// target, s, k, r, t, q[, rf].
template <Family family>
std::uint8_t PriceElement(const Settings& set, const double* v, double* o) {
  const OptionSide side = set.put ? OptionSide::kPut : OptionSide::kCall;
  // The call search compares |price|, the put search the signed price, as the methods do.
  const CompareMode mode = set.put ? CompareMode::kSigned : CompareMode::kAbsolute;
  switch (family) {
    case Family::kBsPrice: {
      const ArgumentCheck c =
          FirstFailedOptionCheck(v[0], v[1], TestedRate(set, v[2]), v[3], v[4], v[5]);
      if (c != ArgumentCheck::kPassed) return Code(c);
      o[0] = set.put ? GbsPut(kBsModel, v[0], v[1], v[2], kBsForeignRate, v[3], v[5], v[4])
                     : GbsCall(kBsModel, v[0], v[1], v[2], kBsForeignRate, v[3], v[5], v[4]);
      return 0;
    }
    case Family::kBsGreeks: {
      const ArgumentCheck c =
          FirstFailedOptionCheck(v[0], v[1], TestedRate(set, v[2]), v[3], v[4], v[5]);
      if (c != ArgumentCheck::kPassed) return Code(c);
      const GbsValues g =
          GbsPriceAndGreeks(kBsModel, v[0], v[1], v[2], kBsForeignRate, v[3], v[5], v[4]);
      o[0] = g.call;
      o[1] = g.put;
      Store(o + 2, g.delta);
      Store(o + 4, g.theta);
      o[6] = g.gamma;
      o[7] = g.vega;
      Store(o + 8, g.rho);
      return 0;
    }
    case Family::kBsImpliedVol: {
      const ArgumentCheck c =
          FirstFailedOptionCheck(v[1], v[2], TestedRate(set, v[3]), v[4], kSearchVolatility, v[5]);
      if (c != ArgumentCheck::kPassed) return Code(c);
      if (std::isnan(v[0])) return kTargetNotANumber;
      o[0] = GbsBisectVolatility(side, kBsModel, v[1], v[2], v[3], kBsForeignRate, v[4], v[5], v[0],
                                 EffectiveMaxIter(set.max_iter), mode, AbortPolling::kOff);
      return 0;
    }
    case Family::kBinPrice:
    case Family::kBinGreeks: {
      const std::uint8_t c = TreeCheck(v, v[4], set);
      if (c != 0) return c;
      const bool all = family == Family::kBinGreeks;
      TreeGreeksDestinations out;
      if (all) {
        out = {o, o + 1, o + 2, o + 3, o + 4, o + 5, o + 6, o + 7, o + 8, o + 9};
      } else if (set.put) {
        out.put_price = o;
      } else {
        out.call_price = o;
      }
      TreeGreeksWorker(v[0], v[1], ClampRateAwayFromZero(v[2]), v[3], v[4], v[5], set.model_type,
                       v[6], set.steps, set.flag_eur_am, all, all, out, set.tree_parallelism);
      return 0;
    }
    case Family::kBinImpliedVol: {
      const double tree_inputs[] = {v[1], v[2], v[3], v[4], kSearchVolatility, v[5], v[6]};
      const std::uint8_t c = TreeCheck(tree_inputs, kSearchVolatility, set);
      if (c != 0) return c;
      if (std::isnan(v[0])) return kTargetNotANumber;
      TreeImpliedVolatility(v[1], v[2], ClampRateAwayFromZero(v[3]), v[4], v[5], set.model_type,
                            v[6], set.steps, set.flag_eur_am, side, v[0], o);
      return 0;
    }
    case Family::kBjsPrice:
    case Family::kBjsGreeks: {
      const ArgumentCheck c =
          FirstFailedModelCheck(v[0], v[1], v[2], v[3], v[4], v[5], set.model_type, v[6]);
      if (c != ArgumentCheck::kPassed) return Code(c);
      const double s = v[0], x = v[1], r = ClampRateAwayFromZero(v[2]), t = v[3], sigma = v[4],
                   q = v[5], rf = v[6];
      const std::int32_t m = set.model_type;
      if (family == Family::kBjsPrice) {
        o[0] = set.put ? BjeAmericanPut(s, x, r, t, q, m, rf, sigma)
                       : BjeAmericanCall(s, x, r, t, q, m, rf, sigma);
        return 0;
      }
      const BjeValues g = BjePriceAndGreeks(s, x, r, t, q, m, rf, sigma);
      o[0] = g.call;
      o[1] = g.put;
      Store(o + 2, g.delta);
      Store(o + 4, g.theta);
      o[6] = g.gamma;
      o[7] = g.vega;
      Store(o + 8, g.rho);
      return 0;
    }
    case Family::kBjsImpliedVol: {
      const ArgumentCheck c = FirstFailedModelCheck(v[1], v[2], v[3], v[4], kSearchVolatility, v[5],
                                                    set.model_type, v[6]);
      if (c != ArgumentCheck::kPassed) return Code(c);
      if (std::isnan(v[0])) return kTargetNotANumber;
      const double s = v[1], x = v[2], r = ClampRateAwayFromZero(v[3]), t = v[4], q = v[5],
                   rf = v[6];
      const std::int32_t m = set.model_type;
      if (set.put) {
        o[0] = BisectVolatility(
            [&](double sigma) { return BjeAmericanPut(s, x, r, t, q, m, rf, sigma); }, v[0],
            EffectiveMaxIter(set.max_iter), mode, AbortPolling::kOff);
      } else {
        o[0] = BisectVolatility(
            [&](double sigma) { return BjeAmericanCall(s, x, r, t, q, m, rf, sigma); }, v[0],
            EffectiveMaxIter(set.max_iter), mode, AbortPolling::kOff);
      }
      return 0;
    }
  }
  return 0;
}

// Called by the calling thread between chunks, without the GIL: takes it to let Python run its
// signal handlers; true when one raised (KeyboardInterrupt), the error then stays set.
bool SignalRaised() {
  const py::gil_scoped_acquire gil;
  return PyErr_CheckSignals() != 0;
}

// One call's work, handed to the family's own loop.
struct Run {
  const Layout& layout;
  std::size_t chunk;
  int threads;
  const Settings& set;
  const std::array<double*, 10>& out;
  std::uint8_t* checks;
};

// The loop of one family, compiled per family so that nothing is decided per element.
template <Family family, int kInputs, int kOutputs>
bool RunFamily(const Run& run) {
  return RunParallel(run.layout, run.chunk, run.threads, SignalRaised,
                     [&](std::size_t pos, const char* const* p) {
                       double v[kInputs];
                       for (int i = 0; i < kInputs; ++i)
                         v[i] = *reinterpret_cast<const double*>(p[i]);
                       double o[kOutputs];
                       std::uint8_t check = PriceElement<family>(run.set, v, o);
                       if (check != 0) {
                         for (int j = 0; j < kOutputs; ++j) run.out[j][pos] = kNaN;
                       } else {
                         // The model's "no value" sentinel must never pass for a number.
                         for (int j = 0; j < kOutputs; ++j) {
                           if (o[j] == kNotComputable) {
                             o[j] = kNaN;
                             check = kNotComputableOutput;
                           }
                           run.out[j][pos] = o[j];
                         }
                       }
                       if (run.checks) run.checks[pos] = check;
                     });
}

Layout InputLayout(const std::vector<py::array>& inputs, int expected) {
  if (static_cast<int>(inputs.size()) != expected) {
    throw py::value_error("expected " + std::to_string(expected) + " input arrays");
  }
  Layout layout;
  const py::array& first = inputs.front();
  for (py::ssize_t d = 0; d < first.ndim(); ++d) layout.shape.push_back(first.shape(d));
  for (const py::array& a : inputs) {
    // Native-order doubles only: the Python side converts everything else.
    if (!py::isinstance<py::array_t<double>>(a)) {
      throw py::type_error("inputs must be float64 arrays");
    }
    if (a.ndim() != first.ndim() || !std::equal(a.shape(), a.shape() + a.ndim(), first.shape())) {
      throw py::value_error("inputs must have the broadcast shape");
    }
    std::vector<py::ssize_t> strides(a.strides(), a.strides() + a.ndim());
    layout.Add(static_cast<const char*>(a.data()), std::move(strides));
  }
  layout.Finish();
  return layout;
}

int EffectiveThreads(int threads) {
  if (threads > 0) return threads;
  const unsigned hardware = std::thread::hardware_concurrency();
  return hardware > 0 ? static_cast<int>(hardware) : 1;
}

py::tuple Price(const std::string& name, const std::vector<py::array>& inputs, bool put,
                std::int32_t model_type, std::int32_t steps, bool american, std::int32_t max_iter,
                int threads, bool want_checks, bool negative_rates) {
  const FamilyInfo& info = FindFamily(name);
  const Layout layout = InputLayout(inputs, info.inputs);
  const int thread_count = EffectiveThreads(threads);
  const bool few_trees =
      info.family == Family::kBinGreeks && layout.count < static_cast<std::size_t>(thread_count);
  const Settings set{
      .put = put,
      .model_type = model_type,
      .steps = steps,
      .flag_eur_am = american ? kAmerican : kEuropean,
      .max_iter = max_iter,
      .tree_parallelism = few_trees ? Parallelism::kTwoThreads : Parallelism::kOneThread,
      .negative_rates = negative_rates};
  const std::vector<py::ssize_t> shape(inputs.front().shape(),
                                       inputs.front().shape() + inputs.front().ndim());
  py::list results;
  std::array<double*, 10> out{};
  for (int j = 0; j < info.outputs; ++j) {
    py::array_t<double> a(shape);
    out[j] = a.mutable_data();
    results.append(a);
  }
  py::object checks_object = py::none();
  std::uint8_t* checks = nullptr;
  if (want_checks) {
    py::array_t<std::uint8_t> a(shape);
    checks = a.mutable_data();
    checks_object = a;
  }
  bool completed = false;
  {
    py::gil_scoped_release release;
    const Run run{layout, info.chunk, thread_count, set, out, checks};
    switch (info.family) {
      case Family::kBsPrice:
        completed = RunFamily<Family::kBsPrice, 6, 1>(run);
        break;
      case Family::kBsGreeks:
        completed = RunFamily<Family::kBsGreeks, 6, 10>(run);
        break;
      case Family::kBsImpliedVol:
        completed = RunFamily<Family::kBsImpliedVol, 6, 1>(run);
        break;
      case Family::kBinPrice:
        completed = RunFamily<Family::kBinPrice, 7, 1>(run);
        break;
      case Family::kBinGreeks:
        completed = RunFamily<Family::kBinGreeks, 7, 10>(run);
        break;
      case Family::kBinImpliedVol:
        completed = RunFamily<Family::kBinImpliedVol, 7, 1>(run);
        break;
      case Family::kBjsPrice:
        completed = RunFamily<Family::kBjsPrice, 7, 1>(run);
        break;
      case Family::kBjsGreeks:
        completed = RunFamily<Family::kBjsGreeks, 7, 10>(run);
        break;
      case Family::kBjsImpliedVol:
        completed = RunFamily<Family::kBjsImpliedVol, 7, 1>(run);
        break;
    }
  }
  if (!completed) throw py::error_already_set();
  return py::make_tuple(results, checks_object);
}

// prices: the series run along the last axis (the caller moves it there, as a view).
py::tuple HistoricalVolatility(const py::array& prices, std::int32_t trading_days, int threads,
                               bool want_checks) {
  if (!py::isinstance<py::array_t<double>>(prices)) {
    throw py::type_error("prices must be a float64 array");
  }
  if (prices.ndim() < 1) throw py::value_error("prices must have at least one dimension");
  const py::ssize_t last = prices.ndim() - 1;
  const std::size_t length = static_cast<std::size_t>(prices.shape(last));
  const py::ssize_t step = prices.strides(last);
  std::vector<py::ssize_t> shape(prices.shape(), prices.shape() + last);
  Layout layout;
  layout.shape = shape;
  layout.Add(static_cast<const char*>(prices.data()),
             std::vector<py::ssize_t>(prices.strides(), prices.strides() + last));
  layout.Finish();

  py::array_t<double> result(shape);
  double* out = result.mutable_data();
  py::object checks_object = py::none();
  std::uint8_t* checks = nullptr;
  if (want_checks) {
    py::array_t<std::uint8_t> a(shape);
    checks = a.mutable_data();
    checks_object = a;
  }
  std::uint8_t refused = 0;
  if (trading_days < kMinTradingDays || trading_days > kMaxTradingDays) {
    refused = kBadTradingDays;
  } else if (length < kMinPrices) {
    refused = kTooFewPrices;
  }
  bool completed = false;
  {
    py::gil_scoped_release release;
    const bool contiguous = step == static_cast<py::ssize_t>(sizeof(double));
    completed = RunParallelWithScratch(
        layout, kSearchChunk, EffectiveThreads(threads), contiguous ? 0 : length, SignalRaised,
        [&](std::size_t pos, const char* const* p, std::vector<double>& scratch) {
          if (refused != 0) {
            out[pos] = kNaN;
            if (checks) checks[pos] = refused;
            return;
          }
          std::span<const double> series;
          if (contiguous) {
            series = {reinterpret_cast<const double*>(p[0]), length};
          } else {
            // A strided series is gathered into this thread's buffer of one series.
            for (std::size_t i = 0; i < length; ++i) {
              scratch[i] =
                  *reinterpret_cast<const double*>(p[0] + static_cast<py::ssize_t>(i) * step);
            }
            series = scratch;
          }
          out[pos] = EstimateHistoricalVolatility(series, trading_days);
          if (checks) checks[pos] = 0;
        });
  }
  if (!completed) throw py::error_already_set();
  return py::make_tuple(result, checks_object);
}

// The component's error code and error text of an element check.
py::tuple CheckText(int check) {
  using kx::component::Failure;
  using kx::component::TextOf;
  auto table = [](Failure failure) {
    const kx::component::FailureText& text = TextOf(failure);
    std::string error_string(text.error_string.begin(), text.error_string.end());
    return std::pair<int, std::string>(text.code, error_string);
  };
  if (check == 0) return py::make_tuple(0, "No Error", "");
  if (check <= static_cast<int>(ArgumentCheck::kFlagEurAm)) {
    auto [code, text] = table(Failure::kInvalidArguments);
    return py::make_tuple(code, text,
                          std::string(ArgumentCheckMessage(static_cast<ArgumentCheck>(check))));
  }
  switch (check) {
    case kTargetNotANumber: {
      auto [code, text] = table(Failure::kInvalidArguments);
      return py::make_tuple(code, text, "Option Price is not a number");
    }
    case kNotComputableOutput:
      return py::make_tuple(-1, "Not computable", "The model has no value for these inputs");
    case kBadTradingDays: {
      auto [code, text] = table(Failure::kBadTradingDays);
      return py::make_tuple(code, text, "");
    }
    case kTooFewPrices: {
      auto [code, text] = table(Failure::kBadInputData);
      return py::make_tuple(code, text, "A series needs at least 3 prices");
    }
    default:
      throw py::value_error("unknown element check " + std::to_string(check));
  }
}

// A plain loop over contiguous arrays, one thread, no tests: what the binding's cost is
// measured against.
void ReferenceLoop(const std::string& name,
                   const std::vector<py::array_t<double, py::array::c_style>>& in,
                   std::vector<py::array_t<double, py::array::c_style>>& out) {
  const std::size_t n = static_cast<std::size_t>(in.at(0).size());
  std::vector<const double*> v;
  for (const auto& a : in) {
    if (static_cast<std::size_t>(a.size()) != n) throw py::value_error("sizes differ");
    v.push_back(a.data());
  }
  std::vector<double*> o;
  for (auto& a : out) {
    if (static_cast<std::size_t>(a.size()) != n) throw py::value_error("sizes differ");
    o.push_back(a.mutable_data());
  }
  py::gil_scoped_release release;
  if (name == "bs_greeks" && v.size() == 6 && o.size() == 10) {
    for (std::size_t i = 0; i < n; ++i) {
      const GbsValues g = GbsPriceAndGreeks(kBsModel, v[0][i], v[1][i], v[2][i], kBsForeignRate,
                                            v[3][i], v[5][i], v[4][i]);
      o[0][i] = g.call;
      o[1][i] = g.put;
      o[2][i] = g.delta.call;
      o[3][i] = g.delta.put;
      o[4][i] = g.theta.call;
      o[5][i] = g.theta.put;
      o[6][i] = g.gamma;
      o[7][i] = g.vega;
      o[8][i] = g.rho.call;
      o[9][i] = g.rho.put;
    }
  } else if (name == "bjs_price" && v.size() == 7 && o.size() == 1) {
    for (std::size_t i = 0; i < n; ++i) {
      o[0][i] = BjeAmericanCall(v[0][i], v[1][i], ClampRateAwayFromZero(v[2][i]), v[3][i], v[5][i],
                                kModelDividendYield, v[6][i], v[4][i]);
    }
  } else {
    throw py::value_error("no reference loop for " + name);
  }
}

}  // namespace

void BindModels(py::module_& m) {
  m.def("price", &Price, py::arg("family"), py::arg("inputs"), py::arg("put"),
        py::arg("model_type"), py::arg("steps"), py::arg("american"), py::arg("max_iter"),
        py::arg("threads"), py::arg("want_checks"), py::arg("negative_rates") = false,
        "Prices one family over broadcast float64 arrays; returns (outputs, checks or None).");
  m.def("historical_volatility", &HistoricalVolatility, py::arg("prices"), py::arg("trading_days"),
        py::arg("threads"), py::arg("want_checks"),
        "Volatility of each series along the last axis; returns (result, checks or None).");
  m.def("check_text", &CheckText, py::arg("check"),
        "(error code, error text, reason) of an element check.");
  m.def(
      "hardware_threads", [] { return EffectiveThreads(0); }, "Threads a call uses by default.");
  m.def("reference_loop", &ReferenceLoop, py::arg("family"), py::arg("inputs"), py::arg("outputs"),
        "Plain single-thread C++ loop, for the benchmark.");
  m.attr("not_computable_check") = kNotComputableOutput;
  m.attr("too_few_prices_check") = kTooFewPrices;
}

}  // namespace kx::python
