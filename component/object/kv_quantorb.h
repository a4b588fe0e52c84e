// The KvQuantorb object: IKvQuantorb over the pricing families, with its settings, the connected
// _IKvQuantorbEvents sinks, and the control interfaces a form or document uses to embed it
// (persistence, drawing, activation). The control members are defined in the control_*.cpp files.
#pragma once

#include <atomic>

#include "ikvquantorb.h"
#include "kx/platform/comptr.h"
#include "kx/platform/connection.h"
#include "kx/platform/interfaces.h"
#include "kx/platform/module.h"
#include "object_state.h"

namespace kx::component {

using kx::platform::BOOL;
using kx::platform::DWORD;
using kx::platform::ULONG;

/// Natural size of the control: the 32 x 32 pixels of its bitmap, in HIMETRIC at 96 dpi.
inline constexpr kx::platform::LONG kNaturalSizePixels = 32;
inline constexpr kx::platform::LONG kNaturalSizeHimetric = (2540 * kNaturalSizePixels + 48) / 96;
/// OLEMISC bits of the content aspect, as registered under MiscStatus\1 (132497).
inline constexpr DWORD kMiscStatusContent = 0x20591;
/// Version word at the start of the persisted stream; a newer one is refused.
inline constexpr DWORD kStreamFormatVersion = 0x300;

class KvQuantorb final : public IKvQuantorb,
                         public kx::platform::ISupportErrorInfo,
                         public kx::platform::IConnectionPointContainer,
                         public kx::platform::IProvideClassInfo2,
                         public kx::platform::ISpecifyPropertyPages,
                         public kx::platform::IPersistStreamInit,
                         public kx::platform::IPersistPropertyBag,
                         public kx::platform::IPersistStorage,
                         public kx::platform::IViewObjectEx,
                         public kx::platform::IDataObject,
                         public kx::platform::IOleObject,
                         public kx::platform::IOleControl,
                         public kx::platform::IOleInPlaceObjectWindowless,
                         public kx::platform::IOleInPlaceActiveObject,
                         public kx::platform::IQuickActivate {
 public:
  /// Creates an object and queries it for `riid`. CLASS_E_NOAGGREGATION when `outer` is set.
  [[nodiscard]] static HRESULT CreateInstance(kx::platform::IUnknown* outer,
                                              kx::platform::REFIID riid, void** object) noexcept;

  KvQuantorb(const KvQuantorb&) = delete;
  KvQuantorb& operator=(const KvQuantorb&) = delete;

  // Event connections for the connection point of _IKvQuantorbEvents; the sink must answer
  // DIID__IKvQuantorbEvents, as it must for the point itself.
  [[nodiscard]] HRESULT AdviseEvents(kx::platform::IDispatch* sink, DWORD* cookie) noexcept;
  [[nodiscard]] HRESULT UnadviseEvents(DWORD cookie) noexcept;

  [[nodiscard]] ObjectState& state() noexcept { return state_; }

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(kx::platform::REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IDispatch, served from the type library.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(kx::platform::UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(kx::platform::UINT index, kx::platform::LCID lcid,
                                        kx::platform::ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(kx::platform::REFIID riid, kx::platform::LPOLESTR* names,
                                          kx::platform::UINT count, kx::platform::LCID lcid,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, kx::platform::REFIID riid,
                                   kx::platform::LCID lcid, kx::platform::WORD flags,
                                   kx::platform::DISPPARAMS* params, VARIANT* result,
                                   kx::platform::EXCEPINFO* excep,
                                   kx::platform::UINT* arg_err) override;

  // ISupportErrorInfo: S_OK for IKvQuantorb only.
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(kx::platform::REFIID riid) override;

  // IConnectionPointContainer: the one point, for _IKvQuantorbEvents.
  HRESULT STDMETHODCALLTYPE
  EnumConnectionPoints(kx::platform::IEnumConnectionPoints** points) override;
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(kx::platform::REFIID riid,
                                                kx::platform::IConnectionPoint** point) override;

  // IProvideClassInfo2
  HRESULT STDMETHODCALLTYPE GetClassInfo(kx::platform::ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* guid) override;

  // ISpecifyPropertyPages: no pages.
  HRESULT STDMETHODCALLTYPE GetPages(kx::platform::CAUUID* pages) override;

  // IPersist, IPersistStreamInit, IPersistPropertyBag, IPersistStorage: the properties "Base"
  // and "Blocking", read and written through the object's own IDispatch.
  HRESULT STDMETHODCALLTYPE GetClassID(kx::platform::CLSID* clsid) override;
  HRESULT STDMETHODCALLTYPE IsDirty() override;
  HRESULT STDMETHODCALLTYPE Load(kx::platform::IStream* stream) override;
  HRESULT STDMETHODCALLTYPE Save(kx::platform::IStream* stream, BOOL clear_dirty) override;
  HRESULT STDMETHODCALLTYPE GetSizeMax(kx::platform::ULARGE_INTEGER* size) override;
  HRESULT STDMETHODCALLTYPE InitNew() override;
  HRESULT STDMETHODCALLTYPE Load(kx::platform::IPropertyBag* bag,
                                 kx::platform::IErrorLog* error_log) override;
  HRESULT STDMETHODCALLTYPE Save(kx::platform::IPropertyBag* bag, BOOL clear_dirty,
                                 BOOL save_all) override;
  HRESULT STDMETHODCALLTYPE InitNew(kx::platform::IStorage* storage) override;
  HRESULT STDMETHODCALLTYPE Load(kx::platform::IStorage* storage) override;
  HRESULT STDMETHODCALLTYPE Save(kx::platform::IStorage* storage, BOOL same_as_load) override;
  HRESULT STDMETHODCALLTYPE SaveCompleted(kx::platform::IStorage* storage) override;
  HRESULT STDMETHODCALLTYPE HandsOffStorage() override;

  // IViewObject, IViewObject2, IViewObjectEx: bitmap 202 at the top-left of the bounds.
  HRESULT STDMETHODCALLTYPE Draw(DWORD aspect, LONG index, void* aspect_info,
                                 kx::platform::DVTARGETDEVICE* target_device,
                                 kx::platform::HDC target_dc, kx::platform::HDC draw_dc,
                                 const kx::platform::RECTL* bounds,
                                 const kx::platform::RECTL* window_bounds,
                                 BOOL(STDMETHODCALLTYPE* should_continue)(kx::platform::ULONG_PTR),
                                 kx::platform::ULONG_PTR continue_arg) override;
  HRESULT STDMETHODCALLTYPE GetColorSet(DWORD aspect, LONG index, void* aspect_info,
                                        kx::platform::DVTARGETDEVICE* target_device,
                                        kx::platform::HDC target_dc,
                                        kx::platform::LOGPALETTE** color_set) override;
  HRESULT STDMETHODCALLTYPE Freeze(DWORD aspect, LONG index, void* aspect_info,
                                   DWORD* freeze) override;
  HRESULT STDMETHODCALLTYPE Unfreeze(DWORD freeze) override;
  HRESULT STDMETHODCALLTYPE SetAdvise(DWORD aspects, DWORD advise_flags,
                                      kx::platform::IAdviseSink* sink) override;
  HRESULT STDMETHODCALLTYPE GetAdvise(DWORD* aspects, DWORD* advise_flags,
                                      kx::platform::IAdviseSink** sink) override;
  HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, LONG index,
                                      kx::platform::DVTARGETDEVICE* target_device,
                                      kx::platform::SIZEL* size) override;
  HRESULT STDMETHODCALLTYPE GetRect(DWORD aspect, kx::platform::RECTL* rect) override;
  HRESULT STDMETHODCALLTYPE GetViewStatus(DWORD* status) override;
  HRESULT STDMETHODCALLTYPE QueryHitPoint(DWORD aspect, const kx::platform::RECT* bounds,
                                          kx::platform::POINT location, LONG close_hint,
                                          DWORD* hit_result) override;
  HRESULT STDMETHODCALLTYPE QueryHitRect(DWORD aspect, const kx::platform::RECT* bounds,
                                         const kx::platform::RECT* location, LONG close_hint,
                                         DWORD* hit_result) override;
  HRESULT STDMETHODCALLTYPE GetNaturalExtent(DWORD aspect, LONG index,
                                             kx::platform::DVTARGETDEVICE* target_device,
                                             kx::platform::HDC target_dc,
                                             kx::platform::DVEXTENTINFO* extent_info,
                                             kx::platform::SIZEL* size) override;

  // IDataObject: the control offers no data formats.
  HRESULT STDMETHODCALLTYPE GetData(kx::platform::FORMATETC* format,
                                    kx::platform::STGMEDIUM* medium) override;
  HRESULT STDMETHODCALLTYPE GetDataHere(kx::platform::FORMATETC* format,
                                        kx::platform::STGMEDIUM* medium) override;
  HRESULT STDMETHODCALLTYPE QueryGetData(kx::platform::FORMATETC* format) override;
  HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(kx::platform::FORMATETC* format_in,
                                                  kx::platform::FORMATETC* format_out) override;
  HRESULT STDMETHODCALLTYPE SetData(kx::platform::FORMATETC* format,
                                    kx::platform::STGMEDIUM* medium, BOOL release) override;
  HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD direction,
                                          kx::platform::IEnumFORMATETC** formats) override;
  HRESULT STDMETHODCALLTYPE DAdvise(kx::platform::FORMATETC* format, DWORD advise_flags,
                                    kx::platform::IAdviseSink* sink, DWORD* connection) override;
  HRESULT STDMETHODCALLTYPE DUnadvise(DWORD connection) override;
  HRESULT STDMETHODCALLTYPE EnumDAdvise(kx::platform::IEnumSTATDATA** advises) override;

  // IOleObject
  HRESULT STDMETHODCALLTYPE SetClientSite(kx::platform::IOleClientSite* site) override;
  HRESULT STDMETHODCALLTYPE GetClientSite(kx::platform::IOleClientSite** site) override;
  HRESULT STDMETHODCALLTYPE SetHostNames(kx::platform::LPCOLESTR container_app,
                                         kx::platform::LPCOLESTR container_object) override;
  HRESULT STDMETHODCALLTYPE Close(DWORD save_option) override;
  HRESULT STDMETHODCALLTYPE SetMoniker(DWORD which, kx::platform::IMoniker* moniker) override;
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD assign, DWORD which,
                                       kx::platform::IMoniker** moniker) override;
  HRESULT STDMETHODCALLTYPE InitFromData(kx::platform::IDataObject* data, BOOL creation,
                                         DWORD reserved) override;
  HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD reserved,
                                             kx::platform::IDataObject** data) override;
  HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, kx::platform::MSG* message,
                                   kx::platform::IOleClientSite* active_site, LONG index,
                                   kx::platform::HWND parent,
                                   const kx::platform::RECT* position) override;
  HRESULT STDMETHODCALLTYPE EnumVerbs(kx::platform::IEnumOLEVERB** verbs) override;
  HRESULT STDMETHODCALLTYPE Update() override;
  HRESULT STDMETHODCALLTYPE IsUpToDate() override;
  HRESULT STDMETHODCALLTYPE GetUserClassID(kx::platform::CLSID* clsid) override;
  HRESULT STDMETHODCALLTYPE GetUserType(DWORD form, kx::platform::LPOLESTR* user_type) override;
  HRESULT STDMETHODCALLTYPE SetExtent(DWORD aspect, kx::platform::SIZEL* size) override;
  HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, kx::platform::SIZEL* size) override;
  HRESULT STDMETHODCALLTYPE Advise(kx::platform::IAdviseSink* sink, DWORD* connection) override;
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD connection) override;
  HRESULT STDMETHODCALLTYPE EnumAdvise(kx::platform::IEnumSTATDATA** advises) override;
  HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD aspect, DWORD* status) override;
  HRESULT STDMETHODCALLTYPE SetColorScheme(kx::platform::LOGPALETTE* palette) override;

  // IOleControl: no mnemonics, no ambient properties read.
  HRESULT STDMETHODCALLTYPE GetControlInfo(kx::platform::CONTROLINFO* info) override;
  HRESULT STDMETHODCALLTYPE OnMnemonic(kx::platform::MSG* message) override;
  HRESULT STDMETHODCALLTYPE OnAmbientPropertyChange(DISPID property) override;
  HRESULT STDMETHODCALLTYPE FreezeEvents(BOOL freeze) override;

  // IOleWindow, IOleInPlaceObject, IOleInPlaceObjectWindowless, IOleInPlaceActiveObject.
  HRESULT STDMETHODCALLTYPE GetWindow(kx::platform::HWND* window) override;
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL enter_mode) override;
  HRESULT STDMETHODCALLTYPE InPlaceDeactivate() override;
  HRESULT STDMETHODCALLTYPE UIDeactivate() override;
  HRESULT STDMETHODCALLTYPE SetObjectRects(const kx::platform::RECT* position,
                                           const kx::platform::RECT* clip) override;
  HRESULT STDMETHODCALLTYPE ReactivateAndUndo() override;
  HRESULT STDMETHODCALLTYPE OnWindowMessage(kx::platform::UINT message, kx::platform::WPARAM wparam,
                                            kx::platform::LPARAM lparam,
                                            kx::platform::LRESULT* result) override;
  HRESULT STDMETHODCALLTYPE GetDropTarget(kx::platform::IDropTarget** target) override;
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(kx::platform::MSG* message) override;
  HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL activate) override;
  HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL activate) override;
  HRESULT STDMETHODCALLTYPE ResizeBorder(const kx::platform::RECT* border,
                                         kx::platform::IOleInPlaceUIWindow* ui_window,
                                         BOOL frame_window) override;
  HRESULT STDMETHODCALLTYPE EnableModeless(BOOL enable) override;

  // IQuickActivate: connects the container's event and property-change sinks in one call.
  HRESULT STDMETHODCALLTYPE QuickActivate(kx::platform::QACONTAINER* container,
                                          kx::platform::QACONTROL* control) override;
  HRESULT STDMETHODCALLTYPE SetContentExtent(kx::platform::SIZEL* size) override;
  HRESULT STDMETHODCALLTYPE GetContentExtent(kx::platform::SIZEL* size) override;

  // IKvQuantorb
  HRESULT STDMETHODCALLTYPE get_Base(LONG* value) override;
  HRESULT STDMETHODCALLTYPE put_Base(LONG value) override;
  HRESULT STDMETHODCALLTYPE get_BlockingMode(SHORT* value) override;
  HRESULT STDMETHODCALLTYPE put_BlockingMode(SHORT value) override;

  HRESULT STDMETHODCALLTYPE BSCallPrice(double StockPrice, double ExercisePrice,
                                        double InterestRate, double TimeToMaturity,
                                        double Volatility, double DividendRate,
                                        double* CPrice) override;
  HRESULT STDMETHODCALLTYPE BSPutPrice(double StockPrice, double ExercisePrice, double InterestRate,
                                       double TimeToMaturity, double Volatility,
                                       double DividendRate, double* PPrice) override;
  HRESULT STDMETHODCALLTYPE BSDelta(double StockPrice, double ExercisePrice, double InterestRate,
                                    double TimeToMaturity, double Volatility, double DividendRate,
                                    double* CDelta, double* PDelta) override;
  HRESULT STDMETHODCALLTYPE BSTheta(double StockPrice, double ExercisePrice, double InterestRate,
                                    double TimeToMaturity, double Volatility, double DividendRate,
                                    double* CTheta, double* PTheta) override;
  HRESULT STDMETHODCALLTYPE BSGamma(double StockPrice, double ExercisePrice, double InterestRate,
                                    double TimeToMaturity, double Volatility, double DividendRate,
                                    double* Gamma) override;
  HRESULT STDMETHODCALLTYPE BSVega(double StockPrice, double ExercisePrice, double InterestRate,
                                   double TimeToMaturity, double Volatility, double DividendRate,
                                   double* Vega) override;
  HRESULT STDMETHODCALLTYPE BSRho(double StockPrice, double ExercisePrice, double InterestRate,
                                  double TimeToMaturity, double Volatility, double DividendRate,
                                  double* CRho, double* PRho) override;
  HRESULT STDMETHODCALLTYPE BSImpliedVolatility(double StockPrice, double ExercisePrice,
                                                double InterestRate, double TimeToMaturity,
                                                double DividendRate, double CallValue, LONG MaxIter,
                                                double* IVolatility) override;
  HRESULT STDMETHODCALLTYPE BSImpliedVolatilityPut(double StockPrice, double ExercisePrice,
                                                   double InterestRate, double TimeToMaturity,
                                                   double DividendRate, double PutValue,
                                                   LONG MaxIter, double* IVolatility) override;
  HRESULT STDMETHODCALLTYPE BSImpliedVolatilitySkew(double StockPrice, VARIANT* ExercisePrice,
                                                    double InterestRate, double TimeToMaturity,
                                                    double DividendRate, VARIANT* CallValue,
                                                    VARIANT* PutValue, LONG MaxIter,
                                                    VARIANT* IVolatilityCall,
                                                    VARIANT* IVolatilityPut) override;

  HRESULT STDMETHODCALLTYPE BinCallPrice(double StockPrice, double ExercisePrice,
                                         double InterestRate, double TimeToMaturity,
                                         double Volatility, double DividendRate, LONG ModelType,
                                         double ForeignInterestRate, LONG BinSteps, LONG FlagEurAm,
                                         double* CPrice) override;
  HRESULT STDMETHODCALLTYPE BinPutPrice(double StockPrice, double ExercisePrice,
                                        double InterestRate, double TimeToMaturity,
                                        double Volatility, double DividendRate, LONG ModelType,
                                        double ForeignInterestRate, LONG BinSteps, LONG FlagEurAm,
                                        double* PPrice) override;
  HRESULT STDMETHODCALLTYPE BinPrice(double StockPrice, double ExercisePrice, double InterestRate,
                                     double TimeToMaturity, double Volatility, double DividendRate,
                                     LONG ModelType, double ForeignInterestRate, LONG BinSteps,
                                     LONG FlagEurAm, double* CPrice, double* PPrice) override;
  HRESULT STDMETHODCALLTYPE BinPriceGreeks(double StockPrice, double ExercisePrice,
                                           double InterestRate, double TimeToMaturity,
                                           double Volatility, double DividendRate, LONG ModelType,
                                           double ForeignInterestRate, LONG BinSteps,
                                           LONG FlagEurAm, double* CallPrice, double* PutPrice,
                                           double* CDelta, double* PDelta, double* CTheta,
                                           double* PTheta, double* Gamma, LONG DoVega, double* Vega,
                                           LONG DoRho, double* CRho, double* PRho) override;
  HRESULT STDMETHODCALLTYPE BinDelta(double StockPrice, double ExercisePrice, double InterestRate,
                                     double TimeToMaturity, double Volatility, double DividendRate,
                                     LONG ModelType, double ForeignInterestRate, LONG BinSteps,
                                     LONG FlagEurAm, double* CDelta, double* PDelta) override;
  HRESULT STDMETHODCALLTYPE BinTheta(double StockPrice, double ExercisePrice, double InterestRate,
                                     double TimeToMaturity, double Volatility, double DividendRate,
                                     LONG ModelType, double ForeignInterestRate, LONG BinSteps,
                                     LONG FlagEurAm, double* CTheta, double* PTheta) override;
  HRESULT STDMETHODCALLTYPE BinGamma(double StockPrice, double ExercisePrice, double InterestRate,
                                     double TimeToMaturity, double Volatility, double DividendRate,
                                     LONG ModelType, double ForeignInterestRate, LONG BinSteps,
                                     LONG FlagEurAm, double* Gamma) override;
  HRESULT STDMETHODCALLTYPE BinVega(double StockPrice, double ExercisePrice, double InterestRate,
                                    double TimeToMaturity, double Volatility, double DividendRate,
                                    LONG ModelType, double ForeignInterestRate, LONG BinSteps,
                                    LONG FlagEurAm, double* Vega) override;
  HRESULT STDMETHODCALLTYPE BinRho(double StockPrice, double ExercisePrice, double InterestRate,
                                   double TimeToMaturity, double Volatility, double DividendRate,
                                   LONG ModelType, double ForeignInterestRate, LONG BinSteps,
                                   LONG FlagEurAm, double* CRho, double* PRho) override;
  HRESULT STDMETHODCALLTYPE BinImpliedVolatility(double StockPrice, double ExercisePrice,
                                                 double InterestRate, double TimeToMaturity,
                                                 double DividendRate, LONG ModelType,
                                                 double ForeignInterestRate, LONG BinSteps,
                                                 LONG FlagEurAm, double CallValue, LONG MaxIter,
                                                 double* IVolatility) override;
  HRESULT STDMETHODCALLTYPE BinImpliedVolatilityPut(double StockPrice, double ExercisePrice,
                                                    double InterestRate, double TimeToMaturity,
                                                    double DividendRate, LONG ModelType,
                                                    double ForeignInterestRate, LONG BinSteps,
                                                    LONG FlagEurAm, double PutValue, LONG MaxIter,
                                                    double* IVolatility) override;
  HRESULT STDMETHODCALLTYPE BinImpliedVolatilitySkew(
      double StockPrice, VARIANT* ExercisePrice, double InterestRate, double TimeToMaturity,
      double DividendRate, LONG ModelType, double ForeignInterestRate, LONG BinSteps,
      LONG FlagEurAm, VARIANT* CallValue, VARIANT* PutValue, LONG MaxIter, VARIANT* IVolatilityCall,
      VARIANT* IVolatilityPut) override;
  HRESULT STDMETHODCALLTYPE BinCallDelta(double StockPrice, double ExercisePrice,
                                         double InterestRate, double TimeToMaturity,
                                         double Volatility, double DividendRate, LONG ModelType,
                                         double ForeignInterestRate, LONG BinSteps, LONG FlagEurAm,
                                         double* CDelta) override;
  HRESULT STDMETHODCALLTYPE BinPutDelta(double StockPrice, double ExercisePrice,
                                        double InterestRate, double TimeToMaturity,
                                        double Volatility, double DividendRate, LONG ModelType,
                                        double ForeignInterestRate, LONG BinSteps, LONG FlagEurAm,
                                        double* PDelta) override;

  HRESULT STDMETHODCALLTYPE BJECallPrice(double StockPrice, double ExercisePrice,
                                         double InterestRate, double TimeToMaturity,
                                         double Volatility, double DividendRate, LONG ModelType,
                                         double ForeignInterestRate, double* CPrice) override;
  HRESULT STDMETHODCALLTYPE BJEPutPrice(double StockPrice, double ExercisePrice,
                                        double InterestRate, double TimeToMaturity,
                                        double Volatility, double DividendRate, LONG ModelType,
                                        double ForeignInterestRate, double* PPrice) override;
  HRESULT STDMETHODCALLTYPE BJEDelta(double StockPrice, double ExercisePrice, double InterestRate,
                                     double TimeToMaturity, double Volatility, double DividendRate,
                                     LONG ModelType, double ForeignInterestRate, double* CDelta,
                                     double* PDelta) override;
  HRESULT STDMETHODCALLTYPE BJETheta(double StockPrice, double ExercisePrice, double InterestRate,
                                     double TimeToMaturity, double Volatility, double DividendRate,
                                     LONG ModelType, double ForeignInterestRate, double* CTheta,
                                     double* PTheta) override;
  HRESULT STDMETHODCALLTYPE BJEGamma(double StockPrice, double ExercisePrice, double InterestRate,
                                     double TimeToMaturity, double Volatility, double DividendRate,
                                     LONG ModelType, double ForeignInterestRate,
                                     double* Gamma) override;
  HRESULT STDMETHODCALLTYPE BJEVega(double StockPrice, double ExercisePrice, double InterestRate,
                                    double TimeToMaturity, double Volatility, double DividendRate,
                                    LONG ModelType, double ForeignInterestRate,
                                    double* Vega) override;
  HRESULT STDMETHODCALLTYPE BJERho(double StockPrice, double ExercisePrice, double InterestRate,
                                   double TimeToMaturity, double Volatility, double DividendRate,
                                   LONG ModelType, double ForeignInterestRate, double* CRho,
                                   double* PRho) override;
  HRESULT STDMETHODCALLTYPE BJEImpliedVolatility(double StockPrice, double ExercisePrice,
                                                 double InterestRate, double TimeToMaturity,
                                                 double DividendRate, LONG ModelType,
                                                 double ForeignInterestRate, double CallValue,
                                                 LONG MaxIter, double* IVolatility) override;
  HRESULT STDMETHODCALLTYPE BJEImpliedVolatilityPut(double StockPrice, double ExercisePrice,
                                                    double InterestRate, double TimeToMaturity,
                                                    double DividendRate, LONG ModelType,
                                                    double ForeignInterestRate, double PutValue,
                                                    LONG MaxIter, double* IVolatility) override;
  HRESULT STDMETHODCALLTYPE BJEImpliedVolatilitySkew(
      double StockPrice, VARIANT* ExercisePrice, double InterestRate, double TimeToMaturity,
      double DividendRate, LONG ModelType, double ForeignInterestRate, VARIANT* CallValue,
      VARIANT* PutValue, LONG MaxIter, VARIANT* IVolatilityCall, VARIANT* IVolatilityPut) override;

  HRESULT STDMETHODCALLTYPE HistoricalVolatility(VARIANT* Prices, LONG TradingDays,
                                                 VARIANT* Volatility) override;
  HRESULT STDMETHODCALLTYPE HistoricalVolatility1(VARIANT* Prices, LONG TradingDays,
                                                  double* Volatility) override;

  HRESULT STDMETHODCALLTYPE Abort() override;
  HRESULT STDMETHODCALLTYPE About() override;

 private:
  friend class kx::platform::ClassFactory<KvQuantorb>;  // creates through the private constructor
  KvQuantorb() noexcept;
  ~KvQuantorb();

  // A property put as the control does it: OnRequestEdit to every property-change sink (S_FALSE
  // refuses and keeps the old value), then the store, the needs-saving mark and OnChanged.
  template <class Store>
  HRESULT PutNotified(DISPID property, Store store) noexcept;
  // The two persisted properties through IDispatch: get (VT_I4 / VT_I2) and put.
  HRESULT GetPersistedProperty(DISPID property, VARIANT* value) noexcept;
  HRESULT PutPersistedProperty(DISPID property, VARIANT* value) noexcept;
  // Puts values[i] (when not null) into the i-th persisted property, all or none: a refused one
  // gives the properties already put their old values back.
  HRESULT PutPersistedProperties(VARIANT* const* values) noexcept;
  HRESULT ActivateInPlace(LONG verb, kx::platform::IOleClientSite* active_site) noexcept;

  std::atomic<ULONG> references_{0};
  ObjectState state_;
  std::atomic<bool> dirty_{false};
  // Property-change sinks arrive through IQuickActivate; the container lists only the event point.
  kx::platform::PropertyNotifyConnectionPoint property_sinks_;
  kx::platform::ComPtr<kx::platform::IOleClientSite> client_site_;
  kx::platform::ComPtr<kx::platform::IOleInPlaceSite> in_place_site_;
  kx::platform::HWND window_ = nullptr;  // the control's own window while in-place active
  bool ui_active_ = false;
  kx::platform::RECT position_{};
};

}  // namespace kx::component
