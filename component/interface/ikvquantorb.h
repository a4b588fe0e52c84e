// The dual interface IKvQuantorb and the identity of the KvQuantorb class, as clients bind them.
//
// Members are declared in vtable order. [in] doubles and integers are passed by value, [out] and
// [in, out] doubles through pointers, VARIANT arguments by reference; a retval output comes last.
// Every member returns an HRESULT and throws nothing.
#pragma once

#include "kx/platform/guid.h"
#include "kx/platform/hresult.h"
#include "kx/platform/unknown.h"
#include "kx/platform/variant.h"

namespace kx::component {

using kx::platform::DISPID;
using kx::platform::GUID;
using kx::platform::HRESULT;
using kx::platform::IID;
using kx::platform::LONG;
using kx::platform::SHORT;
using kx::platform::VARIANT;

// {7C41E2A0-3B95-4D6E-A1F8-62D0B94C5E17}
inline constexpr GUID LIBID_KORVANELib{
    0x7C41E2A0, 0x3B95, 0x4D6E, {0xA1, 0xF8, 0x62, 0xD0, 0xB9, 0x4C, 0x5E, 0x17}};
// {7C41E2A1-3B95-4D6E-A1F8-62D0B94C5E17}
inline constexpr GUID CLSID_KvQuantorb{
    0x7C41E2A1, 0x3B95, 0x4D6E, {0xA1, 0xF8, 0x62, 0xD0, 0xB9, 0x4C, 0x5E, 0x17}};
// {7C41E2A2-3B95-4D6E-A1F8-62D0B94C5E17}
inline constexpr IID IID_IKvQuantorb{
    0x7C41E2A2, 0x3B95, 0x4D6E, {0xA1, 0xF8, 0x62, 0xD0, 0xB9, 0x4C, 0x5E, 0x17}};
// {7C41E2A3-3B95-4D6E-A1F8-62D0B94C5E17}: the dispinterface _IKvQuantorbEvents.
inline constexpr IID DIID__IKvQuantorbEvents{
    0x7C41E2A3, 0x3B95, 0x4D6E, {0xA1, 0xF8, 0x62, 0xD0, 0xB9, 0x4C, 0x5E, 0x17}};

/// DISPIDs of IKvQuantorb (and of the one event, Done).
enum KvQuantorbDispid : DISPID {
  kDispidBase = 1,
  kDispidBlockingMode = 2,
  kDispidBSCallPrice = 10,
  kDispidBSPutPrice = 11,
  kDispidBSDelta = 12,
  kDispidBSTheta = 13,
  kDispidBSGamma = 14,
  kDispidBSVega = 15,
  kDispidBSRho = 16,
  kDispidBSImpliedVolatility = 17,
  kDispidBSImpliedVolatilityPut = 18,
  kDispidBSImpliedVolatilitySkew = 19,
  kDispidBinCallPrice = 40,
  kDispidBinPutPrice = 41,
  kDispidBinPrice = 42,
  kDispidBinPriceGreeks = 43,
  kDispidBinDelta = 44,
  kDispidBinTheta = 45,
  kDispidBinGamma = 46,
  kDispidBinVega = 47,
  kDispidBinRho = 48,
  kDispidBinImpliedVolatility = 49,
  kDispidBinImpliedVolatilityPut = 50,
  kDispidBinImpliedVolatilitySkew = 51,
  kDispidBinCallDelta = 52,
  kDispidBinPutDelta = 53,
  kDispidBJECallPrice = 120,
  kDispidBJEPutPrice = 121,
  kDispidBJEDelta = 122,
  kDispidBJETheta = 123,
  kDispidBJEGamma = 124,
  kDispidBJEVega = 125,
  kDispidBJERho = 126,
  kDispidBJEImpliedVolatility = 127,
  kDispidBJEImpliedVolatilityPut = 128,
  kDispidBJEImpliedVolatilitySkew = 129,
  kDispidHistoricalVolatility = 330,
  kDispidHistoricalVolatility1 = 331,
  kDispidAbort = 500,
  kDispidAbout = kx::platform::DISPID_ABOUTBOX,
};

/// DISPID of _IKvQuantorbEvents::Done(LastMethod I2, ErrorCode I2, ErrorString BSTR).
inline constexpr DISPID kDispidDone = 1;

struct IKvQuantorb : kx::platform::IDispatch {
  static constexpr IID kIid = IID_IKvQuantorb;

  // Properties.
  virtual HRESULT STDMETHODCALLTYPE get_Base(LONG* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Base(LONG value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_BlockingMode(SHORT* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_BlockingMode(SHORT value) = 0;

  // Black-Scholes, European options on a stock with a continuous dividend yield.
  virtual HRESULT STDMETHODCALLTYPE BSCallPrice(double StockPrice, double ExercisePrice,
                                                double InterestRate, double TimeToMaturity,
                                                double Volatility, double DividendRate,
                                                double* CPrice) = 0;
  virtual HRESULT STDMETHODCALLTYPE BSPutPrice(double StockPrice, double ExercisePrice,
                                               double InterestRate, double TimeToMaturity,
                                               double Volatility, double DividendRate,
                                               double* PPrice) = 0;
  virtual HRESULT STDMETHODCALLTYPE BSDelta(double StockPrice, double ExercisePrice,
                                            double InterestRate, double TimeToMaturity,
                                            double Volatility, double DividendRate, double* CDelta,
                                            double* PDelta) = 0;
  virtual HRESULT STDMETHODCALLTYPE BSTheta(double StockPrice, double ExercisePrice,
                                            double InterestRate, double TimeToMaturity,
                                            double Volatility, double DividendRate, double* CTheta,
                                            double* PTheta) = 0;
  virtual HRESULT STDMETHODCALLTYPE BSGamma(double StockPrice, double ExercisePrice,
                                            double InterestRate, double TimeToMaturity,
                                            double Volatility, double DividendRate,
                                            double* Gamma) = 0;
  virtual HRESULT STDMETHODCALLTYPE BSVega(double StockPrice, double ExercisePrice,
                                           double InterestRate, double TimeToMaturity,
                                           double Volatility, double DividendRate,
                                           double* Vega) = 0;
  virtual HRESULT STDMETHODCALLTYPE BSRho(double StockPrice, double ExercisePrice,
                                          double InterestRate, double TimeToMaturity,
                                          double Volatility, double DividendRate, double* CRho,
                                          double* PRho) = 0;
  virtual HRESULT STDMETHODCALLTYPE BSImpliedVolatility(double StockPrice, double ExercisePrice,
                                                        double InterestRate, double TimeToMaturity,
                                                        double DividendRate, double CallValue,
                                                        LONG MaxIter, double* IVolatility) = 0;
  virtual HRESULT STDMETHODCALLTYPE BSImpliedVolatilityPut(double StockPrice, double ExercisePrice,
                                                           double InterestRate,
                                                           double TimeToMaturity,
                                                           double DividendRate, double PutValue,
                                                           LONG MaxIter, double* IVolatility) = 0;
  virtual HRESULT STDMETHODCALLTYPE BSImpliedVolatilitySkew(
      double StockPrice, VARIANT* ExercisePrice, double InterestRate, double TimeToMaturity,
      double DividendRate, VARIANT* CallValue, VARIANT* PutValue, LONG MaxIter,
      VARIANT* IVolatilityCall, VARIANT* IVolatilityPut) = 0;

  // Binomial tree, European and American options.
  virtual HRESULT STDMETHODCALLTYPE BinCallPrice(double StockPrice, double ExercisePrice,
                                                 double InterestRate, double TimeToMaturity,
                                                 double Volatility, double DividendRate,
                                                 LONG ModelType, double ForeignInterestRate,
                                                 LONG BinSteps, LONG FlagEurAm, double* CPrice) = 0;
  virtual HRESULT STDMETHODCALLTYPE BinPutPrice(double StockPrice, double ExercisePrice,
                                                double InterestRate, double TimeToMaturity,
                                                double Volatility, double DividendRate,
                                                LONG ModelType, double ForeignInterestRate,
                                                LONG BinSteps, LONG FlagEurAm, double* PPrice) = 0;
  virtual HRESULT STDMETHODCALLTYPE BinPrice(double StockPrice, double ExercisePrice,
                                             double InterestRate, double TimeToMaturity,
                                             double Volatility, double DividendRate, LONG ModelType,
                                             double ForeignInterestRate, LONG BinSteps,
                                             LONG FlagEurAm, double* CPrice, double* PPrice) = 0;
  virtual HRESULT STDMETHODCALLTYPE BinPriceGreeks(
      double StockPrice, double ExercisePrice, double InterestRate, double TimeToMaturity,
      double Volatility, double DividendRate, LONG ModelType, double ForeignInterestRate,
      LONG BinSteps, LONG FlagEurAm, double* CallPrice, double* PutPrice, double* CDelta,
      double* PDelta, double* CTheta, double* PTheta, double* Gamma, LONG DoVega, double* Vega,
      LONG DoRho, double* CRho, double* PRho) = 0;
  virtual HRESULT STDMETHODCALLTYPE BinDelta(double StockPrice, double ExercisePrice,
                                             double InterestRate, double TimeToMaturity,
                                             double Volatility, double DividendRate, LONG ModelType,
                                             double ForeignInterestRate, LONG BinSteps,
                                             LONG FlagEurAm, double* CDelta, double* PDelta) = 0;
  virtual HRESULT STDMETHODCALLTYPE BinTheta(double StockPrice, double ExercisePrice,
                                             double InterestRate, double TimeToMaturity,
                                             double Volatility, double DividendRate, LONG ModelType,
                                             double ForeignInterestRate, LONG BinSteps,
                                             LONG FlagEurAm, double* CTheta, double* PTheta) = 0;
  virtual HRESULT STDMETHODCALLTYPE BinGamma(double StockPrice, double ExercisePrice,
                                             double InterestRate, double TimeToMaturity,
                                             double Volatility, double DividendRate, LONG ModelType,
                                             double ForeignInterestRate, LONG BinSteps,
                                             LONG FlagEurAm, double* Gamma) = 0;
  virtual HRESULT STDMETHODCALLTYPE BinVega(double StockPrice, double ExercisePrice,
                                            double InterestRate, double TimeToMaturity,
                                            double Volatility, double DividendRate, LONG ModelType,
                                            double ForeignInterestRate, LONG BinSteps,
                                            LONG FlagEurAm, double* Vega) = 0;
  virtual HRESULT STDMETHODCALLTYPE BinRho(double StockPrice, double ExercisePrice,
                                           double InterestRate, double TimeToMaturity,
                                           double Volatility, double DividendRate, LONG ModelType,
                                           double ForeignInterestRate, LONG BinSteps,
                                           LONG FlagEurAm, double* CRho, double* PRho) = 0;
  virtual HRESULT STDMETHODCALLTYPE BinImpliedVolatility(double StockPrice, double ExercisePrice,
                                                         double InterestRate, double TimeToMaturity,
                                                         double DividendRate, LONG ModelType,
                                                         double ForeignInterestRate, LONG BinSteps,
                                                         LONG FlagEurAm, double CallValue,
                                                         LONG MaxIter, double* IVolatility) = 0;
  virtual HRESULT STDMETHODCALLTYPE BinImpliedVolatilityPut(
      double StockPrice, double ExercisePrice, double InterestRate, double TimeToMaturity,
      double DividendRate, LONG ModelType, double ForeignInterestRate, LONG BinSteps,
      LONG FlagEurAm, double PutValue, LONG MaxIter, double* IVolatility) = 0;
  virtual HRESULT STDMETHODCALLTYPE BinImpliedVolatilitySkew(
      double StockPrice, VARIANT* ExercisePrice, double InterestRate, double TimeToMaturity,
      double DividendRate, LONG ModelType, double ForeignInterestRate, LONG BinSteps,
      LONG FlagEurAm, VARIANT* CallValue, VARIANT* PutValue, LONG MaxIter, VARIANT* IVolatilityCall,
      VARIANT* IVolatilityPut) = 0;
  virtual HRESULT STDMETHODCALLTYPE BinCallDelta(double StockPrice, double ExercisePrice,
                                                 double InterestRate, double TimeToMaturity,
                                                 double Volatility, double DividendRate,
                                                 LONG ModelType, double ForeignInterestRate,
                                                 LONG BinSteps, LONG FlagEurAm, double* CDelta) = 0;
  virtual HRESULT STDMETHODCALLTYPE BinPutDelta(double StockPrice, double ExercisePrice,
                                                double InterestRate, double TimeToMaturity,
                                                double Volatility, double DividendRate,
                                                LONG ModelType, double ForeignInterestRate,
                                                LONG BinSteps, LONG FlagEurAm, double* PDelta) = 0;

  // Bjerksund-Stensland, American options.
  virtual HRESULT STDMETHODCALLTYPE BJECallPrice(double StockPrice, double ExercisePrice,
                                                 double InterestRate, double TimeToMaturity,
                                                 double Volatility, double DividendRate,
                                                 LONG ModelType, double ForeignInterestRate,
                                                 double* CPrice) = 0;
  virtual HRESULT STDMETHODCALLTYPE BJEPutPrice(double StockPrice, double ExercisePrice,
                                                double InterestRate, double TimeToMaturity,
                                                double Volatility, double DividendRate,
                                                LONG ModelType, double ForeignInterestRate,
                                                double* PPrice) = 0;
  virtual HRESULT STDMETHODCALLTYPE BJEDelta(double StockPrice, double ExercisePrice,
                                             double InterestRate, double TimeToMaturity,
                                             double Volatility, double DividendRate, LONG ModelType,
                                             double ForeignInterestRate, double* CDelta,
                                             double* PDelta) = 0;
  virtual HRESULT STDMETHODCALLTYPE BJETheta(double StockPrice, double ExercisePrice,
                                             double InterestRate, double TimeToMaturity,
                                             double Volatility, double DividendRate, LONG ModelType,
                                             double ForeignInterestRate, double* CTheta,
                                             double* PTheta) = 0;
  virtual HRESULT STDMETHODCALLTYPE BJEGamma(double StockPrice, double ExercisePrice,
                                             double InterestRate, double TimeToMaturity,
                                             double Volatility, double DividendRate, LONG ModelType,
                                             double ForeignInterestRate, double* Gamma) = 0;
  virtual HRESULT STDMETHODCALLTYPE BJEVega(double StockPrice, double ExercisePrice,
                                            double InterestRate, double TimeToMaturity,
                                            double Volatility, double DividendRate, LONG ModelType,
                                            double ForeignInterestRate, double* Vega) = 0;
  virtual HRESULT STDMETHODCALLTYPE BJERho(double StockPrice, double ExercisePrice,
                                           double InterestRate, double TimeToMaturity,
                                           double Volatility, double DividendRate, LONG ModelType,
                                           double ForeignInterestRate, double* CRho,
                                           double* PRho) = 0;
  virtual HRESULT STDMETHODCALLTYPE BJEImpliedVolatility(double StockPrice, double ExercisePrice,
                                                         double InterestRate, double TimeToMaturity,
                                                         double DividendRate, LONG ModelType,
                                                         double ForeignInterestRate,
                                                         double CallValue, LONG MaxIter,
                                                         double* IVolatility) = 0;
  virtual HRESULT STDMETHODCALLTYPE BJEImpliedVolatilityPut(
      double StockPrice, double ExercisePrice, double InterestRate, double TimeToMaturity,
      double DividendRate, LONG ModelType, double ForeignInterestRate, double PutValue,
      LONG MaxIter, double* IVolatility) = 0;
  virtual HRESULT STDMETHODCALLTYPE BJEImpliedVolatilitySkew(
      double StockPrice, VARIANT* ExercisePrice, double InterestRate, double TimeToMaturity,
      double DividendRate, LONG ModelType, double ForeignInterestRate, VARIANT* CallValue,
      VARIANT* PutValue, LONG MaxIter, VARIANT* IVolatilityCall, VARIANT* IVolatilityPut) = 0;

  // Historical volatility of raw price series.
  virtual HRESULT STDMETHODCALLTYPE HistoricalVolatility(VARIANT* Prices, LONG TradingDays,
                                                         VARIANT* Volatility) = 0;
  virtual HRESULT STDMETHODCALLTYPE HistoricalVolatility1(VARIANT* Prices, LONG TradingDays,
                                                          double* Volatility) = 0;

  virtual HRESULT STDMETHODCALLTYPE Abort() = 0;
  virtual HRESULT STDMETHODCALLTYPE About() = 0;

 protected:
  ~IKvQuantorb() = default;
};

}  // namespace kx::component
