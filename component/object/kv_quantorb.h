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
  HRESULT QueryInterface(kx::platform::REFIID riid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;

  // IDispatch, served from the type library.
  HRESULT GetTypeInfoCount(kx::platform::UINT* count) override;
  HRESULT GetTypeInfo(kx::platform::UINT index, kx::platform::LCID lcid,
                      kx::platform::ITypeInfo** info) override;
  HRESULT GetIDsOfNames(kx::platform::REFIID riid, kx::platform::LPOLESTR* names,
                        kx::platform::UINT count, kx::platform::LCID lcid, DISPID* ids) override;
  HRESULT Invoke(DISPID member, kx::platform::REFIID riid, kx::platform::LCID lcid,
                 kx::platform::WORD flags, kx::platform::DISPPARAMS* params, VARIANT* result,
                 kx::platform::EXCEPINFO* excep, kx::platform::UINT* arg_err) override;

  // ISupportErrorInfo: S_OK for IKvQuantorb only.
  HRESULT InterfaceSupportsErrorInfo(kx::platform::REFIID riid) override;

  // IConnectionPointContainer: the one point, for _IKvQuantorbEvents.
  HRESULT EnumConnectionPoints(kx::platform::IEnumConnectionPoints** points) override;
  HRESULT FindConnectionPoint(kx::platform::REFIID riid,
                              kx::platform::IConnectionPoint** point) override;

  // IProvideClassInfo2
  HRESULT GetClassInfo(kx::platform::ITypeInfo** info) override;
  HRESULT GetGUID(DWORD kind, GUID* guid) override;

  // ISpecifyPropertyPages: no pages.
  HRESULT GetPages(kx::platform::CAUUID* pages) override;

  // IPersist, IPersistStreamInit, IPersistPropertyBag, IPersistStorage: the properties "Base"
  // and "Blocking", read and written through the object's own IDispatch.
  HRESULT GetClassID(kx::platform::CLSID* clsid) override;
  HRESULT IsDirty() override;
  HRESULT Load(kx::platform::IStream* stream) override;
  HRESULT Save(kx::platform::IStream* stream, BOOL clear_dirty) override;
  HRESULT GetSizeMax(kx::platform::ULARGE_INTEGER* size) override;
  HRESULT InitNew() override;
  HRESULT Load(kx::platform::IPropertyBag* bag, kx::platform::IErrorLog* error_log) override;
  HRESULT Save(kx::platform::IPropertyBag* bag, BOOL clear_dirty, BOOL save_all) override;
  HRESULT InitNew(kx::platform::IStorage* storage) override;
  HRESULT Load(kx::platform::IStorage* storage) override;
  HRESULT Save(kx::platform::IStorage* storage, BOOL same_as_load) override;
  HRESULT SaveCompleted(kx::platform::IStorage* storage) override;
  HRESULT HandsOffStorage() override;

  // IViewObject, IViewObject2, IViewObjectEx: bitmap 202 at the top-left of the bounds.
  HRESULT Draw(DWORD aspect, LONG index, void* aspect_info,
               kx::platform::DVTARGETDEVICE* target_device, kx::platform::HDC target_dc,
               kx::platform::HDC draw_dc, const kx::platform::RECTL* bounds,
               const kx::platform::RECTL* window_bounds,
               BOOL (*should_continue)(kx::platform::ULONG_PTR),
               kx::platform::ULONG_PTR continue_arg) override;
  HRESULT GetColorSet(DWORD aspect, LONG index, void* aspect_info,
                      kx::platform::DVTARGETDEVICE* target_device, kx::platform::HDC target_dc,
                      kx::platform::LOGPALETTE** color_set) override;
  HRESULT Freeze(DWORD aspect, LONG index, void* aspect_info, DWORD* freeze) override;
  HRESULT Unfreeze(DWORD freeze) override;
  HRESULT SetAdvise(DWORD aspects, DWORD advise_flags, kx::platform::IAdviseSink* sink) override;
  HRESULT GetAdvise(DWORD* aspects, DWORD* advise_flags, kx::platform::IAdviseSink** sink) override;
  HRESULT GetExtent(DWORD aspect, LONG index, kx::platform::DVTARGETDEVICE* target_device,
                    kx::platform::SIZEL* size) override;
  HRESULT GetRect(DWORD aspect, kx::platform::RECTL* rect) override;
  HRESULT GetViewStatus(DWORD* status) override;
  HRESULT QueryHitPoint(DWORD aspect, const kx::platform::RECT* bounds,
                        kx::platform::POINT location, LONG close_hint, DWORD* hit_result) override;
  HRESULT QueryHitRect(DWORD aspect, const kx::platform::RECT* bounds,
                       const kx::platform::RECT* location, LONG close_hint,
                       DWORD* hit_result) override;
  HRESULT GetNaturalExtent(DWORD aspect, LONG index, kx::platform::DVTARGETDEVICE* target_device,
                           kx::platform::HDC target_dc, kx::platform::DVEXTENTINFO* extent_info,
                           kx::platform::SIZEL* size) override;

  // IDataObject: the control offers no data formats.
  HRESULT GetData(kx::platform::FORMATETC* format, kx::platform::STGMEDIUM* medium) override;
  HRESULT GetDataHere(kx::platform::FORMATETC* format, kx::platform::STGMEDIUM* medium) override;
  HRESULT QueryGetData(kx::platform::FORMATETC* format) override;
  HRESULT GetCanonicalFormatEtc(kx::platform::FORMATETC* format_in,
                                kx::platform::FORMATETC* format_out) override;
  HRESULT SetData(kx::platform::FORMATETC* format, kx::platform::STGMEDIUM* medium,
                  BOOL release) override;
  HRESULT EnumFormatEtc(DWORD direction, kx::platform::IEnumFORMATETC** formats) override;
  HRESULT DAdvise(kx::platform::FORMATETC* format, DWORD advise_flags,
                  kx::platform::IAdviseSink* sink, DWORD* connection) override;
  HRESULT DUnadvise(DWORD connection) override;
  HRESULT EnumDAdvise(kx::platform::IEnumSTATDATA** advises) override;

  // IOleObject
  HRESULT SetClientSite(kx::platform::IOleClientSite* site) override;
  HRESULT GetClientSite(kx::platform::IOleClientSite** site) override;
  HRESULT SetHostNames(kx::platform::LPCOLESTR container_app,
                       kx::platform::LPCOLESTR container_object) override;
  HRESULT Close(DWORD save_option) override;
  HRESULT SetMoniker(DWORD which, kx::platform::IMoniker* moniker) override;
  HRESULT GetMoniker(DWORD assign, DWORD which, kx::platform::IMoniker** moniker) override;
  HRESULT InitFromData(kx::platform::IDataObject* data, BOOL creation, DWORD reserved) override;
  HRESULT GetClipboardData(DWORD reserved, kx::platform::IDataObject** data) override;
  HRESULT DoVerb(LONG verb, kx::platform::MSG* message, kx::platform::IOleClientSite* active_site,
                 LONG index, kx::platform::HWND parent,
                 const kx::platform::RECT* position) override;
  HRESULT EnumVerbs(kx::platform::IEnumOLEVERB** verbs) override;
  HRESULT Update() override;
  HRESULT IsUpToDate() override;
  HRESULT GetUserClassID(kx::platform::CLSID* clsid) override;
  HRESULT GetUserType(DWORD form, kx::platform::LPOLESTR* user_type) override;
  HRESULT SetExtent(DWORD aspect, kx::platform::SIZEL* size) override;
  HRESULT GetExtent(DWORD aspect, kx::platform::SIZEL* size) override;
  HRESULT Advise(kx::platform::IAdviseSink* sink, DWORD* connection) override;
  HRESULT Unadvise(DWORD connection) override;
  HRESULT EnumAdvise(kx::platform::IEnumSTATDATA** advises) override;
  HRESULT GetMiscStatus(DWORD aspect, DWORD* status) override;
  HRESULT SetColorScheme(kx::platform::LOGPALETTE* palette) override;

  // IOleControl: no mnemonics, no ambient properties read.
  HRESULT GetControlInfo(kx::platform::CONTROLINFO* info) override;
  HRESULT OnMnemonic(kx::platform::MSG* message) override;
  HRESULT OnAmbientPropertyChange(DISPID property) override;
  HRESULT FreezeEvents(BOOL freeze) override;

  // IOleWindow, IOleInPlaceObject, IOleInPlaceObjectWindowless, IOleInPlaceActiveObject.
  HRESULT GetWindow(kx::platform::HWND* window) override;
  HRESULT ContextSensitiveHelp(BOOL enter_mode) override;
  HRESULT InPlaceDeactivate() override;
  HRESULT UIDeactivate() override;
  HRESULT SetObjectRects(const kx::platform::RECT* position,
                         const kx::platform::RECT* clip) override;
  HRESULT ReactivateAndUndo() override;
  HRESULT OnWindowMessage(kx::platform::UINT message, kx::platform::WPARAM wparam,
                          kx::platform::LPARAM lparam, kx::platform::LRESULT* result) override;
  HRESULT GetDropTarget(kx::platform::IDropTarget** target) override;
  HRESULT TranslateAccelerator(kx::platform::MSG* message) override;
  HRESULT OnFrameWindowActivate(BOOL activate) override;
  HRESULT OnDocWindowActivate(BOOL activate) override;
  HRESULT ResizeBorder(const kx::platform::RECT* border,
                       kx::platform::IOleInPlaceUIWindow* ui_window, BOOL frame_window) override;
  HRESULT EnableModeless(BOOL enable) override;

  // IQuickActivate: connects the container's event and property-change sinks in one call.
  HRESULT QuickActivate(kx::platform::QACONTAINER* container,
                        kx::platform::QACONTROL* control) override;
  HRESULT SetContentExtent(kx::platform::SIZEL* size) override;
  HRESULT GetContentExtent(kx::platform::SIZEL* size) override;

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
  HRESULT BSRho(double StockPrice, double ExercisePrice, double InterestRate, double TimeToMaturity,
                double Volatility, double DividendRate, double* CRho, double* PRho) override;
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
                      double TimeToMaturity, double Volatility, double DividendRate, LONG ModelType,
                      double ForeignInterestRate, LONG BinSteps, LONG FlagEurAm,
                      double* PPrice) override;
  HRESULT BinPrice(double StockPrice, double ExercisePrice, double InterestRate,
                   double TimeToMaturity, double Volatility, double DividendRate, LONG ModelType,
                   double ForeignInterestRate, LONG BinSteps, LONG FlagEurAm, double* CPrice,
                   double* PPrice) override;
  HRESULT BinPriceGreeks(double StockPrice, double ExercisePrice, double InterestRate,
                         double TimeToMaturity, double Volatility, double DividendRate,
                         LONG ModelType, double ForeignInterestRate, LONG BinSteps, LONG FlagEurAm,
                         double* CallPrice, double* PutPrice, double* CDelta, double* PDelta,
                         double* CTheta, double* PTheta, double* Gamma, LONG DoVega, double* Vega,
                         LONG DoRho, double* CRho, double* PRho) override;
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
                  double ForeignInterestRate, LONG BinSteps, LONG FlagEurAm, double* Vega) override;
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
                      double TimeToMaturity, double Volatility, double DividendRate, LONG ModelType,
                      double ForeignInterestRate, LONG BinSteps, LONG FlagEurAm,
                      double* PDelta) override;

  HRESULT BJECallPrice(double StockPrice, double ExercisePrice, double InterestRate,
                       double TimeToMaturity, double Volatility, double DividendRate,
                       LONG ModelType, double ForeignInterestRate, double* CPrice) override;
  HRESULT BJEPutPrice(double StockPrice, double ExercisePrice, double InterestRate,
                      double TimeToMaturity, double Volatility, double DividendRate, LONG ModelType,
                      double ForeignInterestRate, double* PPrice) override;
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
