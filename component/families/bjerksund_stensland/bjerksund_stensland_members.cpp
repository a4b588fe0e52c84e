// The Bjerksund-Stensland members of KvQuantorb, in vtable order: thin wrappers that hold the
// object and hand their arguments to the family's dispatcher (bjerksund_stensland_methods.h).
#include "bjerksund_stensland_methods.h"

#include "call_hold.h"
#include "kv_quantorb.h"

namespace kx::component {

using namespace kx::platform;

HRESULT KvQuantorb::BJECallPrice(double StockPrice, double ExercisePrice, double InterestRate,
                                 double TimeToMaturity, double Volatility, double DividendRate,
                                 LONG ModelType, double ForeignInterestRate, double* CPrice) {
  const CallHold hold(this);
  return BjeDispatch(state_, BjeMethodCode::kCallPrice, "Error in BJECallPrice",
                     BjeArgs(StockPrice, ExercisePrice, InterestRate, TimeToMaturity, Volatility,
                             DividendRate, ModelType, ForeignInterestRate),
                     Bind(CPrice), {});
}

HRESULT KvQuantorb::BJEPutPrice(double StockPrice, double ExercisePrice, double InterestRate,
                                double TimeToMaturity, double Volatility, double DividendRate,
                                LONG ModelType, double ForeignInterestRate, double* PPrice) {
  const CallHold hold(this);
  return BjeDispatch(state_, BjeMethodCode::kPutPrice, "Error in BJEPutPrice",
                     BjeArgs(StockPrice, ExercisePrice, InterestRate, TimeToMaturity, Volatility,
                             DividendRate, ModelType, ForeignInterestRate),
                     Bind(PPrice), {});
}

HRESULT KvQuantorb::BJEDelta(double StockPrice, double ExercisePrice, double InterestRate,
                             double TimeToMaturity, double Volatility, double DividendRate,
                             LONG ModelType, double ForeignInterestRate, double* CDelta,
                             double* PDelta) {
  const CallHold hold(this);
  return BjeDispatch(state_, BjeMethodCode::kDelta, "Error in BJEDelta",
                     BjeArgs(StockPrice, ExercisePrice, InterestRate, TimeToMaturity, Volatility,
                             DividendRate, ModelType, ForeignInterestRate),
                     Bind(CDelta), Bind(PDelta));
}

HRESULT KvQuantorb::BJETheta(double StockPrice, double ExercisePrice, double InterestRate,
                             double TimeToMaturity, double Volatility, double DividendRate,
                             LONG ModelType, double ForeignInterestRate, double* CTheta,
                             double* PTheta) {
  const CallHold hold(this);
  return BjeDispatch(state_, BjeMethodCode::kTheta, "Error in BJETheta",
                     BjeArgs(StockPrice, ExercisePrice, InterestRate, TimeToMaturity, Volatility,
                             DividendRate, ModelType, ForeignInterestRate),
                     Bind(CTheta), Bind(PTheta));
}

HRESULT KvQuantorb::BJEGamma(double StockPrice, double ExercisePrice, double InterestRate,
                             double TimeToMaturity, double Volatility, double DividendRate,
                             LONG ModelType, double ForeignInterestRate, double* Gamma) {
  const CallHold hold(this);
  return BjeDispatch(state_, BjeMethodCode::kGamma, "Error in BJEGamma",
                     BjeArgs(StockPrice, ExercisePrice, InterestRate, TimeToMaturity, Volatility,
                             DividendRate, ModelType, ForeignInterestRate),
                     Bind(Gamma), {});
}

HRESULT KvQuantorb::BJEVega(double StockPrice, double ExercisePrice, double InterestRate,
                            double TimeToMaturity, double Volatility, double DividendRate,
                            LONG ModelType, double ForeignInterestRate, double* Vega) {
  const CallHold hold(this);
  return BjeDispatch(state_, BjeMethodCode::kVega, "Error in BJEVega",
                     BjeArgs(StockPrice, ExercisePrice, InterestRate, TimeToMaturity, Volatility,
                             DividendRate, ModelType, ForeignInterestRate),
                     Bind(Vega), {});
}

HRESULT KvQuantorb::BJERho(double StockPrice, double ExercisePrice, double InterestRate,
                           double TimeToMaturity, double Volatility, double DividendRate,
                           LONG ModelType, double ForeignInterestRate, double* CRho, double* PRho) {
  const CallHold hold(this);
  return BjeDispatch(state_, BjeMethodCode::kRho, "Error in BJERho",
                     BjeArgs(StockPrice, ExercisePrice, InterestRate, TimeToMaturity, Volatility,
                             DividendRate, ModelType, ForeignInterestRate),
                     Bind(CRho), Bind(PRho));
}

HRESULT KvQuantorb::BJEImpliedVolatility(double StockPrice, double ExercisePrice,
                                         double InterestRate, double TimeToMaturity,
                                         double DividendRate, LONG ModelType,
                                         double ForeignInterestRate, double CallValue, LONG MaxIter,
                                         double* IVolatility) {
  const CallHold hold(this);
  ScalarArguments args =
      BjeArgs(StockPrice, ExercisePrice, InterestRate, TimeToMaturity, kImpliedSearchVolatility,
              DividendRate, ModelType, ForeignInterestRate);
  args.call_target = CallValue;
  args.max_iter = MaxIter;
  return BjeDispatch(state_, BjeMethodCode::kImpliedVolatility, "Error in BJEImpliedVolatility",
                     args, Bind(IVolatility), {});
}

HRESULT KvQuantorb::BJEImpliedVolatilityPut(double StockPrice, double ExercisePrice,
                                            double InterestRate, double TimeToMaturity,
                                            double DividendRate, LONG ModelType,
                                            double ForeignInterestRate, double PutValue,
                                            LONG MaxIter, double* IVolatility) {
  const CallHold hold(this);
  ScalarArguments args =
      BjeArgs(StockPrice, ExercisePrice, InterestRate, TimeToMaturity, kImpliedSearchVolatility,
              DividendRate, ModelType, ForeignInterestRate);
  args.put_target = PutValue;
  args.max_iter = MaxIter;
  return BjeDispatch(state_, BjeMethodCode::kImpliedVolatilityPut,
                     "Error in BJEImpliedVolatilityPut", args, Bind(IVolatility), {});
}

HRESULT KvQuantorb::BJEImpliedVolatilitySkew(double StockPrice, VARIANT* ExercisePrice,
                                             double InterestRate, double TimeToMaturity,
                                             double DividendRate, LONG ModelType,
                                             double ForeignInterestRate, VARIANT* CallValue,
                                             VARIANT* PutValue, LONG MaxIter,
                                             VARIANT* IVolatilityCall, VARIANT* IVolatilityPut) {
  const CallHold hold(this);
  return BjeSkewDispatch(state_,
                         {.stock_price = StockPrice,
                          .interest_rate = InterestRate,
                          .time_to_maturity = TimeToMaturity,
                          .dividend_rate = DividendRate,
                          .model_type = ModelType,
                          .foreign_rate = ForeignInterestRate,
                          .max_iter = MaxIter},
                         {.exercise_price = ExercisePrice,
                          .call_value = CallValue,
                          .put_value = PutValue,
                          .volatility_call = IVolatilityCall,
                          .volatility_put = IVolatilityPut});
}

}  // namespace kx::component
