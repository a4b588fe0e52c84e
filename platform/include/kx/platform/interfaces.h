#pragma once
// The standard object interfaces, each declared with its members in the platform's vtable order
// and with its well-known identifier (also reachable as I::kIid for ComPtr::As).
#include <cstdint>

#include "kx/platform/bstr.h"
#include "kx/platform/guid.h"
#include "kx/platform/handles.h"
#include "kx/platform/hresult.h"
#include "kx/platform/unknown.h"
#include "kx/platform/variant.h"

namespace kx::platform {

using SIZEL = SIZE;
using POINTL = POINT;
using CLIPFORMAT = WORD;
using OLE_COLOR = DWORD;
using HGLOBAL = void*;
using SNB = OLECHAR**;
struct HACCEL__;
using HACCEL = HACCEL__*;
struct HPALETTE__;
using HPALETTE = HPALETTE__*;

struct LARGE_INTEGER {
  std::int64_t QuadPart = 0;
};
struct ULARGE_INTEGER {
  std::uint64_t QuadPart = 0;
};
struct FILETIME {
  DWORD dwLowDateTime = 0;
  DWORD dwHighDateTime = 0;
};

// Further result codes of the object and storage interfaces.
inline constexpr HRESULT E_PENDING = MakeHresult(0x8000000A);
inline constexpr HRESULT OLE_S_USEREG = MakeHresult(0x00040000);
inline constexpr HRESULT OLE_E_ADVISENOTSUPPORTED = MakeHresult(0x80040003);
inline constexpr HRESULT OLE_E_NOCONNECTION = MakeHresult(0x80040004);
inline constexpr HRESULT OLE_E_NOTRUNNING = MakeHresult(0x80040005);
inline constexpr HRESULT OLEOBJ_E_NOVERBS = MakeHresult(0x80040180);
inline constexpr HRESULT OLEOBJ_S_INVALIDVERB = MakeHresult(0x00040180);
inline constexpr HRESULT DV_E_FORMATETC = MakeHresult(0x80040064);
inline constexpr HRESULT DV_E_TYMED = MakeHresult(0x80040069);
inline constexpr HRESULT DV_E_DVASPECT = MakeHresult(0x8004006B);
inline constexpr HRESULT VIEW_E_DRAW = MakeHresult(0x80040140);
inline constexpr HRESULT STG_E_ACCESSDENIED = MakeHresult(0x80030005);
inline constexpr HRESULT STG_E_INSUFFICIENTMEMORY = MakeHresult(0x80030008);
inline constexpr HRESULT STG_E_INVALIDPOINTER = MakeHresult(0x80030009);
inline constexpr HRESULT STG_E_INVALIDPARAMETER = MakeHresult(0x80030057);
inline constexpr HRESULT STG_E_FILEALREADYEXISTS = MakeHresult(0x80030050);
inline constexpr HRESULT STG_E_INVALIDNAME = MakeHresult(0x800300FC);
inline constexpr HRESULT STG_E_INVALIDFLAG = MakeHresult(0x800300FF);
inline constexpr HRESULT STG_E_WRITEFAULT = MakeHresult(0x8003001D);

// ---------------------------------------------------------------------------------------------
// Identifiers.
inline constexpr IID IID_IClassFactory{0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IStorage{0x0000000B, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IStream{0x0000000C, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IEnumSTATSTG{0x0000000D, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IPersistStream{0x00000109, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IPersistStorage{0x0000010A, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IPersist{0x0000010C, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IViewObject{0x0000010D, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IDataObject{0x0000010E, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IAdviseSink{0x0000010F, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IOleObject{0x00000112, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IOleInPlaceObject{0x00000113, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IOleWindow{0x00000114, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IOleInPlaceActiveObject{0x00000117, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IOleClientSite{0x00000118, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IOleInPlaceSite{0x00000119, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IViewObject2{0x00000127, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_ITypeLib{0x00020402, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_ISequentialStream{0x0C733A30, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
inline constexpr IID IID_IErrorInfo{0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
inline constexpr IID IID_ICreateErrorInfo{0x22F03340, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
inline constexpr IID IID_ISupportErrorInfo{0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
inline constexpr IID IID_IProvideClassInfo{0xB196B283, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline constexpr IID IID_IConnectionPointContainer{0xB196B284, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline constexpr IID IID_IEnumConnectionPoints{0xB196B285, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline constexpr IID IID_IConnectionPoint{0xB196B286, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline constexpr IID IID_IEnumConnections{0xB196B287, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline constexpr IID IID_IOleControl{0xB196B288, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline constexpr IID IID_ISpecifyPropertyPages{0xB196B28B, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline constexpr IID IID_IPropertyNotifySink{0x9BFBBC02, 0xEFF1, 0x101A, {0x84, 0xED, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
inline constexpr IID IID_IProvideClassInfo2{0xA6BC3AC0, 0xDBAA, 0x11CE, {0x9D, 0xE3, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};
inline constexpr IID IID_IPersistStreamInit{0x7FD52380, 0x4E07, 0x101B, {0xAE, 0x2D, 0x08, 0x00, 0x2B, 0x2E, 0xC7, 0x13}};
inline constexpr IID IID_IPersistPropertyBag{0x37D84F60, 0x42CB, 0x11CE, {0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};
inline constexpr IID IID_IPropertyBag{0x55272A00, 0x42CB, 0x11CE, {0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};
inline constexpr IID IID_IErrorLog{0x3127CA40, 0x446E, 0x11CE, {0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};
inline constexpr IID IID_IViewObjectEx{0x3AF24292, 0x0C96, 0x11CE, {0xA0, 0xCF, 0x00, 0xAA, 0x00, 0x60, 0x0A, 0xB8}};
inline constexpr IID IID_IOleInPlaceObjectWindowless{0x1C2056CC, 0x5EF4, 0x101B, {0x8B, 0xC8, 0x00, 0xAA, 0x00, 0x3E, 0x3B, 0x29}};
inline constexpr IID IID_IQuickActivate{0xCF51ED10, 0x62FE, 0x11CF, {0xBF, 0x86, 0x00, 0xA0, 0xC9, 0x03, 0x48, 0x36}};

// ---------------------------------------------------------------------------------------------
// Constants used with these interfaces.
inline constexpr DWORD STGM_READ = 0x0, STGM_WRITE = 0x1, STGM_READWRITE = 0x2;
inline constexpr DWORD STGM_SHARE_DENY_NONE = 0x40, STGM_SHARE_DENY_READ = 0x30;
inline constexpr DWORD STGM_SHARE_DENY_WRITE = 0x20, STGM_SHARE_EXCLUSIVE = 0x10;
inline constexpr DWORD STGM_DIRECT = 0x0, STGM_TRANSACTED = 0x10000;
inline constexpr DWORD STGM_FAILIFTHERE = 0x0, STGM_CREATE = 0x1000;
inline constexpr DWORD STREAM_SEEK_SET = 0, STREAM_SEEK_CUR = 1, STREAM_SEEK_END = 2;
inline constexpr DWORD STGTY_STORAGE = 1, STGTY_STREAM = 2;
inline constexpr DWORD STATFLAG_DEFAULT = 0, STATFLAG_NONAME = 1;
inline constexpr DWORD STGC_DEFAULT = 0;
inline constexpr DWORD STGMOVE_MOVE = 0, STGMOVE_COPY = 1;

inline constexpr DWORD DVASPECT_CONTENT = 1, DVASPECT_THUMBNAIL = 2, DVASPECT_ICON = 4,
                       DVASPECT_DOCPRINT = 8;
inline constexpr DWORD TYMED_NULL = 0, TYMED_HGLOBAL = 1, TYMED_FILE = 2, TYMED_ISTREAM = 4,
                       TYMED_ISTORAGE = 8, TYMED_GDI = 16;
inline constexpr LONG OLEIVERB_PRIMARY = 0, OLEIVERB_SHOW = -1, OLEIVERB_OPEN = -2,
                      OLEIVERB_HIDE = -3, OLEIVERB_UIACTIVATE = -4, OLEIVERB_INPLACEACTIVATE = -5,
                      OLEIVERB_DISCARDUNDOSTATE = -6, OLEIVERB_PROPERTIES = -7;
inline constexpr DWORD OLECLOSE_SAVEIFDIRTY = 0, OLECLOSE_NOSAVE = 1, OLECLOSE_PROMPTSAVE = 2;
inline constexpr DWORD USERCLASSTYPE_FULL = 1, USERCLASSTYPE_SHORT = 2, USERCLASSTYPE_APPNAME = 3;
inline constexpr DWORD VIEWSTATUS_OPAQUE = 1, VIEWSTATUS_SOLIDBKGND = 2;
inline constexpr DWORD HITRESULT_OUTSIDE = 0, HITRESULT_TRANSPARENT = 1, HITRESULT_CLOSE = 2,
                       HITRESULT_HIT = 3;
inline constexpr DWORD DVEXTENT_CONTENT = 0, DVEXTENT_INTEGRAL = 1;
inline constexpr DWORD GUIDKIND_DEFAULT_SOURCE_DISP_IID = 1;

inline constexpr DWORD OLEMISC_RECOMPOSEONRESIZE = 0x1;
inline constexpr DWORD OLEMISC_ONLYICONIC = 0x2;
inline constexpr DWORD OLEMISC_INSERTNOTREPLACE = 0x4;
inline constexpr DWORD OLEMISC_STATIC = 0x8;
inline constexpr DWORD OLEMISC_CANTLINKINSIDE = 0x10;
inline constexpr DWORD OLEMISC_CANLINKBYOLE1 = 0x20;
inline constexpr DWORD OLEMISC_ISLINKOBJECT = 0x40;
inline constexpr DWORD OLEMISC_INSIDEOUT = 0x80;
inline constexpr DWORD OLEMISC_ACTIVATEWHENVISIBLE = 0x100;
inline constexpr DWORD OLEMISC_RENDERINGISDEVICEINDEPENDENT = 0x200;
inline constexpr DWORD OLEMISC_INVISIBLEATRUNTIME = 0x400;
inline constexpr DWORD OLEMISC_ALWAYSRUN = 0x800;
inline constexpr DWORD OLEMISC_ACTSLIKEBUTTON = 0x1000;
inline constexpr DWORD OLEMISC_ACTSLIKELABEL = 0x2000;
inline constexpr DWORD OLEMISC_NOUIACTIVATE = 0x4000;
inline constexpr DWORD OLEMISC_ALIGNABLE = 0x8000;
inline constexpr DWORD OLEMISC_SIMPLEFRAME = 0x10000;
inline constexpr DWORD OLEMISC_SETCLIENTSITEFIRST = 0x20000;

// ---------------------------------------------------------------------------------------------
// Data records passed through the interfaces.
struct CONNECTDATA {
  IUnknown* pUnk = nullptr;  // AddRef'd for the receiver of an enumeration
  DWORD dwCookie = 0;
};

struct CAUUID {
  ULONG cElems = 0;
  GUID* pElems = nullptr;  // CoTaskMemAlloc'd; the caller frees it
};

struct STATSTG {
  LPOLESTR pwcsName = nullptr;  // CoTaskMemAlloc'd unless STATFLAG_NONAME
  DWORD type = 0;               // STGTY_*
  ULARGE_INTEGER cbSize{};
  FILETIME mtime{};
  FILETIME ctime{};
  FILETIME atime{};
  DWORD grfMode = 0;
  DWORD grfLocksSupported = 0;
  CLSID clsid{};
  DWORD grfStateBits = 0;
  DWORD reserved = 0;
};

struct DVTARGETDEVICE {
  DWORD tdSize = 0;
  WORD tdDriverNameOffset = 0;
  WORD tdDeviceNameOffset = 0;
  WORD tdPortNameOffset = 0;
  WORD tdExtDevmodeOffset = 0;
  BYTE tdData[1]{};
};

struct DVEXTENTINFO {
  ULONG cb = 0;
  DWORD dwExtentMode = 0;  // DVEXTENT_*
  SIZEL sizelProposed{};
};

struct PALETTEENTRY {
  BYTE peRed = 0, peGreen = 0, peBlue = 0, peFlags = 0;
};
struct LOGPALETTE {
  WORD palVersion = 0;
  WORD palNumEntries = 0;
  PALETTEENTRY palPalEntry[1];
};

struct FORMATETC {
  CLIPFORMAT cfFormat = 0;
  DVTARGETDEVICE* ptd = nullptr;
  DWORD dwAspect = 0;
  LONG lindex = -1;
  DWORD tymed = 0;
};

struct IStream;
struct IStorage;
struct STGMEDIUM {
  DWORD tymed = 0;
  union {
    HBITMAP hBitmap;
    HGLOBAL hGlobal;
    LPOLESTR lpszFileName;
    IStream* pstm;
    IStorage* pstg;
  };
  IUnknown* pUnkForRelease = nullptr;
  STGMEDIUM() noexcept : hGlobal(nullptr) {}
};

struct CONTROLINFO {
  ULONG cb = sizeof(CONTROLINFO);
  HACCEL hAccel = nullptr;
  USHORT cAccel = 0;
  DWORD dwFlags = 0;
};

struct OLEINPLACEFRAMEINFO {
  UINT cb = sizeof(OLEINPLACEFRAMEINFO);
  BOOL fMDIApp = 0;
  HWND hwndFrame = nullptr;
  HACCEL haccel = nullptr;
  UINT cAccelEntries = 0;
};

// Interfaces that only appear as parameters here; nothing in this runtime implements them.
struct IMoniker;
struct IEnumOLEVERB;
struct IEnumSTATDATA;
struct IEnumFORMATETC;
struct IDropTarget;
struct IOleContainer;
struct IOleInPlaceFrame;
struct IOleInPlaceUIWindow;
struct IAdviseSinkEx;
struct IFont;
struct IOleUndoManager;
struct IBindHost;
struct IOleControlSite;
struct IServiceProvider;
struct ITypeComp;
struct ITypeLib;
struct IPropertyNotifySink;
struct IOleClientSite;

struct QACONTAINER {
  ULONG cbSize = sizeof(QACONTAINER);
  IOleClientSite* pClientSite = nullptr;
  IAdviseSinkEx* pAdviseSink = nullptr;
  IPropertyNotifySink* pPropertyNotifySink = nullptr;
  IUnknown* pUnkEventSink = nullptr;
  DWORD dwAmbientFlags = 0;
  OLE_COLOR colorFore = 0;
  OLE_COLOR colorBack = 0;
  IFont* pFont = nullptr;
  IOleUndoManager* pUndoMgr = nullptr;
  DWORD dwAppearance = 0;
  LONG lcid = 0;
  HPALETTE hpal = nullptr;
  IBindHost* pBindHost = nullptr;
  IOleControlSite* pOleControlSite = nullptr;
  IServiceProvider* pServiceProvider = nullptr;
};

struct QACONTROL {
  ULONG cbSize = sizeof(QACONTROL);
  DWORD dwMiscStatus = 0;
  DWORD dwViewStatus = 0;
  DWORD dwEventCookie = 0;
  DWORD dwPropNotifyCookie = 0;
  DWORD dwPointerActivationPolicy = 0;
};

// ---------------------------------------------------------------------------------------------
// Objects and errors.
struct IClassFactory : IUnknown {
  static constexpr const IID& kIid = IID_IClassFactory;
  // Creates one object and queries it for riid; CLASS_E_NOAGGREGATION when outer is not null.
  virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) = 0;
  // Keeps the module loaded while lock is true (counted).
  virtual HRESULT LockServer(BOOL lock) = 0;

 protected:
  ~IClassFactory() = default;
};

struct IErrorInfo : IUnknown {
  static constexpr const IID& kIid = IID_IErrorInfo;
  virtual HRESULT GetGUID(GUID* guid) = 0;                 // interface that defined the error
  virtual HRESULT GetSource(BSTR* source) = 0;             // ProgID of the raising class; caller frees
  virtual HRESULT GetDescription(BSTR* description) = 0;   // caller frees
  virtual HRESULT GetHelpFile(BSTR* help_file) = 0;        // caller frees
  virtual HRESULT GetHelpContext(DWORD* help_context) = 0;

 protected:
  ~IErrorInfo() = default;
};

struct ICreateErrorInfo : IUnknown {
  static constexpr const IID& kIid = IID_ICreateErrorInfo;
  virtual HRESULT SetGUID(REFGUID guid) = 0;
  virtual HRESULT SetSource(LPOLESTR source) = 0;          // copied; null clears
  virtual HRESULT SetDescription(LPOLESTR description) = 0;
  virtual HRESULT SetHelpFile(LPOLESTR help_file) = 0;
  virtual HRESULT SetHelpContext(DWORD help_context) = 0;

 protected:
  ~ICreateErrorInfo() = default;
};

struct ISupportErrorInfo : IUnknown {
  static constexpr const IID& kIid = IID_ISupportErrorInfo;
  // S_OK when the methods of riid post error information, S_FALSE otherwise.
  virtual HRESULT InterfaceSupportsErrorInfo(REFIID riid) = 0;

 protected:
  ~ISupportErrorInfo() = default;
};

// ---------------------------------------------------------------------------------------------
// Connection points (outgoing interfaces).
struct IConnectionPoint;
struct IEnumConnections;

struct IEnumConnectionPoints : IUnknown {
  static constexpr const IID& kIid = IID_IEnumConnectionPoints;
  // Hands out up to count AddRef'd points; S_FALSE when fewer remained. fetched may be null for 1.
  virtual HRESULT Next(ULONG count, IConnectionPoint** points, ULONG* fetched) = 0;
  virtual HRESULT Skip(ULONG count) = 0;  // S_FALSE when fewer remained
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumConnectionPoints** copy) = 0;  // same list and position

 protected:
  ~IEnumConnectionPoints() = default;
};

struct IConnectionPointContainer : IUnknown {
  static constexpr const IID& kIid = IID_IConnectionPointContainer;
  virtual HRESULT EnumConnectionPoints(IEnumConnectionPoints** points) = 0;
  // CONNECT_E_NOCONNECTION when the object has no point for riid.
  virtual HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** point) = 0;

 protected:
  ~IConnectionPointContainer() = default;
};

struct IConnectionPoint : IUnknown {
  static constexpr const IID& kIid = IID_IConnectionPoint;
  virtual HRESULT GetConnectionInterface(IID* iid) = 0;  // the outgoing interface served
  virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) = 0;
  // Connects sink (queried for the outgoing interface); CONNECT_E_CANNOTCONNECT when it lacks it.
  virtual HRESULT Advise(IUnknown* sink, DWORD* cookie) = 0;
  // CONNECT_E_NOCONNECTION for a cookie that is not connected.
  virtual HRESULT Unadvise(DWORD cookie) = 0;
  virtual HRESULT EnumConnections(IEnumConnections** connections) = 0;

 protected:
  ~IConnectionPoint() = default;
};

struct IEnumConnections : IUnknown {
  static constexpr const IID& kIid = IID_IEnumConnections;
  // Up to count records, each pUnk AddRef'd for the caller; S_FALSE when fewer remained.
  virtual HRESULT Next(ULONG count, CONNECTDATA* data, ULONG* fetched) = 0;
  virtual HRESULT Skip(ULONG count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumConnections** copy) = 0;

 protected:
  ~IEnumConnections() = default;
};

struct IPropertyNotifySink : IUnknown {
  static constexpr const IID& kIid = IID_IPropertyNotifySink;
  virtual HRESULT OnChanged(DISPID property) = 0;      // the property has changed
  virtual HRESULT OnRequestEdit(DISPID property) = 0;  // S_FALSE refuses the change

 protected:
  ~IPropertyNotifySink() = default;
};

// ---------------------------------------------------------------------------------------------
// Streams, storages and property bags.
struct ISequentialStream : IUnknown {
  static constexpr const IID& kIid = IID_ISequentialStream;
  // Reads up to size bytes; S_OK also when fewer remained (read says how many). read may be null.
  virtual HRESULT Read(void* buffer, ULONG size, ULONG* read) = 0;
  // Writes size bytes at the seek position, growing the stream. written may be null.
  virtual HRESULT Write(const void* buffer, ULONG size, ULONG* written) = 0;

 protected:
  ~ISequentialStream() = default;
};

struct IStream : ISequentialStream {
  static constexpr const IID& kIid = IID_IStream;
  // origin is STREAM_SEEK_*; STG_E_INVALIDFUNCTION for a position before the start.
  virtual HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* new_position) = 0;
  virtual HRESULT SetSize(ULARGE_INTEGER size) = 0;
  // Copies up to size bytes from the seek position to target's seek position.
  virtual HRESULT CopyTo(IStream* target, ULARGE_INTEGER size, ULARGE_INTEGER* read,
                         ULARGE_INTEGER* written) = 0;
  virtual HRESULT Commit(DWORD flags) = 0;
  virtual HRESULT Revert() = 0;
  virtual HRESULT LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER size, DWORD lock_type) = 0;
  virtual HRESULT UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER size, DWORD lock_type) = 0;
  virtual HRESULT Stat(STATSTG* stat, DWORD flags) = 0;  // flags: STATFLAG_*
  // A second stream over the same bytes with its own seek position (copied from this one).
  virtual HRESULT Clone(IStream** copy) = 0;

 protected:
  ~IStream() = default;
};

struct IEnumSTATSTG : IUnknown {
  static constexpr const IID& kIid = IID_IEnumSTATSTG;
  // Up to count records; each pwcsName is CoTaskMemAlloc'd for the caller.
  virtual HRESULT Next(ULONG count, STATSTG* stats, ULONG* fetched) = 0;
  virtual HRESULT Skip(ULONG count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumSTATSTG** copy) = 0;

 protected:
  ~IEnumSTATSTG() = default;
};

struct IStorage : IUnknown {
  static constexpr const IID& kIid = IID_IStorage;
  // STG_E_FILEALREADYEXISTS when name exists and mode lacks STGM_CREATE (which truncates it).
  virtual HRESULT CreateStream(const OLECHAR* name, DWORD mode, DWORD reserved1, DWORD reserved2,
                               IStream** stream) = 0;
  // STG_E_FILENOTFOUND when there is no stream of that name.
  virtual HRESULT OpenStream(const OLECHAR* name, void* reserved1, DWORD mode, DWORD reserved2,
                             IStream** stream) = 0;
  virtual HRESULT CreateStorage(const OLECHAR* name, DWORD mode, DWORD reserved1, DWORD reserved2,
                                IStorage** storage) = 0;
  virtual HRESULT OpenStorage(const OLECHAR* name, IStorage* priority, DWORD mode, SNB exclude,
                              DWORD reserved, IStorage** storage) = 0;
  // Copies every element (except those excluded) into target, replacing same-named ones.
  virtual HRESULT CopyTo(DWORD iid_exclude_count, const IID* iid_exclude, SNB name_exclude,
                         IStorage* target) = 0;
  virtual HRESULT MoveElementTo(const OLECHAR* name, IStorage* target, const OLECHAR* new_name,
                                DWORD flags) = 0;  // flags: STGMOVE_*
  virtual HRESULT Commit(DWORD flags) = 0;
  virtual HRESULT Revert() = 0;
  virtual HRESULT EnumElements(DWORD reserved1, void* reserved2, DWORD reserved3,
                               IEnumSTATSTG** elements) = 0;
  virtual HRESULT DestroyElement(const OLECHAR* name) = 0;
  virtual HRESULT RenameElement(const OLECHAR* old_name, const OLECHAR* new_name) = 0;
  virtual HRESULT SetElementTimes(const OLECHAR* name, const FILETIME* created,
                                  const FILETIME* accessed, const FILETIME* modified) = 0;
  virtual HRESULT SetClass(REFCLSID clsid) = 0;  // recorded; Stat reports it
  virtual HRESULT SetStateBits(DWORD bits, DWORD mask) = 0;
  virtual HRESULT Stat(STATSTG* stat, DWORD flags) = 0;

 protected:
  ~IStorage() = default;
};

struct IErrorLog : IUnknown {
  static constexpr const IID& kIid = IID_IErrorLog;
  // Told of each property a bag could not read.
  virtual HRESULT AddError(LPCOLESTR property_name, EXCEPINFO* excep) = 0;

 protected:
  ~IErrorLog() = default;
};

struct IPropertyBag : IUnknown {
  static constexpr const IID& kIid = IID_IPropertyBag;
  // Reads the named value into *value, coerced to value->vt unless that is VT_EMPTY.
  // E_INVALIDARG when the bag does not hold the name.
  virtual HRESULT Read(LPCOLESTR name, VARIANT* value, IErrorLog* error_log) = 0;
  virtual HRESULT Write(LPCOLESTR name, VARIANT* value) = 0;  // stores a copy

 protected:
  ~IPropertyBag() = default;
};

// ---------------------------------------------------------------------------------------------
// Persistence of objects.
struct IPersist : IUnknown {
  static constexpr const IID& kIid = IID_IPersist;
  virtual HRESULT GetClassID(CLSID* clsid) = 0;

 protected:
  ~IPersist() = default;
};

struct IPersistStream : IPersist {
  static constexpr const IID& kIid = IID_IPersistStream;
  virtual HRESULT IsDirty() = 0;  // S_OK when changed since the last save, else S_FALSE
  virtual HRESULT Load(IStream* stream) = 0;
  virtual HRESULT Save(IStream* stream, BOOL clear_dirty) = 0;
  virtual HRESULT GetSizeMax(ULARGE_INTEGER* size) = 0;

 protected:
  ~IPersistStream() = default;
};

struct IPersistStreamInit : IPersist {
  static constexpr const IID& kIid = IID_IPersistStreamInit;
  virtual HRESULT IsDirty() = 0;  // S_OK when changed since the last save, else S_FALSE
  virtual HRESULT Load(IStream* stream) = 0;
  virtual HRESULT Save(IStream* stream, BOOL clear_dirty) = 0;
  virtual HRESULT GetSizeMax(ULARGE_INTEGER* size) = 0;
  virtual HRESULT InitNew() = 0;  // initial state, for a new object

 protected:
  ~IPersistStreamInit() = default;
};

struct IPersistPropertyBag : IPersist {
  static constexpr const IID& kIid = IID_IPersistPropertyBag;
  virtual HRESULT InitNew() = 0;
  virtual HRESULT Load(IPropertyBag* bag, IErrorLog* error_log) = 0;
  virtual HRESULT Save(IPropertyBag* bag, BOOL clear_dirty, BOOL save_all) = 0;

 protected:
  ~IPersistPropertyBag() = default;
};

struct IPersistStorage : IPersist {
  static constexpr const IID& kIid = IID_IPersistStorage;
  virtual HRESULT IsDirty() = 0;
  virtual HRESULT InitNew(IStorage* storage) = 0;
  virtual HRESULT Load(IStorage* storage) = 0;
  virtual HRESULT Save(IStorage* storage, BOOL same_as_load) = 0;
  virtual HRESULT SaveCompleted(IStorage* storage) = 0;
  virtual HRESULT HandsOffStorage() = 0;

 protected:
  ~IPersistStorage() = default;
};

// ---------------------------------------------------------------------------------------------
// Class information and property pages.
struct IProvideClassInfo : IUnknown {
  static constexpr const IID& kIid = IID_IProvideClassInfo;
  virtual HRESULT GetClassInfo(ITypeInfo** info) = 0;  // the coclass's type information

 protected:
  ~IProvideClassInfo() = default;
};

struct IProvideClassInfo2 : IProvideClassInfo {
  static constexpr const IID& kIid = IID_IProvideClassInfo2;
  // kind GUIDKIND_DEFAULT_SOURCE_DISP_IID: the default event interface.
  virtual HRESULT GetGUID(DWORD kind, GUID* guid) = 0;

 protected:
  ~IProvideClassInfo2() = default;
};

struct ISpecifyPropertyPages : IUnknown {
  static constexpr const IID& kIid = IID_ISpecifyPropertyPages;
  virtual HRESULT GetPages(CAUUID* pages) = 0;

 protected:
  ~ISpecifyPropertyPages() = default;
};

// ---------------------------------------------------------------------------------------------
// Embedding, drawing and activation of a control.
struct IAdviseSink : IUnknown {
  static constexpr const IID& kIid = IID_IAdviseSink;
  virtual void OnDataChange(FORMATETC* format, STGMEDIUM* medium) = 0;
  virtual void OnViewChange(DWORD aspect, LONG index) = 0;
  virtual void OnRename(IMoniker* moniker) = 0;
  virtual void OnSave() = 0;
  virtual void OnClose() = 0;

 protected:
  ~IAdviseSink() = default;
};

struct IOleClientSite : IUnknown {
  static constexpr const IID& kIid = IID_IOleClientSite;
  virtual HRESULT SaveObject() = 0;
  virtual HRESULT GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) = 0;
  virtual HRESULT GetContainer(IOleContainer** container) = 0;
  virtual HRESULT ShowObject() = 0;
  virtual HRESULT OnShowWindow(BOOL show) = 0;
  virtual HRESULT RequestNewObjectLayout() = 0;

 protected:
  ~IOleClientSite() = default;
};

struct IViewObject : IUnknown {
  static constexpr const IID& kIid = IID_IViewObject;
  // Draws the aspect into draw_dc within bounds (logical units of draw_dc).
  virtual HRESULT Draw(DWORD aspect, LONG index, void* aspect_info, DVTARGETDEVICE* target_device,
                       HDC target_dc, HDC draw_dc, const RECTL* bounds, const RECTL* window_bounds,
                       BOOL(STDMETHODCALLTYPE* should_continue)(ULONG_PTR),
                       ULONG_PTR continue_arg) = 0;
  virtual HRESULT GetColorSet(DWORD aspect, LONG index, void* aspect_info,
                              DVTARGETDEVICE* target_device, HDC target_dc,
                              LOGPALETTE** color_set) = 0;
  virtual HRESULT Freeze(DWORD aspect, LONG index, void* aspect_info, DWORD* freeze) = 0;
  virtual HRESULT Unfreeze(DWORD freeze) = 0;
  virtual HRESULT SetAdvise(DWORD aspects, DWORD advise_flags, IAdviseSink* sink) = 0;
  virtual HRESULT GetAdvise(DWORD* aspects, DWORD* advise_flags, IAdviseSink** sink) = 0;

 protected:
  ~IViewObject() = default;
};

struct IViewObject2 : IViewObject {
  static constexpr const IID& kIid = IID_IViewObject2;
  virtual HRESULT GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* target_device,
                            SIZEL* size) = 0;  // HIMETRIC units

 protected:
  ~IViewObject2() = default;
};

struct IViewObjectEx : IViewObject2 {
  static constexpr const IID& kIid = IID_IViewObjectEx;
  virtual HRESULT GetRect(DWORD aspect, RECTL* rect) = 0;
  virtual HRESULT GetViewStatus(DWORD* status) = 0;  // VIEWSTATUS_*
  virtual HRESULT QueryHitPoint(DWORD aspect, const RECT* bounds, POINT location, LONG close_hint,
                                DWORD* hit_result) = 0;  // HITRESULT_*
  virtual HRESULT QueryHitRect(DWORD aspect, const RECT* bounds, const RECT* location,
                               LONG close_hint, DWORD* hit_result) = 0;
  virtual HRESULT GetNaturalExtent(DWORD aspect, LONG index, DVTARGETDEVICE* target_device,
                                   HDC target_dc, DVEXTENTINFO* extent_info, SIZEL* size) = 0;

 protected:
  ~IViewObjectEx() = default;
};

struct IOleWindow : IUnknown {
  static constexpr const IID& kIid = IID_IOleWindow;
  virtual HRESULT GetWindow(HWND* window) = 0;
  virtual HRESULT ContextSensitiveHelp(BOOL enter_mode) = 0;

 protected:
  ~IOleWindow() = default;
};

struct IOleInPlaceObject : IOleWindow {
  static constexpr const IID& kIid = IID_IOleInPlaceObject;
  virtual HRESULT InPlaceDeactivate() = 0;
  virtual HRESULT UIDeactivate() = 0;
  virtual HRESULT SetObjectRects(const RECT* position, const RECT* clip) = 0;
  virtual HRESULT ReactivateAndUndo() = 0;

 protected:
  ~IOleInPlaceObject() = default;
};

struct IOleInPlaceObjectWindowless : IOleInPlaceObject {
  static constexpr const IID& kIid = IID_IOleInPlaceObjectWindowless;
  virtual HRESULT OnWindowMessage(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) = 0;
  virtual HRESULT GetDropTarget(IDropTarget** target) = 0;

 protected:
  ~IOleInPlaceObjectWindowless() = default;
};

struct IOleInPlaceActiveObject : IOleWindow {
  static constexpr const IID& kIid = IID_IOleInPlaceActiveObject;
  virtual HRESULT TranslateAccelerator(MSG* message) = 0;  // S_FALSE when not handled
  virtual HRESULT OnFrameWindowActivate(BOOL activate) = 0;
  virtual HRESULT OnDocWindowActivate(BOOL activate) = 0;
  virtual HRESULT ResizeBorder(const RECT* border, IOleInPlaceUIWindow* ui_window,
                               BOOL frame_window) = 0;
  virtual HRESULT EnableModeless(BOOL enable) = 0;

 protected:
  ~IOleInPlaceActiveObject() = default;
};

struct IOleInPlaceSite : IOleWindow {
  static constexpr const IID& kIid = IID_IOleInPlaceSite;
  virtual HRESULT CanInPlaceActivate() = 0;
  virtual HRESULT OnInPlaceActivate() = 0;
  virtual HRESULT OnUIActivate() = 0;
  virtual HRESULT GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc,
                                   RECT* position, RECT* clip, OLEINPLACEFRAMEINFO* frame_info) = 0;
  virtual HRESULT Scroll(SIZE extent) = 0;
  virtual HRESULT OnUIDeactivate(BOOL undoable) = 0;
  virtual HRESULT OnInPlaceDeactivate() = 0;
  virtual HRESULT DiscardUndoState() = 0;
  virtual HRESULT DeactivateAndUndo() = 0;
  virtual HRESULT OnPosRectChange(const RECT* position) = 0;

 protected:
  ~IOleInPlaceSite() = default;
};

struct IOleControl : IUnknown {
  static constexpr const IID& kIid = IID_IOleControl;
  virtual HRESULT GetControlInfo(CONTROLINFO* info) = 0;
  virtual HRESULT OnMnemonic(MSG* message) = 0;
  virtual HRESULT OnAmbientPropertyChange(DISPID property) = 0;
  virtual HRESULT FreezeEvents(BOOL freeze) = 0;

 protected:
  ~IOleControl() = default;
};

struct IDataObject;

struct IOleObject : IUnknown {
  static constexpr const IID& kIid = IID_IOleObject;
  virtual HRESULT SetClientSite(IOleClientSite* site) = 0;
  virtual HRESULT GetClientSite(IOleClientSite** site) = 0;
  virtual HRESULT SetHostNames(LPCOLESTR container_app, LPCOLESTR container_object) = 0;
  virtual HRESULT Close(DWORD save_option) = 0;  // OLECLOSE_*
  virtual HRESULT SetMoniker(DWORD which, IMoniker* moniker) = 0;
  virtual HRESULT GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) = 0;
  virtual HRESULT InitFromData(IDataObject* data, BOOL creation, DWORD reserved) = 0;
  virtual HRESULT GetClipboardData(DWORD reserved, IDataObject** data) = 0;
  virtual HRESULT DoVerb(LONG verb, MSG* message, IOleClientSite* active_site, LONG index,
                         HWND parent, const RECT* position) = 0;  // OLEIVERB_*
  virtual HRESULT EnumVerbs(IEnumOLEVERB** verbs) = 0;
  virtual HRESULT Update() = 0;
  virtual HRESULT IsUpToDate() = 0;
  virtual HRESULT GetUserClassID(CLSID* clsid) = 0;
  virtual HRESULT GetUserType(DWORD form, LPOLESTR* user_type) = 0;  // USERCLASSTYPE_*
  virtual HRESULT SetExtent(DWORD aspect, SIZEL* size) = 0;          // HIMETRIC units
  virtual HRESULT GetExtent(DWORD aspect, SIZEL* size) = 0;
  virtual HRESULT Advise(IAdviseSink* sink, DWORD* connection) = 0;
  virtual HRESULT Unadvise(DWORD connection) = 0;
  virtual HRESULT EnumAdvise(IEnumSTATDATA** advises) = 0;
  virtual HRESULT GetMiscStatus(DWORD aspect, DWORD* status) = 0;  // OLEMISC_* bits
  virtual HRESULT SetColorScheme(LOGPALETTE* palette) = 0;

 protected:
  ~IOleObject() = default;
};

struct IQuickActivate : IUnknown {
  static constexpr const IID& kIid = IID_IQuickActivate;
  virtual HRESULT QuickActivate(QACONTAINER* container, QACONTROL* control) = 0;
  virtual HRESULT SetContentExtent(SIZEL* size) = 0;
  virtual HRESULT GetContentExtent(SIZEL* size) = 0;

 protected:
  ~IQuickActivate() = default;
};

struct IDataObject : IUnknown {
  static constexpr const IID& kIid = IID_IDataObject;
  virtual HRESULT GetData(FORMATETC* format, STGMEDIUM* medium) = 0;
  virtual HRESULT GetDataHere(FORMATETC* format, STGMEDIUM* medium) = 0;
  virtual HRESULT QueryGetData(FORMATETC* format) = 0;
  virtual HRESULT GetCanonicalFormatEtc(FORMATETC* format_in, FORMATETC* format_out) = 0;
  virtual HRESULT SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) = 0;
  virtual HRESULT EnumFormatEtc(DWORD direction, IEnumFORMATETC** formats) = 0;
  virtual HRESULT DAdvise(FORMATETC* format, DWORD advise_flags, IAdviseSink* sink,
                          DWORD* connection) = 0;
  virtual HRESULT DUnadvise(DWORD connection) = 0;
  virtual HRESULT EnumDAdvise(IEnumSTATDATA** advises) = 0;

 protected:
  ~IDataObject() = default;
};

}  // namespace kx::platform
