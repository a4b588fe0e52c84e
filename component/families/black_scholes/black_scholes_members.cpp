// The Black-Scholes members of KvQuantorb, in vtable order: thin wrappers that hold the object
// and hand their arguments to the family's dispatcher (black_scholes_methods.h).
#include "black_scholes_methods.h"

#include "call_hold.h"
#include "kv_quantorb.h"

namespace kx::component {

using namespace kx::platform;

HRESULT KvQuantorb::BSCallPrice(double StockPrice, double ExercisePrice, double InterestRate,
                                double TimeToMaturity, double Volatility, double DividendRate,
                                double* CPrice) {
  const CallHold hold(this);
  return BsDispatch(
      state_, BsMethodCode::kCallPrice, "Error in BSCallPrice",
      BsArgs(StockPrice, ExercisePrice, InterestRate, TimeToMaturity, Volatility, DividendRate),
      Bind(CPrice), {});
}

HRESULT KvQuantorb::BSPutPrice(double StockPrice, double ExercisePrice, double InterestRate,
                               double TimeToMaturity, double Volatility, double DividendRate,
                               double* PPrice) {
  const CallHold hold(this);
  return BsDispatch(
      state_, BsMethodCode::kPutPrice, "Error in BSPutPrice",
      BsArgs(StockPrice, ExercisePrice, InterestRate, TimeToMaturity, Volatility, DividendRate),
      Bind(PPrice), {});
}

HRESULT KvQuantorb::BSDelta(double StockPrice, double ExercisePrice, double InterestRate,
                            double TimeToMaturity, double Volatility, double DividendRate,
                            double* CDelta, double* PDelta) {
  const CallHold hold(this);
  return BsDispatch(
      state_, BsMethodCode::kDelta, "Error in BSDelta",
      BsArgs(StockPrice, ExercisePrice, InterestRate, TimeToMaturity, Volatility, DividendRate),
      Bind(CDelta), Bind(PDelta));
}

HRESULT KvQuantorb::BSTheta(double StockPrice, double ExercisePrice, double InterestRate,
                            double TimeToMaturity, double Volatility, double DividendRate,
                            double* CTheta, double* PTheta) {
  const CallHold hold(this);
  return BsDispatch(
      state_, BsMethodCode::kTheta, "Error in BSTheta",
      BsArgs(StockPrice, ExercisePrice, InterestRate, TimeToMaturity, Volatility, DividendRate),
      Bind(CTheta), Bind(PTheta));
}

HRESULT KvQuantorb::BSGamma(double StockPrice, double ExercisePrice, double InterestRate,
                            double TimeToMaturity, double Volatility, double DividendRate,
                            double* Gamma) {
  const CallHold hold(this);
  return BsDispatch(
      state_, BsMethodCode::kGamma, "Error in BSGamma",
      BsArgs(StockPrice, ExercisePrice, InterestRate, TimeToMaturity, Volatility, DividendRate),
      Bind(Gamma), {});
}

HRESULT KvQuantorb::BSVega(double StockPrice, double ExercisePrice, double InterestRate,
                           double TimeToMaturity, double Volatility, double DividendRate,
                           double* Vega) {
  const CallHold hold(this);
  return BsDispatch(
      state_, BsMethodCode::kVega, "Error in BSVega",
      BsArgs(StockPrice, ExercisePrice, InterestRate, TimeToMaturity, Volatility, DividendRate),
      Bind(Vega), {});
}

HRESULT KvQuantorb::BSRho(double StockPrice, double ExercisePrice, double InterestRate,
                          double TimeToMaturity, double Volatility, double DividendRate,
                          double* CRho, double* PRho) {
  const CallHold hold(this);
  return BsDispatch(
      state_, BsMethodCode::kRho, "Error in BSRho",
      BsArgs(StockPrice, ExercisePrice, InterestRate, TimeToMaturity, Volatility, DividendRate),
      Bind(CRho), Bind(PRho));
}

HRESULT KvQuantorb::BSImpliedVolatility(double StockPrice, double ExercisePrice,
                                        double InterestRate, double TimeToMaturity,
                                        double DividendRate, double CallValue, LONG MaxIter,
                                        double* IVolatility) {
  const CallHold hold(this);
  ScalarArguments args = BsArgs(StockPrice, ExercisePrice, InterestRate, TimeToMaturity,
                                kImpliedSearchVolatility, DividendRate);
  args.call_target = CallValue;
  args.max_iter = MaxIter;
  return BsDispatch(state_, BsMethodCode::kImpliedVolatility, "Error in BSImpliedVolatility", args,
                    Bind(IVolatility), {});
}

HRESULT KvQuantorb::BSImpliedVolatilityPut(double StockPrice, double ExercisePrice,
                                           double InterestRate, double TimeToMaturity,
                                           double DividendRate, double PutValue, LONG MaxIter,
                                           double* IVolatility) {
  const CallHold hold(this);
  ScalarArguments args = BsArgs(StockPrice, ExercisePrice, InterestRate, TimeToMaturity,
                                kImpliedSearchVolatility, DividendRate);
  args.put_target = PutValue;
  args.max_iter = MaxIter;
  return BsDispatch(state_, BsMethodCode::kImpliedVolatilityPut, "Error in BSImpliedVolatilityPut",
                    args, Bind(IVolatility), {});
}

HRESULT KvQuantorb::BSImpliedVolatilitySkew(double StockPrice, VARIANT* ExercisePrice,
                                            double InterestRate, double TimeToMaturity,
                                            double DividendRate, VARIANT* CallValue,
                                            VARIANT* PutValue, LONG MaxIter,
                                            VARIANT* IVolatilityCall, VARIANT* IVolatilityPut) {
  const CallHold hold(this);
  return BsSkewDispatch(state_,
                        {.stock_price = StockPrice,
                         .interest_rate = InterestRate,
                         .time_to_maturity = TimeToMaturity,
                         .dividend_rate = DividendRate,
                         .max_iter = MaxIter},
                        {.exercise_price = ExercisePrice,
                         .call_value = CallValue,
                         .put_value = PutValue,
                         .volatility_call = IVolatilityCall,
                         .volatility_put = IVolatilityPut});
}

}  // namespace kx::component
