#include "kv_quantorb.h"

#include "about_box.h"
#include "binomial_methods.h"
#include "bjerksund_stensland_methods.h"
#include "black_scholes_methods.h"
#include "class_factory.h"
#include "historical_volatility_methods.h"
#include "kx/platform/dialog.h"
#include "kx/platform/messages.h"
#include "kx/platform/typeinfo.h"
#include "method_frame.h"
#include "quantorb_typelib.h"

namespace kx::component {

using namespace kx::platform;

namespace {

// Keeps the object alive for the whole call: a message handler run during the pumped wait may
// release the client's last reference.
class CallHold {
 public:
  explicit CallHold(KvQuantorb* object) noexcept : object_(object) { object_->AddRef(); }
  CallHold(const CallHold&) = delete;
  CallHold& operator=(const CallHold&) = delete;
  ~CallHold() { object_->Release(); }

 private:
  KvQuantorb* object_;
};

// The implied-volatility methods have no volatility argument; 0.1 passes the validator.
constexpr double kImpliedSearchVolatility = 0.1;

ScalarArguments BsArgs(double s, double k, double r, double t, double sigma, double q) {
  return {.stock_price = s,
          .exercise_price = k,
          .interest_rate = r,
          .time_to_maturity = t,
          .volatility = sigma,
          .dividend_rate = q};
}

ScalarArguments BjeArgs(double s, double x, double r, double t, double sigma, double q,
                        LONG model_type, double rf) {
  ScalarArguments args = BsArgs(s, x, r, t, sigma, q);
  args.model_type = model_type;
  args.foreign_rate = rf;
  return args;
}

ScalarArguments BinArgs(double s, double k, double r, double t, double sigma, double q,
                        LONG model_type, double rf, LONG bin_steps, LONG flag_eur_am) {
  ScalarArguments args = BjeArgs(s, k, r, t, sigma, q, model_type, rf);
  args.bin_steps = bin_steps;
  args.flag_eur_am = flag_eur_am;
  return args;
}

}  // namespace

KvQuantorb::KvQuantorb() noexcept : state_(this), property_sinks_(this) {
  ComponentModuleLocks().Lock();
}

KvQuantorb::~KvQuantorb() {
  // No calls to the site here: it could reach this object again while it is being destroyed.
  if (window_) (void)DestroyWindow(window_);
  property_sinks_.UnadviseAll();
  ComponentModuleLocks().Unlock();
}

HRESULT KvQuantorb::CreateInstance(IUnknown* outer, REFIID riid, void** object) noexcept {
  return ComponentClassFactory().CreateInstance(outer, riid, object);
}

HRESULT KvQuantorb::AdviseEvents(IDispatch* sink, DWORD* cookie) noexcept {
  return state_.events.Advise(sink, cookie);
}

HRESULT KvQuantorb::UnadviseEvents(DWORD cookie) noexcept { return state_.events.Unadvise(cookie); }

// IUnknown

HRESULT KvQuantorb::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  void* found = nullptr;
  if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IKvQuantorb) {
    found = static_cast<IKvQuantorb*>(this);
  } else if (riid == IID_IViewObjectEx || riid == IID_IViewObject2 || riid == IID_IViewObject) {
    found = static_cast<IViewObjectEx*>(this);
  } else if (riid == IID_IOleInPlaceObjectWindowless || riid == IID_IOleInPlaceObject ||
             riid == IID_IOleWindow) {
    found = static_cast<IOleInPlaceObjectWindowless*>(this);
  } else if (riid == IID_IOleInPlaceActiveObject) {
    found = static_cast<IOleInPlaceActiveObject*>(this);
  } else if (riid == IID_IOleControl) {
    found = static_cast<IOleControl*>(this);
  } else if (riid == IID_IOleObject) {
    found = static_cast<IOleObject*>(this);
  } else if (riid == IID_IPersistStreamInit || riid == IID_IPersist) {
    found = static_cast<IPersistStreamInit*>(this);
  } else if (riid == IID_ISupportErrorInfo) {
    found = static_cast<ISupportErrorInfo*>(this);
  } else if (riid == IID_IConnectionPointContainer) {
    found = static_cast<IConnectionPointContainer*>(this);
  } else if (riid == IID_ISpecifyPropertyPages) {
    found = static_cast<ISpecifyPropertyPages*>(this);
  } else if (riid == IID_IQuickActivate) {
    found = static_cast<IQuickActivate*>(this);
  } else if (riid == IID_IPersistStorage) {
    found = static_cast<IPersistStorage*>(this);
  } else if (riid == IID_IDataObject) {
    found = static_cast<IDataObject*>(this);
  } else if (riid == IID_IProvideClassInfo || riid == IID_IProvideClassInfo2) {
    found = static_cast<IProvideClassInfo2*>(this);
  } else if (riid == IID_IPersistPropertyBag) {
    found = static_cast<IPersistPropertyBag*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  *object = found;
  return S_OK;
}

ULONG KvQuantorb::AddRef() { return references_.fetch_add(1, std::memory_order_relaxed) + 1; }

ULONG KvQuantorb::Release() {
  const ULONG left = references_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left == 0) delete this;
  return left;
}

// IDispatch

HRESULT KvQuantorb::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT KvQuantorb::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  const KorvaneTypeLibrary* lib = LoadKorvaneTypeLibrary();
  if (!lib) return TYPE_E_CANTLOADLIBRARY;
  return lib->type_lib->GetTypeInfoOfGuid(IID_IKvQuantorb, info);
}

HRESULT KvQuantorb::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  const KorvaneTypeLibrary* lib = LoadKorvaneTypeLibrary();
  if (!lib) return TYPE_E_CANTLOADLIBRARY;
  return DispGetIDsOfNames(*lib->quantorb, names, count, ids);
}

HRESULT KvQuantorb::Invoke(DISPID member, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                           VARIANT* result, EXCEPINFO* excep, UINT* arg_err) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  const KorvaneTypeLibrary* lib = LoadKorvaneTypeLibrary();
  if (!lib) return TYPE_E_CANTLOADLIBRARY;
  const CallHold hold(this);
  return DispInvoke(static_cast<IKvQuantorb*>(this), *lib->quantorb, member, flags, params, result,
                    excep, arg_err);
}

// Properties

template <class Store>
HRESULT KvQuantorb::PutNotified(DISPID property, Store store) noexcept {
  if (property_sinks_.RequestEdit(property) == S_FALSE) return S_FALSE;
  store();
  dirty_.store(true);
  property_sinks_.Changed(property);
  return S_OK;
}

HRESULT KvQuantorb::get_Base(LONG* value) {
  if (!value) return E_POINTER;
  *value = state_.settings.base.load();
  return S_OK;
}

HRESULT KvQuantorb::put_Base(LONG value) {
  const CallHold hold(this);
  return PutNotified(kDispidBase, [&] { state_.settings.base.store(value); });
}

HRESULT KvQuantorb::get_BlockingMode(SHORT* value) {
  if (!value) return E_POINTER;
  *value = state_.settings.blocking_mode.load();
  return S_OK;
}

HRESULT KvQuantorb::put_BlockingMode(SHORT value) {
  const CallHold hold(this);
  return PutNotified(kDispidBlockingMode, [&] { state_.settings.blocking_mode.store(value); });
}

// Black-Scholes

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

// Binomial

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

// Bjerksund-Stensland

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

// Historical volatility

HRESULT KvQuantorb::HistoricalVolatility(VARIANT* Prices, LONG TradingDays, VARIANT* Volatility) {
  const CallHold hold(this);
  return HistoricalVolatilityDispatch(state_, Prices, TradingDays, Volatility);
}

HRESULT KvQuantorb::HistoricalVolatility1(VARIANT* Prices, LONG TradingDays, double* Volatility) {
  const CallHold hold(this);
  return HistoricalVolatility1Dispatch(state_, Prices, TradingDays, Volatility);
}

// Abort and About

HRESULT KvQuantorb::Abort() { return AbortComputation(); }

HRESULT KvQuantorb::About() {
  const CallHold hold(this);
  return ShowAboutBox(GetActiveWindow());
}

}  // namespace kx::component
