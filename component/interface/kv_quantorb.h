// The KvQuantorb object: IKvQuantorb over the pricing families, with its settings and the
// connected _IKvQuantorbEvents sinks.
#pragma once

#include <atomic>

#include "ikvquantorb.h"
#include "object_state.h"

namespace kx::component {

using kx::platform::DWORD;
using kx::platform::ULONG;

class KvQuantorb final : public IKvQuantorb {
 public:
  /// Creates an object and queries it for `riid`. CLASS_E_NOAGGREGATION when `outer` is set.
  [[nodiscard]] static HRESULT CreateInstance(kx::platform::IUnknown* outer,
                                              kx::platform::REFIID riid, void** object) noexcept;

  KvQuantorb(const KvQuantorb&) = delete;
  KvQuantorb& operator=(const KvQuantorb&) = delete;

  // Event connections for the connection point of _IKvQuantorbEvents.
  [[nodiscard]] HRESULT AdviseEvents(kx::platform::IDispatch* sink, DWORD* cookie) noexcept;
  [[nodiscard]] HRESULT UnadviseEvents(DWORD cookie) noexcept;

  [[nodiscard]] ObjectState& state() noexcept { return state_; }

  // IUnknown
  HRESULT QueryInterface(kx::platform::REFIID riid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;

  // IDispatch
  HRESULT GetTypeInfoCount(kx::platform::UINT* count) override;
  HRESULT GetTypeInfo(kx::platform::UINT index, kx::platform::LCID lcid,
                      kx::platform::ITypeInfo** info) override;
  HRESULT GetIDsOfNames(kx::platform::REFIID riid, kx::platform::LPOLESTR* names,
                        kx::platform::UINT count, kx::platform::LCID lcid, DISPID* ids) override;
  HRESULT Invoke(DISPID member, kx::platform::REFIID riid, kx::platform::LCID lcid,
                 kx::platform::WORD flags, kx::platform::DISPPARAMS* params, VARIANT* result,
                 kx::platform::EXCEPINFO* excep, kx::platform::UINT* arg_err) override;

  // IKvQuantorb
  HRESULT get_Base(LONG* value) override;
  HRESULT put_Base(LONG value) override;
  HRESULT get_BlockingMode(SHORT* value) override;
  HRESULT put_BlockingMode(SHORT value) override;

  HRESULT BSCallPrice(double StockPrice, double ExercisePrice, double InterestRate,
                      double TimeToMaturity, double Volatility, double DividendRate,
                      double* CPrice) override;
  HRESULT BSPutPrice(double StockPrice, double ExercisePrice, double InterestRate,
                     double TimeToMaturity, double Volatility, double DividendRate,
                     double* PPrice) override;
  HRESULT BSDelta(double StockPrice, double ExercisePrice, double InterestRate,
                  double TimeToMaturity, double Volatility, double DividendRate, double* CDelta,
                  double* PDelta) override;
  HRESULT BSTheta(double StockPrice, double ExercisePrice, double InterestRate,
                  double TimeToMaturity, double Volatility, double DividendRate, double* CTheta,
                  double* PTheta) override;
  HRESULT BSGamma(double StockPrice, double ExercisePrice, double InterestRate,
                  double TimeToMaturity, double Volatility, double DividendRate,
                  double* Gamma) override;
  HRESULT BSVega(double StockPrice, double ExercisePrice, double InterestRate,
                 double TimeToMaturity, double Volatility, double DividendRate,
                 double* Vega) override;
  HRESULT BSRho(double StockPrice, double ExercisePrice, double InterestRate,
                double TimeToMaturity, double Volatility, double DividendRate, double* CRho,
                double* PRho) override;
  HRESULT BSImpliedVolatility(double StockPrice, double ExercisePrice, double InterestRate,
                              double TimeToMaturity, double DividendRate, double CallValue,
                              LONG MaxIter, double* IVolatility) override;
  HRESULT BSImpliedVolatilityPut(double StockPrice, double ExercisePrice, double InterestRate,
                                 double TimeToMaturity, double DividendRate, double PutValue,
                                 LONG MaxIter, double* IVolatility) override;
  HRESULT BSImpliedVolatilitySkew(double StockPrice, VARIANT* ExercisePrice, double InterestRate,
                                  double TimeToMaturity, double DividendRate, VARIANT* CallValue,
                                  VARIANT* PutValue, LONG MaxIter, VARIANT* IVolatilityCall,
                                  VARIANT* IVolatilityPut) override;

  HRESULT BinCallPrice(double StockPrice, double ExercisePrice, double InterestRate,
                       double TimeToMaturity, double Volatility, double DividendRate,
                       LONG ModelType, double ForeignInterestRate, LONG BinSteps, LONG FlagEurAm,
                       double* CPrice) override;
  HRESULT BinPutPrice(double StockPrice, double ExercisePrice, double InterestRate,
                      double TimeToMaturity, double Volatility, double DividendRate,
                      LONG ModelType, double ForeignInterestRate, LONG BinSteps, LONG FlagEurAm,
                      double* PPrice) override;
  HRESULT BinPrice(double StockPrice, double ExercisePrice, double InterestRate,
                   double TimeToMaturity, double Volatility, double DividendRate, LONG ModelType,
                   double ForeignInterestRate, LONG BinSteps, LONG FlagEurAm, double* CPrice,
                   double* PPrice) override;
  HRESULT BinPriceGreeks(double StockPrice, double ExercisePrice, double InterestRate,
                         double TimeToMaturity, double Volatility, double DividendRate,
                         LONG ModelType, double ForeignInterestRate, LONG BinSteps,
                         LONG FlagEurAm, double* CallPrice, double* PutPrice, double* CDelta,
                         double* PDelta, double* CTheta, double* PTheta, double* Gamma,
                         LONG DoVega, double* Vega, LONG DoRho, double* CRho,
                         double* PRho) override;
  HRESULT BinDelta(double StockPrice, double ExercisePrice, double InterestRate,
                   double TimeToMaturity, double Volatility, double DividendRate, LONG ModelType,
                   double ForeignInterestRate, LONG BinSteps, LONG FlagEurAm, double* CDelta,
                   double* PDelta) override;
  HRESULT BinTheta(double StockPrice, double ExercisePrice, double InterestRate,
                   double TimeToMaturity, double Volatility, double DividendRate, LONG ModelType,
                   double ForeignInterestRate, LONG BinSteps, LONG FlagEurAm, double* CTheta,
                   double* PTheta) override;
  HRESULT BinGamma(double StockPrice, double ExercisePrice, double InterestRate,
                   double TimeToMaturity, double Volatility, double DividendRate, LONG ModelType,
                   double ForeignInterestRate, LONG BinSteps, LONG FlagEurAm,
                   double* Gamma) override;
  HRESULT BinVega(double StockPrice, double ExercisePrice, double InterestRate,
                  double TimeToMaturity, double Volatility, double DividendRate, LONG ModelType,
                  double ForeignInterestRate, LONG BinSteps, LONG FlagEurAm,
                  double* Vega) override;
  HRESULT BinRho(double StockPrice, double ExercisePrice, double InterestRate,
                 double TimeToMaturity, double Volatility, double DividendRate, LONG ModelType,
                 double ForeignInterestRate, LONG BinSteps, LONG FlagEurAm, double* CRho,
                 double* PRho) override;
  HRESULT BinImpliedVolatility(double StockPrice, double ExercisePrice, double InterestRate,
                               double TimeToMaturity, double DividendRate, LONG ModelType,
                               double ForeignInterestRate, LONG BinSteps, LONG FlagEurAm,
                               double CallValue, LONG MaxIter, double* IVolatility) override;
  HRESULT BinImpliedVolatilityPut(double StockPrice, double ExercisePrice, double InterestRate,
                                  double TimeToMaturity, double DividendRate, LONG ModelType,
                                  double ForeignInterestRate, LONG BinSteps, LONG FlagEurAm,
                                  double PutValue, LONG MaxIter, double* IVolatility) override;
  HRESULT BinImpliedVolatilitySkew(double StockPrice, VARIANT* ExercisePrice, double InterestRate,
                                   double TimeToMaturity, double DividendRate, LONG ModelType,
                                   double ForeignInterestRate, LONG BinSteps, LONG FlagEurAm,
                                   VARIANT* CallValue, VARIANT* PutValue, LONG MaxIter,
                                   VARIANT* IVolatilityCall, VARIANT* IVolatilityPut) override;
  HRESULT BinCallDelta(double StockPrice, double ExercisePrice, double InterestRate,
                       double TimeToMaturity, double Volatility, double DividendRate,
                       LONG ModelType, double ForeignInterestRate, LONG BinSteps, LONG FlagEurAm,
                       double* CDelta) override;
  HRESULT BinPutDelta(double StockPrice, double ExercisePrice, double InterestRate,
                      double TimeToMaturity, double Volatility, double DividendRate,
                      LONG ModelType, double ForeignInterestRate, LONG BinSteps, LONG FlagEurAm,
                      double* PDelta) override;

  HRESULT BJECallPrice(double StockPrice, double ExercisePrice, double InterestRate,
                       double TimeToMaturity, double Volatility, double DividendRate,
                       LONG ModelType, double ForeignInterestRate, double* CPrice) override;
  HRESULT BJEPutPrice(double StockPrice, double ExercisePrice, double InterestRate,
                      double TimeToMaturity, double Volatility, double DividendRate,
                      LONG ModelType, double ForeignInterestRate, double* PPrice) override;
  HRESULT BJEDelta(double StockPrice, double ExercisePrice, double InterestRate,
                   double TimeToMaturity, double Volatility, double DividendRate, LONG ModelType,
                   double ForeignInterestRate, double* CDelta, double* PDelta) override;
  HRESULT BJETheta(double StockPrice, double ExercisePrice, double InterestRate,
                   double TimeToMaturity, double Volatility, double DividendRate, LONG ModelType,
                   double ForeignInterestRate, double* CTheta, double* PTheta) override;
  HRESULT BJEGamma(double StockPrice, double ExercisePrice, double InterestRate,
                   double TimeToMaturity, double Volatility, double DividendRate, LONG ModelType,
                   double ForeignInterestRate, double* Gamma) override;
  HRESULT BJEVega(double StockPrice, double ExercisePrice, double InterestRate,
                  double TimeToMaturity, double Volatility, double DividendRate, LONG ModelType,
                  double ForeignInterestRate, double* Vega) override;
  HRESULT BJERho(double StockPrice, double ExercisePrice, double InterestRate,
                 double TimeToMaturity, double Volatility, double DividendRate, LONG ModelType,
                 double ForeignInterestRate, double* CRho, double* PRho) override;
  HRESULT BJEImpliedVolatility(double StockPrice, double ExercisePrice, double InterestRate,
                               double TimeToMaturity, double DividendRate, LONG ModelType,
                               double ForeignInterestRate, double CallValue, LONG MaxIter,
                               double* IVolatility) override;
  HRESULT BJEImpliedVolatilityPut(double StockPrice, double ExercisePrice, double InterestRate,
                                  double TimeToMaturity, double DividendRate, LONG ModelType,
                                  double ForeignInterestRate, double PutValue, LONG MaxIter,
                                  double* IVolatility) override;
  HRESULT BJEImpliedVolatilitySkew(double StockPrice, VARIANT* ExercisePrice, double InterestRate,
                                   double TimeToMaturity, double DividendRate, LONG ModelType,
                                   double ForeignInterestRate, VARIANT* CallValue,
                                   VARIANT* PutValue, LONG MaxIter, VARIANT* IVolatilityCall,
                                   VARIANT* IVolatilityPut) override;

  HRESULT HistoricalVolatility(VARIANT* Prices, LONG TradingDays, VARIANT* Volatility) override;
  HRESULT HistoricalVolatility1(VARIANT* Prices, LONG TradingDays, double* Volatility) override;

  HRESULT Abort() override;
  HRESULT About() override;

 private:
  KvQuantorb() = default;
  ~KvQuantorb() = default;

  std::atomic<ULONG> references_{0};
  ObjectState state_;
};

}  // namespace kx::component
