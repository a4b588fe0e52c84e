// Written by reference_values.py from the Linux build's results; do not edit.
#pragma once
#include <cstdint>
#include <cstring>

namespace kx::windows_test {

struct Reference {
  const char* name;
  double value;
  std::int64_t max_ulps;
};

inline constexpr Reference kReferences[] = {
    {"BSCallPrice", 0x1.4e6b1d8faba68p+3, 4},
    {"BSPutPrice", 0x1.53d58c8369c08p+2, 4},
    {"BSDelta.C", 0x1.460ea8be31c1ep-1, 4},
    {"BSDelta.P", -0x1.73e2ae839c7c4p-2, 4},
    {"BSImpliedVolatility", 0x1.99916a0000000p-3, 4},
    {"BinCallPrice", 0x1.4e1952d780106p+3, 0},
    {"BinPutPrice.American", 0x1.c2c2fed8c4d2ap+3, 0},
    {"BJECallPrice", 0x1.14e19eb4cc924p+3, 4},
    {"BJEPutPrice", 0x1.be6c7b8e77a50p+3, 4},
    {"HistoricalVolatility1", 0x1.6b5fc309f99a2p+0, 0},
    {"BSImpliedVolatilitySkew.C1", 0x1.aa5e640000000p-4, 4},
    {"BSImpliedVolatilitySkew.C2", 0x1.74ba5c0000000p-4, 4},
    {"BSImpliedVolatilitySkew.C3", 0x1.c84c1c0000000p-4, 4},
    {"BSImpliedVolatilitySkew.P1", 0x1.ab33de0000000p-3, 4},
    {"BSImpliedVolatilitySkew.P2", 0x1.b0d8020000000p-3, 4},
    {"BSImpliedVolatilitySkew.P3", 0x1.b8902e0000000p-3, 4},
    {"BinImpliedVolatilitySkew.C1", 0x1.a97c9c0000000p-4, 0},
    {"BinImpliedVolatilitySkew.C2", 0x1.75f14c0000000p-4, 0},
    {"BinImpliedVolatilitySkew.C3", 0x1.c87ee40000000p-4, 0},
    {"BinImpliedVolatilitySkew.P1", 0x1.985ff20000000p-3, 0},
    {"BinImpliedVolatilitySkew.P2", 0x1.95187e0000000p-3, 0},
    {"BinImpliedVolatilitySkew.P3", 0x1.8c01260000000p-3, 0},
    {"BJEImpliedVolatilitySkew.C1", 0x1.aa5e640000000p-4, 4},
    {"BJEImpliedVolatilitySkew.C2", 0x1.74ba5c0000000p-4, 4},
    {"BJEImpliedVolatilitySkew.C3", 0x1.c84c1c0000000p-4, 4},
    {"BJEImpliedVolatilitySkew.P1", 0x1.9df4da0000000p-3, 4},
    {"BJEImpliedVolatilitySkew.P2", 0x1.9a8a3e0000000p-3, 4},
    {"BJEImpliedVolatilitySkew.P3", 0x1.92eb120000000p-3, 4},
    {"HistoricalVolatility.1", 0x1.93e41ebdc3683p+0, 0},
    {"HistoricalVolatility.2", 0x1.8876500773e95p-8, 0},
    {"HistoricalVolatility.3", 0x1.817e400a23085p+1, 0},
};

inline const Reference* FindReference(const char* name) {
  for (const Reference& r : kReferences) {
    if (std::strcmp(r.name, name) == 0) return &r;
  }
  return nullptr;
}

}  // namespace kx::windows_test
