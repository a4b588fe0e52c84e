// Prices the reference options of the Black-Scholes, binomial and Bjerksund-Stensland models and
// prints one table per model.
#include <cstdio>

#include "kx/models/binomial.h"
#include "kx/models/bjerksund_stensland.h"
#include "kx/models/black_scholes.h"
#include "kx/models/common.h"

namespace {

using namespace kx::models;

struct Option {
  double s, k, r, t, q, sigma;
};

void PrintHeader(const char* title) {
  std::printf("\n%s\n", title);
  std::printf("%-40s %12s %12s %12s %12s %12s %12s %12s %12s %12s %12s\n", "option", "call", "put",
              "c.delta", "p.delta", "c.theta", "p.theta", "gamma", "vega", "c.rho", "p.rho");
}

void PrintRow(const char* label, double call, double put, CallPut delta, CallPut theta,
              double gamma, double vega, CallPut rho) {
  std::printf("%-40s %12.6f %12.6f %12.6f %12.6f %12.6f %12.6f %12.6f %12.6f %12.6f %12.6f\n",
              label, call, put, delta.call, delta.put, theta.call, theta.put, gamma, vega, rho.call,
              rho.put);
}

void BlackScholesTable() {
  PrintHeader("Black-Scholes (ModelType 1, European)");
  const Option options[] = {{100, 100, 0.05, 1, 0, 0.2},
                            {100, 95, 0.08, 0.5, 0.03, 0.25},
                            {100, 100, 0.05, 1, 0.05, 0.2}};
  for (const Option& o : options) {
    char label[128];
    std::snprintf(label, sizeof label, "S=%g K=%g r=%g T=%g q=%g v=%g", o.s, o.k, o.r, o.t, o.q,
                  o.sigma);
    const auto m = kModelDividendYield;
    PrintRow(label, GbsCall(m, o.s, o.k, o.r, 0.0, o.t, o.q, o.sigma),
             GbsPut(m, o.s, o.k, o.r, 0.0, o.t, o.q, o.sigma),
             GbsDelta(m, o.s, o.k, o.r, 0.0, o.t, o.q, o.sigma),
             GbsTheta(m, o.s, o.k, o.r, 0.0, o.t, o.q, o.sigma),
             GbsGamma(m, o.s, o.k, o.r, 0.0, o.t, o.q, o.sigma),
             GbsVega(m, o.s, o.k, o.r, 0.0, o.t, o.q, o.sigma),
             GbsRho(m, o.s, o.k, o.r, 0.0, o.t, o.q, o.sigma));
  }
}

void BinomialTable() {
  PrintHeader("Binomial tree (ModelType 1, 100 steps)");
  const Option o{100, 100, 0.05, 1, 0, 0.2};
  for (const std::int32_t flag : {kEuropean, kAmerican}) {
    double v[10] = {};
    TreeGreeksWorker(o.s, o.k, o.r, o.t, o.sigma, o.q, kModelDividendYield, 0.0, 100, flag, true,
                     true, {&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9]});
    PrintRow(flag == kEuropean ? "S=100 K=100 European" : "S=100 K=100 American", v[0], v[1],
             {v[2], v[3]}, {v[4], v[5]}, v[6], v[7], {v[8], v[9]});
  }
}

void BjerksundStenslandTable() {
  PrintHeader("Bjerksund-Stensland (American)");
  struct Case {
    const char* label;
    Option o;
    std::int32_t model;
  };
  const Case cases[] = {{"S=42 X=40 ModelType 1", {42, 40, 0.04, 0.75, 0.08, 0.35}, 1},
                        {"S=42 X=40 ModelType 0", {42, 40, 0.04, 0.75, 0.08, 0.35}, 0},
                        {"S=100 X=40 ModelType 1", {100, 40, 0.04, 0.75, 0.08, 0.35}, 1}};
  for (const Case& c : cases) {
    const Option& o = c.o;
    PrintRow(c.label, BjeAmericanCall(o.s, o.k, o.r, o.t, o.q, c.model, 0.0, o.sigma),
             BjeAmericanPut(o.s, o.k, o.r, o.t, o.q, c.model, 0.0, o.sigma),
             BjeDelta(o.s, o.k, o.r, o.t, o.q, c.model, 0.0, o.sigma),
             BjeTheta(o.s, o.k, o.r, o.t, o.q, c.model, 0.0, o.sigma),
             BjeGamma(o.s, o.k, o.r, o.t, o.q, c.model, 0.0, o.sigma),
             BjeVega(o.s, o.k, o.r, o.t, o.q, c.model, 0.0, o.sigma),
             BjeRho(o.s, o.k, o.r, o.t, o.q, c.model, 0.0, o.sigma));
  }
}

}  // namespace

int main() {
  BlackScholesTable();
  BinomialTable();
  BjerksundStenslandTable();
  return 0;
}
