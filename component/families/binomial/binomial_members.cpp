// The binomial members of KvQuantorb, in vtable order: thin wrappers that hold the object
// and hand their arguments to the family's dispatcher (binomial_methods.h).
#include "binomial_methods.h"

#include "call_hold.h"
#include "kv_quantorb.h"

namespace kx::component {

using namespace kx::platform;

HRESULT KvQuantorb::BinCallPrice(double StockPrice, double ExercisePrice, double InterestRate,
                                 double TimeToMaturity, double Volatility, double DividendRate,
                                 LONG ModelType, double ForeignInterestRate, LONG BinSteps,
                                 LONG FlagEurAm, double* CPrice) {
  const CallHold hold(this);
  return BinDispatch(state_, BinMethodCode::kCallPrice, "Error in BinCallPrice",
                     BinArgs(StockPrice, ExercisePrice, InterestRate, TimeToMaturity, Volatility,
                             DividendRate, ModelType, ForeignInterestRate, BinSteps, FlagEurAm),
                     {.call_price = Bind(CPrice)});
}

HRESULT KvQuantorb::BinPutPrice(double StockPrice, double ExercisePrice, double InterestRate,
                                double TimeToMaturity, double Volatility, double DividendRate,
                                LONG ModelType, double ForeignInterestRate, LONG BinSteps,
                                LONG FlagEurAm, double* PPrice) {
  const CallHold hold(this);
  return BinDispatch(state_, BinMethodCode::kPutPrice, "Error in BinPutPrice",
                     BinArgs(StockPrice, ExercisePrice, InterestRate, TimeToMaturity, Volatility,
                             DividendRate, ModelType, ForeignInterestRate, BinSteps, FlagEurAm),
                     {.put_price = Bind(PPrice)});
}

HRESULT KvQuantorb::BinPrice(double StockPrice, double ExercisePrice, double InterestRate,
                             double TimeToMaturity, double Volatility, double DividendRate,
                             LONG ModelType, double ForeignInterestRate, LONG BinSteps,
                             LONG FlagEurAm, double* CPrice, double* PPrice) {
  const CallHold hold(this);
  return BinDispatch(state_, BinMethodCode::kPrice, "Error in BinPrice",
                     BinArgs(StockPrice, ExercisePrice, InterestRate, TimeToMaturity, Volatility,
                             DividendRate, ModelType, ForeignInterestRate, BinSteps, FlagEurAm),
                     {.call_price = Bind(CPrice), .put_price = Bind(PPrice)});
}

HRESULT KvQuantorb::BinPriceGreeks(double StockPrice, double ExercisePrice, double InterestRate,
                                   double TimeToMaturity, double Volatility, double DividendRate,
                                   LONG ModelType, double ForeignInterestRate, LONG BinSteps,
                                   LONG FlagEurAm, double* CallPrice, double* PutPrice,
                                   double* CDelta, double* PDelta, double* CTheta, double* PTheta,
                                   double* Gamma, LONG /*DoVega*/, double* Vega, LONG /*DoRho*/,
                                   double* CRho, double* PRho) {
  // Vega and the rhos are always computed: DoVega and DoRho are accepted and have no effect.
  const CallHold hold(this);
  return BinDispatch(state_, BinMethodCode::kPriceGreeks, "Error in BinPriceGreeks",
                     BinArgs(StockPrice, ExercisePrice, InterestRate, TimeToMaturity, Volatility,
                             DividendRate, ModelType, ForeignInterestRate, BinSteps, FlagEurAm),
                     {.call_price = Bind(CallPrice),
                      .put_price = Bind(PutPrice),
                      .c_delta = Bind(CDelta),
                      .p_delta = Bind(PDelta),
                      .c_theta = Bind(CTheta),
                      .p_theta = Bind(PTheta),
                      .gamma = Bind(Gamma),
                      .vega = Bind(Vega),
                      .c_rho = Bind(CRho),
                      .p_rho = Bind(PRho)});
}

HRESULT KvQuantorb::BinDelta(double StockPrice, double ExercisePrice, double InterestRate,
                             double TimeToMaturity, double Volatility, double DividendRate,
                             LONG ModelType, double ForeignInterestRate, LONG BinSteps,
                             LONG FlagEurAm, double* CDelta, double* PDelta) {
  const CallHold hold(this);
  return BinDispatch(state_, BinMethodCode::kDelta, "Error in BinDelta",
                     BinArgs(StockPrice, ExercisePrice, InterestRate, TimeToMaturity, Volatility,
                             DividendRate, ModelType, ForeignInterestRate, BinSteps, FlagEurAm),
                     {.c_delta = Bind(CDelta), .p_delta = Bind(PDelta)});
}

HRESULT KvQuantorb::BinTheta(double StockPrice, double ExercisePrice, double InterestRate,
                             double TimeToMaturity, double Volatility, double DividendRate,
                             LONG ModelType, double ForeignInterestRate, LONG BinSteps,
                             LONG FlagEurAm, double* CTheta, double* PTheta) {
  const CallHold hold(this);
  return BinDispatch(state_, BinMethodCode::kTheta, "Error in BinTheta",
                     BinArgs(StockPrice, ExercisePrice, InterestRate, TimeToMaturity, Volatility,
                             DividendRate, ModelType, ForeignInterestRate, BinSteps, FlagEurAm),
                     {.c_theta = Bind(CTheta), .p_theta = Bind(PTheta)});
}

HRESULT KvQuantorb::BinGamma(double StockPrice, double ExercisePrice, double InterestRate,
                             double TimeToMaturity, double Volatility, double DividendRate,
                             LONG ModelType, double ForeignInterestRate, LONG BinSteps,
                             LONG FlagEurAm, double* Gamma) {
  const CallHold hold(this);
  return BinDispatch(state_, BinMethodCode::kGamma, "Error in BinGamma",
                     BinArgs(StockPrice, ExercisePrice, InterestRate, TimeToMaturity, Volatility,
                             DividendRate, ModelType, ForeignInterestRate, BinSteps, FlagEurAm),
                     {.gamma = Bind(Gamma)});
}

HRESULT KvQuantorb::BinVega(double StockPrice, double ExercisePrice, double InterestRate,
                            double TimeToMaturity, double Volatility, double DividendRate,
                            LONG ModelType, double ForeignInterestRate, LONG BinSteps,
                            LONG FlagEurAm, double* Vega) {
  const CallHold hold(this);
  return BinDispatch(state_, BinMethodCode::kVega, "Error in BinVega",
                     BinArgs(StockPrice, ExercisePrice, InterestRate, TimeToMaturity, Volatility,
                             DividendRate, ModelType, ForeignInterestRate, BinSteps, FlagEurAm),
                     {.vega = Bind(Vega)});
}

HRESULT KvQuantorb::BinRho(double StockPrice, double ExercisePrice, double InterestRate,
                           double TimeToMaturity, double Volatility, double DividendRate,
                           LONG ModelType, double ForeignInterestRate, LONG BinSteps,
                           LONG FlagEurAm, double* CRho, double* PRho) {
  const CallHold hold(this);
  return BinDispatch(state_, BinMethodCode::kRho, "Error in BinRho",
                     BinArgs(StockPrice, ExercisePrice, InterestRate, TimeToMaturity, Volatility,
                             DividendRate, ModelType, ForeignInterestRate, BinSteps, FlagEurAm),
                     {.c_rho = Bind(CRho), .p_rho = Bind(PRho)});
}

HRESULT KvQuantorb::BinImpliedVolatility(double StockPrice, double ExercisePrice,
                                         double InterestRate, double TimeToMaturity,
                                         double DividendRate, LONG ModelType,
                                         double ForeignInterestRate, LONG BinSteps, LONG FlagEurAm,
                                         double CallValue, LONG MaxIter, double* IVolatility) {
  const CallHold hold(this);
  ScalarArguments args =
      BinArgs(StockPrice, ExercisePrice, InterestRate, TimeToMaturity, kImpliedSearchVolatility,
              DividendRate, ModelType, ForeignInterestRate, BinSteps, FlagEurAm);
  args.call_target = CallValue;
  args.max_iter = MaxIter;
  return BinDispatch(state_, BinMethodCode::kImpliedVolatility, "Error in BinImpliedVolatility",
                     args, {.implied_volatility = Bind(IVolatility)});
}

HRESULT KvQuantorb::BinImpliedVolatilityPut(double StockPrice, double ExercisePrice,
                                            double InterestRate, double TimeToMaturity,
                                            double DividendRate, LONG ModelType,
                                            double ForeignInterestRate, LONG BinSteps,
                                            LONG FlagEurAm, double PutValue, LONG MaxIter,
                                            double* IVolatility) {
  const CallHold hold(this);
  ScalarArguments args =
      BinArgs(StockPrice, ExercisePrice, InterestRate, TimeToMaturity, kImpliedSearchVolatility,
              DividendRate, ModelType, ForeignInterestRate, BinSteps, FlagEurAm);
  args.put_target = PutValue;
  args.max_iter = MaxIter;
  return BinDispatch(state_, BinMethodCode::kImpliedVolatilityPut,
                     "Error in BinImpliedVolatilityPut", args,
                     {.implied_volatility = Bind(IVolatility)});
}

HRESULT KvQuantorb::BinImpliedVolatilitySkew(double StockPrice, VARIANT* ExercisePrice,
                                             double InterestRate, double TimeToMaturity,
                                             double DividendRate, LONG ModelType,
                                             double ForeignInterestRate, LONG BinSteps,
                                             LONG FlagEurAm, VARIANT* CallValue, VARIANT* PutValue,
                                             LONG MaxIter, VARIANT* IVolatilityCall,
                                             VARIANT* IVolatilityPut) {
  const CallHold hold(this);
  return BinSkewDispatch(state_,
                         {.stock_price = StockPrice,
                          .interest_rate = InterestRate,
                          .time_to_maturity = TimeToMaturity,
                          .dividend_rate = DividendRate,
                          .model_type = ModelType,
                          .foreign_rate = ForeignInterestRate,
                          .bin_steps = BinSteps,
                          .flag_eur_am = FlagEurAm,
                          .max_iter = MaxIter},
                         {.exercise_price = ExercisePrice,
                          .call_value = CallValue,
                          .put_value = PutValue,
                          .volatility_call = IVolatilityCall,
                          .volatility_put = IVolatilityPut});
}

HRESULT KvQuantorb::BinCallDelta(double StockPrice, double ExercisePrice, double InterestRate,
                                 double TimeToMaturity, double Volatility, double DividendRate,
                                 LONG ModelType, double ForeignInterestRate, LONG BinSteps,
                                 LONG FlagEurAm, double* CDelta) {
  const CallHold hold(this);
  return BinDispatch(state_, BinMethodCode::kDelta, "Error in BinCallDelta",
                     BinArgs(StockPrice, ExercisePrice, InterestRate, TimeToMaturity, Volatility,
                             DividendRate, ModelType, ForeignInterestRate, BinSteps, FlagEurAm),
                     {.c_delta = Bind(CDelta)});
}

HRESULT KvQuantorb::BinPutDelta(double StockPrice, double ExercisePrice, double InterestRate,
                                double TimeToMaturity, double Volatility, double DividendRate,
                                LONG ModelType, double ForeignInterestRate, LONG BinSteps,
                                LONG FlagEurAm, double* PDelta) {
  const CallHold hold(this);
  return BinDispatch(state_, BinMethodCode::kDelta, "Error in BinPutDelta",
                     BinArgs(StockPrice, ExercisePrice, InterestRate, TimeToMaturity, Volatility,
                             DividendRate, ModelType, ForeignInterestRate, BinSteps, FlagEurAm),
                     {.p_delta = Bind(PDelta)});
}

}  // namespace kx::component
