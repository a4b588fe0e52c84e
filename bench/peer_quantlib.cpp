#include "peer_quantlib.h"

#include <cmath>
#include <ql/exercise.hpp>
#include <ql/instruments/payoffs.hpp>
#include <ql/instruments/vanillaoption.hpp>
#include <ql/methods/lattices/binomialtree.hpp>
#include <ql/pricingengines/blackcalculator.hpp>
#include <ql/pricingengines/blackformula.hpp>
#include <ql/pricingengines/vanilla/binomialengine.hpp>
#include <ql/pricingengines/vanilla/bjerksundstenslandengine.hpp>
#include <ql/processes/blackscholesprocess.hpp>
#include <ql/quotes/simplequote.hpp>
#include <ql/settings.hpp>
#include <ql/termstructures/volatility/equityfx/blackconstantvol.hpp>
#include <ql/termstructures/yield/flatforward.hpp>
#include <ql/time/calendars/nullcalendar.hpp>
#include <ql/time/daycounters/actual365fixed.hpp>
#include <ql/version.hpp>

namespace kx::peer {
namespace {

using namespace QuantLib;

constexpr double kMaturity = 1.0;

struct Market {
  explicit Market(const MarketInputs& in) {
    const Date today(15, May, 2023);
    Settings::instance().evaluationDate() = today;
    const DayCounter dc = Actual365Fixed();
    maturity = today + 365;
    const Handle<Quote> spot(ext::make_shared<SimpleQuote>(in.spot));
    const Handle<YieldTermStructure> rate(ext::make_shared<FlatForward>(today, in.rate, dc));
    const Handle<YieldTermStructure> dividend(
        ext::make_shared<FlatForward>(today, in.dividend, dc));
    const Handle<BlackVolTermStructure> vol(
        ext::make_shared<BlackConstantVol>(today, NullCalendar(), in.vol, dc));
    process = ext::make_shared<BlackScholesMertonProcess>(spot, dividend, rate, vol);
    exercise = ext::make_shared<AmericanExercise>(today, maturity);
  }
  VanillaOption Option(Option::Type type, double strike) const {
    return VanillaOption(ext::make_shared<PlainVanillaPayoff>(type, strike), exercise);
  }
  Date maturity;
  ext::shared_ptr<BlackScholesMertonProcess> process;
  ext::shared_ptr<Exercise> exercise;
};

// Both options with one engine; recalculate() makes the engine run again every time.
struct PricedPair {
  PricedPair(const MarketInputs& in, const ext::shared_ptr<PricingEngine>& engine,
             const Market& market)
      : call(market.Option(Option::Call, in.strike)), put(market.Option(Option::Put, in.strike)) {
    call.setPricingEngine(engine);
    put.setPricingEngine(engine);
  }
  CallPut Price() {
    call.recalculate();
    put.recalculate();
    return {call.NPV(), put.NPV()};
  }
  VanillaOption call;
  VanillaOption put;
};

}  // namespace

struct QlTree::State {
  State(const MarketInputs& in, int steps)
      : market(in),
        pair(in, ext::make_shared<BinomialVanillaEngine<CoxRossRubinstein>>(market.process, steps),
             market) {}
  Market market;
  PricedPair pair;
};

QlTree::QlTree(const MarketInputs& in, int steps) : state_(std::make_unique<State>(in, steps)) {}
QlTree::~QlTree() = default;
CallPut QlTree::Price() { return state_->pair.Price(); }

struct QlBjerksundStensland::State {
  explicit State(const MarketInputs& in)
      : market(in),
        pair(in, ext::make_shared<BjerksundStenslandApproximationEngine>(market.process), market) {}
  Market market;
  PricedPair pair;
};

QlBjerksundStensland::QlBjerksundStensland(const MarketInputs& in)
    : state_(std::make_unique<State>(in)) {}
QlBjerksundStensland::~QlBjerksundStensland() = default;
CallPut QlBjerksundStensland::Price() { return state_->pair.Price(); }

double QlBlackPriceAndGreeks(const MarketInputs& in) {
  const double discount = std::exp(-in.rate * kMaturity);
  const double forward = in.spot * std::exp((in.rate - in.dividend) * kMaturity);
  const BlackCalculator black(Option::Call, in.strike, forward, in.vol * std::sqrt(kMaturity),
                              discount);
  return black.value() + black.delta(in.spot) + black.gamma(in.spot) + black.vega(kMaturity) +
         black.theta(in.spot, kMaturity) + black.rho(kMaturity);
}

double QlBlackCallPrice(const MarketInputs& in) {
  const double discount = std::exp(-in.rate * kMaturity);
  const double forward = in.spot * std::exp((in.rate - in.dividend) * kMaturity);
  return blackFormula(Option::Call, in.strike, forward, in.vol * std::sqrt(kMaturity), discount);
}

double QlImpliedVolatility(const MarketInputs& in, double price) {
  const double discount = std::exp(-in.rate * kMaturity);
  const double forward = in.spot * std::exp((in.rate - in.dividend) * kMaturity);
  return blackFormulaImpliedStdDev(Option::Call, in.strike, forward, price, discount, 0.0,
                                   Null<Real>(), 1.0e-6) /
         std::sqrt(kMaturity);
}

const char* QlVersion() { return "QuantLib " QL_VERSION; }

}  // namespace kx::peer
