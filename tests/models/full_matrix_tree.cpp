#include "full_matrix_tree.h"

#include <cmath>
#include <limits>
#include <vector>

namespace kx::models::testing {
namespace {

// One contiguous zero-filled block; element [k][i] at k * (N + 1) + i.
class NodeMatrix {
 public:
  explicit NodeMatrix(std::int32_t steps)
      : size_(static_cast<std::size_t>(steps) + 1), values_(size_ * size_, 0.0) {}
  double& operator()(std::int32_t k, std::int32_t i) { return values_[k * size_ + i]; }

 private:
  std::size_t size_;
  std::vector<double> values_;
};

}  // namespace

TreeNodes FullMatrixTree(double s, double strike, double r, double t, double sigma, double q,
                         std::int32_t model_type, double rf, std::int32_t steps,
                         std::int32_t flag_eur_am) {
  NodeMatrix call(steps), put(steps), stock(steps);
  const double b = CostOfCarry(model_type, r, q, rf);
  const double dt = t / steps;
  const double disc = std::exp(-(dt * r));
  const double u = std::exp(std::sqrt(dt) * sigma);
  const double d = 1.0 / u;
  const double p = (std::exp(dt * b) - d) / (u - d);

  stock(0, 0) = s;
  for (std::int32_t i = 1; i <= steps; ++i) {
    for (std::int32_t k = i; k >= 1; --k) stock(k, i) = u * stock(k - 1, i - 1);
    stock(0, i) = d * stock(0, i - 1);
  }
  for (std::int32_t k = 0; k <= steps; ++k) {
    put(k, steps) = strike - stock(k, steps) > 0.0 ? strike - stock(k, steps) : 0.0;
    call(k, steps) = stock(k, steps) - strike > 0.0 ? stock(k, steps) - strike : 0.0;
  }
  for (std::int32_t i = steps; i >= 1; --i) {
    for (std::int32_t k = 0; k <= i - 1; ++k) {
      for (NodeMatrix* v : {&put, &call}) {
        NodeMatrix& m = *v;
        const double cont = (p * m(k + 1, i) + (1 - p) * m(k, i)) * disc;
        if (flag_eur_am != 0) {
          m(k, i - 1) = cont;
        } else {
          double intr = v == &put ? strike - stock(k, i - 1) : stock(k, i - 1) - strike;
          if (!(intr > 0)) intr = 0;
          m(k, i - 1) = cont > intr ? cont : intr;
        }
      }
    }
  }

  TreeNodes nodes;
  for (std::int32_t k = 0; k < 3; ++k) {
    for (std::int32_t i = 0; i < 3; ++i) {
      const bool exists = i <= steps && k <= i;
      nodes.call[k][i] = exists ? call(k, i) : std::numeric_limits<double>::quiet_NaN();
      nodes.put[k][i] = exists ? put(k, i) : std::numeric_limits<double>::quiet_NaN();
    }
  }
  return nodes;
}

}  // namespace kx::models::testing
