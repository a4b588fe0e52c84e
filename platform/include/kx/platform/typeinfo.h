#pragma once
// Type information as data, and the generic dispatch that serves any object from it.
//
// A component describes each dual interface once, one line per member, naming the C++ member
// function that implements it; the parameter types come from the member's signature:
//
//   using namespace kx::platform::param;
//   InterfaceDescription d{.name = u"IKvQuantorb", .iid = IID_IKvQuantorb, .help = u"...",
//                          .type_flags = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION |
//                                        TYPEFLAG_FDISPATCHABLE};
//   d.members = {
//     PropertyGet<&IKvQuantorb::get_Base>(1, u"Base", u"Set the base ..."),
//     PropertyPut<&IKvQuantorb::put_Base>(1, u"Base", u"Set the base ..."),
//     Method<&IKvQuantorb::BSCallPrice>(10, u"BSCallPrice", {In(u"StockPrice"), ...,
//                                       RetVal(u"CPrice")}, u"Computes ..."),
//   };
//
// and its IDispatch forwards to DispGetIDsOfNames(d, ...) and
// DispInvoke(static_cast<IKvQuantorb*>(this), d, ...).
//
// C++ parameter types and the VARTYPE they declare: double VT_R8, float VT_R4, LONG VT_I4,
// SHORT VT_I2 (so also VARIANT_BOOL), BSTR VT_BSTR, IDispatch* VT_DISPATCH, IUnknown* VT_UNKNOWN,
// VARIANT (by value) VT_VARIANT; a pointer to one of the scalars, to BSTR or to VARIANT declares
// the same type with VT_BYREF.
#include <cstddef>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "kx/platform/interfaces.h"

namespace kx::platform {

enum TYPEKIND : int {
  TKIND_ENUM = 0, TKIND_RECORD = 1, TKIND_MODULE = 2, TKIND_INTERFACE = 3, TKIND_DISPATCH = 4,
  TKIND_COCLASS = 5, TKIND_ALIAS = 6, TKIND_UNION = 7,
};
enum INVOKEKIND : int {
  INVOKE_FUNC = 1, INVOKE_PROPERTYGET = 2, INVOKE_PROPERTYPUT = 4, INVOKE_PROPERTYPUTREF = 8,
};
enum FUNCKIND : int {
  FUNC_VIRTUAL = 0, FUNC_PUREVIRTUAL = 1, FUNC_NONVIRTUAL = 2, FUNC_STATIC = 3, FUNC_DISPATCH = 4,
};
enum CALLCONV : int { CC_CDECL = 1, CC_STDCALL = 4 };
enum SYSKIND : int { SYS_WIN16 = 0, SYS_WIN32 = 1, SYS_MAC = 2, SYS_WIN64 = 3 };

inline constexpr USHORT PARAMFLAG_NONE = 0x0, PARAMFLAG_FIN = 0x1, PARAMFLAG_FOUT = 0x2,
                        PARAMFLAG_FLCID = 0x4, PARAMFLAG_FRETVAL = 0x8, PARAMFLAG_FOPT = 0x10,
                        PARAMFLAG_FHASDEFAULT = 0x20;
inline constexpr WORD FUNCFLAG_FRESTRICTED = 0x1, FUNCFLAG_FSOURCE = 0x2, FUNCFLAG_FBINDABLE = 0x4,
                      FUNCFLAG_FREQUESTEDIT = 0x8, FUNCFLAG_FDISPLAYBIND = 0x10,
                      FUNCFLAG_FDEFAULTBIND = 0x20, FUNCFLAG_FHIDDEN = 0x40;
inline constexpr WORD TYPEFLAG_FAPPOBJECT = 0x1, TYPEFLAG_FCANCREATE = 0x2,
                      TYPEFLAG_FLICENSED = 0x4, TYPEFLAG_FPREDECLID = 0x8, TYPEFLAG_FHIDDEN = 0x10,
                      TYPEFLAG_FCONTROL = 0x20, TYPEFLAG_FDUAL = 0x40,
                      TYPEFLAG_FNONEXTENSIBLE = 0x80, TYPEFLAG_FOLEAUTOMATION = 0x100,
                      TYPEFLAG_FRESTRICTED = 0x200, TYPEFLAG_FAGGREGATABLE = 0x400,
                      TYPEFLAG_FREPLACEABLE = 0x800, TYPEFLAG_FDISPATCHABLE = 0x1000;
using INT = std::int32_t;
inline constexpr INT IMPLTYPEFLAG_FDEFAULT = 0x1, IMPLTYPEFLAG_FSOURCE = 0x2,
                     IMPLTYPEFLAG_FRESTRICTED = 0x4, IMPLTYPEFLAG_FDEFAULTVTABLE = 0x8;
inline constexpr WORD LIBFLAG_FRESTRICTED = 0x1, LIBFLAG_FCONTROL = 0x2, LIBFLAG_FHIDDEN = 0x4,
                      LIBFLAG_FHASDISKIMAGE = 0x8;
inline constexpr MEMBERID MEMBERID_NIL = DISPID_UNKNOWN;
inline constexpr HRESULT TYPE_E_BADMODULEKIND = MakeHresult(0x800288BD);

// ---------------------------------------------------------------------------------------------
// The description.

// Called by DispInvoke with one prepared VARIANT per parameter, in declared order: an [in]
// value coerced to the declared type, or VT_BYREF with the pointer the member receives
// (for the retval parameter, a location DispInvoke owns).
using MemberCall = HRESULT (*)(void* object, VARIANT* args);

struct ParamDescription {
  std::u16string name{};
  VARTYPE vt = VT_EMPTY;            // declared type; VT_BYREF marks a pointer parameter
  USHORT flags = PARAMFLAG_FIN;     // PARAMFLAG_*
};

struct MemberDescription {
  DISPID dispid = DISPID_UNKNOWN;
  INVOKEKIND kind = INVOKE_FUNC;
  std::u16string name{};
  std::u16string help{};
  WORD func_flags = 0;                     // FUNCFLAG_*
  std::vector<ParamDescription> params{};    // declared order, the retval one last
  MemberCall call = nullptr;               // null for described-only members (event interfaces)
};

struct InterfaceDescription {
  std::u16string name{};
  IID iid{};
  std::u16string help{};
  TYPEKIND kind = TKIND_DISPATCH;  // a dual interface is TKIND_DISPATCH with TYPEFLAG_FDUAL
  WORD type_flags = 0;             // TYPEFLAG_*
  std::vector<MemberDescription> members{};  // vtable order (get before put)

  // The member with this DISPID and kind, or null.
  [[nodiscard]] const MemberDescription* Find(DISPID dispid, INVOKEKIND kind) const noexcept;
};

struct ImplementedInterface {
  IID iid{};
  INT flags = 0;  // IMPLTYPEFLAG_*
};

struct CoclassDescription {
  std::u16string name{};
  CLSID clsid{};
  std::u16string help{};
  WORD type_flags = TYPEFLAG_FCANCREATE;
  std::vector<ImplementedInterface> interfaces{};  // each described by the library
};

struct LibraryDescription {
  std::u16string name{};
  GUID libid{};
  WORD major_version = 1;
  WORD minor_version = 0;
  LCID lcid = 0;
  std::u16string help{};
  WORD lib_flags = 0;  // LIBFLAG_*
  std::vector<InterfaceDescription> interfaces{};
  std::vector<CoclassDescription> coclasses{};
};

// ---------------------------------------------------------------------------------------------
// Dispatch from a description.

// names[0] is a member name, names[1..] names of its parameters (answered with their 0-based
// positions). Case-insensitive. DISP_E_UNKNOWNNAME when any name is unknown (its id is then
// DISPID_UNKNOWN, the others are still filled); E_INVALIDARG for count 0; E_POINTER for nulls.
[[nodiscard]] HRESULT DispGetIDsOfNames(const InterfaceDescription& description, LPOLESTR* names,
                                        UINT count, DISPID* ids) noexcept;

// Calls the member through its MemberCall on object (the interface pointer whose members the
// description names: static_cast<IKvQuantorb*>(this)). Rules:
// - positional arguments arrive in reverse order (rgvarg[cArgs - 1] is the first); named ones
//   (DISPIDs = parameter positions) stand first in rgvarg; DISPATCH_PROPERTYPUT needs the one
//   named argument DISPID_PROPERTYPUT (else DISP_E_PARAMNOTFOUND);
// - [in] parameters receive the argument (following VT_BYREF) coerced to the declared type;
//   DISP_E_TYPEMISMATCH (or DISP_E_OVERFLOW) with *arg_err = its rgvarg index when impossible;
// - pointer parameters: an argument of exactly VT_BYREF | that type is passed through; a
//   VT_BYREF | VT_VARIANT argument passes its VARIANT for a VARIANT* parameter, or for a scalar
//   pointer a temporary that is written back as the declared type; a by-value argument passes a
//   temporary ([in, out]: holding the coerced value) that is discarded; any other VT_BYREF type
//   is DISP_E_TYPEMISMATCH. A VARIANT* parameter given a by-value VARIANT receives that VARIANT;
// - omitted (missing, or VT_ERROR holding DISP_E_PARAMNOTFOUND): optional scalars arrive as 0
//   (pointer: to a zeroed temporary), optional VARIANT* as null; a required one is
//   DISP_E_PARAMNOTFOUND (*arg_err set when the argument was present as VT_ERROR);
// - more arguments than parameters (retval not counted): DISP_E_BADPARAMCOUNT;
// - the retval parameter is written to *result (dropped when result is null); result is set to
//   VT_EMPTY first when the call has none;
// - a member failing with hr: EXCEPINFO gets the thread's error information (source,
//   description, help file and context; GetErrorInfo clears it) and scode = hr, and the call
//   returns DISP_E_EXCEPTION (also when excep is null, which leaves the error information on
//   the thread). Error information is cleared before the call, so stale text is never reported;
// - a successful member's own code (S_OK, S_FALSE) is returned;
// - the member is the one of that DISPID whose kind is among flags (DISPATCH_METHOD |
//   DISPATCH_PROPERTYGET finds either a method or a property get); none, or an unknown DISPID,
//   is DISP_E_MEMBERNOTFOUND; E_INVALIDARG for inconsistent DISPPARAMS, E_POINTER for a null
//   object.
[[nodiscard]] HRESULT DispInvoke(void* object, const InterfaceDescription& description,
                                 DISPID member, WORD flags, DISPPARAMS* params, VARIANT* result,
                                 EXCEPINFO* excep, UINT* arg_err) noexcept;

// ---------------------------------------------------------------------------------------------
// Type information objects over a description (for IDispatch::GetTypeInfo,
// IProvideClassInfo::GetClassInfo and clients that browse a library).

using HREFTYPE = DWORD;

struct TYPEDESC {
  union {
    TYPEDESC* lptdesc;  // VT_PTR: the pointed-to type
    HREFTYPE hreftype;  // VT_USERDEFINED
  };
  VARTYPE vt = VT_EMPTY;
  TYPEDESC() noexcept : lptdesc(nullptr) {}
};
inline constexpr VARTYPE VT_PTR = 26;

struct PARAMDESC {
  void* pparamdescex = nullptr;
  USHORT wParamFlags = 0;  // PARAMFLAG_*
};

struct ELEMDESC {
  TYPEDESC tdesc;
  PARAMDESC paramdesc;
};

struct FUNCDESC {
  MEMBERID memid = MEMBERID_NIL;
  SCODE* lprgscode = nullptr;
  ELEMDESC* lprgelemdescParam = nullptr;  // pointer parameters as VT_PTR to the pointee
  FUNCKIND funckind = FUNC_DISPATCH;
  INVOKEKIND invkind = INVOKE_FUNC;
  CALLCONV callconv = CC_STDCALL;
  SHORT cParams = 0;
  SHORT cParamsOpt = 0;
  SHORT oVft = 0;  // byte offset of the vtable slot (after IDispatch's seven) for a dual interface
  SHORT cScodes = 0;
  ELEMDESC elemdescFunc;  // VT_HRESULT
  WORD wFuncFlags = 0;
};

struct TYPEATTR {
  GUID guid{};
  LCID lcid = 0;
  DWORD dwReserved = 0;
  MEMBERID memidConstructor = MEMBERID_NIL;
  MEMBERID memidDestructor = MEMBERID_NIL;
  LPOLESTR lpstrSchema = nullptr;
  ULONG cbSizeInstance = 0;
  TYPEKIND typekind = TKIND_DISPATCH;
  WORD cFuncs = 0;
  WORD cVars = 0;
  WORD cImplTypes = 0;
  WORD cbSizeVft = 0;
  WORD cbAlignment = 8;
  WORD wTypeFlags = 0;
  WORD wMajorVerNum = 0;
  WORD wMinorVerNum = 0;
  TYPEDESC tdescAlias;
};

struct VARDESC;  // descriptions hold no variables

struct TLIBATTR {
  GUID guid{};
  LCID lcid = 0;
  SYSKIND syskind = SYS_WIN64;
  WORD wMajorVerNum = 0;
  WORD wMinorVerNum = 0;
  WORD wLibFlags = 0;
};

struct ITypeInfo : IUnknown {
  static constexpr const IID& kIid = IID_ITypeInfo;
  virtual HRESULT GetTypeAttr(TYPEATTR** attr) = 0;  // free with ReleaseTypeAttr
  virtual HRESULT GetTypeComp(ITypeComp** comp) = 0;  // E_NOTIMPL
  // index counts members in declared order; free with ReleaseFuncDesc. TYPE_E_ELEMENTNOTFOUND.
  virtual HRESULT GetFuncDesc(UINT index, FUNCDESC** desc) = 0;
  virtual HRESULT GetVarDesc(UINT index, VARDESC** desc) = 0;  // TYPE_E_ELEMENTNOTFOUND
  // The member's name, then its parameter names (retval included), up to max_names BSTRs.
  virtual HRESULT GetNames(MEMBERID id, BSTR* names, UINT max_names, UINT* count) = 0;
  // Coclass: the index-th implemented interface. TYPE_E_ELEMENTNOTFOUND otherwise.
  virtual HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* ref) = 0;
  virtual HRESULT GetImplTypeFlags(UINT index, INT* flags) = 0;
  virtual HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) = 0;  // as DispGetIDsOfNames
  virtual HRESULT Invoke(void* instance, MEMBERID id, WORD flags, DISPPARAMS* params,
                         VARIANT* result, EXCEPINFO* excep, UINT* arg_err) = 0;  // as DispInvoke
  // id MEMBERID_NIL documents the type itself. Any out pointer may be null.
  virtual HRESULT GetDocumentation(MEMBERID id, BSTR* name, BSTR* doc, DWORD* help_context,
                                   BSTR* help_file) = 0;
  virtual HRESULT GetDllEntry(MEMBERID id, INVOKEKIND kind, BSTR* dll, BSTR* name,
                              WORD* ordinal) = 0;  // TYPE_E_BADMODULEKIND
  virtual HRESULT GetRefTypeInfo(HREFTYPE ref, ITypeInfo** info) = 0;
  virtual HRESULT AddressOfMember(MEMBERID id, INVOKEKIND kind, void** address) = 0;  // E_NOTIMPL
  virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) = 0;   // E_NOTIMPL
  virtual HRESULT GetMops(MEMBERID id, BSTR* mops) = 0;  // an empty text
  virtual HRESULT GetContainingTypeLib(ITypeLib** lib, UINT* index) = 0;
  virtual void ReleaseTypeAttr(TYPEATTR* attr) = 0;
  virtual void ReleaseFuncDesc(FUNCDESC* desc) = 0;
  virtual void ReleaseVarDesc(VARDESC* desc) = 0;

 protected:
  ~ITypeInfo() = default;
};

struct ITypeLib : IUnknown {
  static constexpr const IID& kIid = IID_ITypeLib;
  virtual UINT GetTypeInfoCount() = 0;  // interfaces, then coclasses
  virtual HRESULT GetTypeInfo(UINT index, ITypeInfo** info) = 0;
  virtual HRESULT GetTypeInfoType(UINT index, TYPEKIND* kind) = 0;
  virtual HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** info) = 0;  // TYPE_E_ELEMENTNOTFOUND
  virtual HRESULT GetLibAttr(TLIBATTR** attr) = 0;  // free with ReleaseTLibAttr
  virtual HRESULT GetTypeComp(ITypeComp** comp) = 0;  // E_NOTIMPL
  // index -1 documents the library itself.
  virtual HRESULT GetDocumentation(INT index, BSTR* name, BSTR* doc, DWORD* help_context,
                                   BSTR* help_file) = 0;
  virtual HRESULT IsName(LPOLESTR name, ULONG hash, BOOL* found) = 0;  // type or member name
  virtual HRESULT FindName(LPOLESTR name, ULONG hash, ITypeInfo** infos, MEMBERID* ids,
                           USHORT* found) = 0;
  virtual void ReleaseTLibAttr(TLIBATTR* attr) = 0;

 protected:
  ~ITypeLib() = default;
};

// A type library object over a copy of the description. E_INVALIDARG when a coclass names an
// interface the library does not describe.
[[nodiscard]] HRESULT CreateTypeLibFromDescription(const LibraryDescription& library,
                                                   ITypeLib** lib) noexcept;
// One interface's type information on its own (its containing library is an unnamed one that
// holds only this interface).
[[nodiscard]] HRESULT CreateTypeInfoFromDescription(const InterfaceDescription& description,
                                                    ITypeInfo** info) noexcept;
// The platform's DispInvoke/DispGetIDsOfNames signatures, through an ITypeInfo.
[[nodiscard]] HRESULT DispInvoke(void* object, ITypeInfo* info, DISPID member, WORD flags,
                                 DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                                 UINT* arg_err) noexcept;
[[nodiscard]] HRESULT DispGetIDsOfNames(ITypeInfo* info, LPOLESTR* names, UINT count,
                                        DISPID* ids) noexcept;

// ---------------------------------------------------------------------------------------------
// Building member descriptions from member-function pointers.

struct ParamSpec {
  std::u16string_view name;
  USHORT flags = PARAMFLAG_FIN;
};

namespace param {
constexpr ParamSpec In(std::u16string_view name) noexcept { return {name, PARAMFLAG_FIN}; }
constexpr ParamSpec Opt(std::u16string_view name) noexcept { return {name, PARAMFLAG_FIN | PARAMFLAG_FOPT}; }
constexpr ParamSpec Out(std::u16string_view name) noexcept { return {name, PARAMFLAG_FOUT}; }
constexpr ParamSpec InOut(std::u16string_view name) noexcept { return {name, PARAMFLAG_FIN | PARAMFLAG_FOUT}; }
constexpr ParamSpec InOutOpt(std::u16string_view name) noexcept {
  return {name, PARAMFLAG_FIN | PARAMFLAG_FOUT | PARAMFLAG_FOPT};
}
constexpr ParamSpec RetVal(std::u16string_view name) noexcept { return {name, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}; }
}  // namespace param

namespace dispatch_detail {

template <class T>
struct ArgTraits;  // no entry: the parameter type cannot cross the dispatch boundary

template <VARTYPE V, class T, auto Field>
struct ArgField {
  static constexpr VARTYPE vt = V;
  static T Get(VARIANT& v) noexcept { return v.*Field; }
};
template <> struct ArgTraits<double> : ArgField<VT_R8, double, &VARIANT::dblVal> {};
template <> struct ArgTraits<float> : ArgField<VT_R4, float, &VARIANT::fltVal> {};
template <> struct ArgTraits<LONG> : ArgField<VT_I4, LONG, &VARIANT::lVal> {};
template <> struct ArgTraits<SHORT> : ArgField<VT_I2, SHORT, &VARIANT::iVal> {};
template <> struct ArgTraits<BSTR> : ArgField<VT_BSTR, BSTR, &VARIANT::bstrVal> {};
template <> struct ArgTraits<IDispatch*> : ArgField<VT_DISPATCH, IDispatch*, &VARIANT::pdispVal> {};
template <> struct ArgTraits<IUnknown*> : ArgField<VT_UNKNOWN, IUnknown*, &VARIANT::punkVal> {};
template <> struct ArgTraits<double*> : ArgField<VT_R8 | VT_BYREF, double*, &VARIANT::pdblVal> {};
template <> struct ArgTraits<float*> : ArgField<VT_R4 | VT_BYREF, float*, &VARIANT::pfltVal> {};
template <> struct ArgTraits<LONG*> : ArgField<VT_I4 | VT_BYREF, LONG*, &VARIANT::plVal> {};
template <> struct ArgTraits<SHORT*> : ArgField<VT_I2 | VT_BYREF, SHORT*, &VARIANT::piVal> {};
template <> struct ArgTraits<BSTR*> : ArgField<VT_BSTR | VT_BYREF, BSTR*, &VARIANT::pbstrVal> {};
template <> struct ArgTraits<VARIANT*> : ArgField<VT_VARIANT | VT_BYREF, VARIANT*, &VARIANT::pvarVal> {};
template <> struct ArgTraits<VARIANT> {
  static constexpr VARTYPE vt = VT_VARIANT;
  static VARIANT Get(VARIANT& v) noexcept { return v; }  // DispInvoke owns and clears it
};

template <class F>
struct MemberSignature;
template <class C, class... A>
struct MemberSignature<HRESULT (C::*)(A...)> {
  using Class = C;
  using Args = std::tuple<A...>;
};
template <class C, class... A>
struct MemberSignature<HRESULT (C::*)(A...) noexcept> : MemberSignature<HRESULT (C::*)(A...)> {};

template <auto M>
HRESULT Call(void* object, VARIANT* args) {
  using Sig = MemberSignature<decltype(M)>;
  auto* self = static_cast<typename Sig::Class*>(object);
  return [&]<std::size_t... I>(std::index_sequence<I...>) {
    return (self->*M)(ArgTraits<std::tuple_element_t<I, typename Sig::Args>>::Get(args[I])...);
  }(std::make_index_sequence<std::tuple_size_v<typename Sig::Args>>{});
}

template <auto M>
std::vector<VARTYPE> DeclaredTypes() {
  using Args = typename MemberSignature<decltype(M)>::Args;
  return [&]<std::size_t... I>(std::index_sequence<I...>) {
    return std::vector<VARTYPE>{ArgTraits<std::tuple_element_t<I, Args>>::vt...};
  }(std::make_index_sequence<std::tuple_size_v<Args>>{});
}

// Joins names, flags and types; throws std::invalid_argument for a description that cannot be
// served (count mismatch, an out or retval parameter that is not a pointer, retval not last).
MemberDescription Describe(DISPID dispid, INVOKEKIND kind, std::u16string_view name,
                           std::u16string_view help, WORD func_flags,
                           std::initializer_list<ParamSpec> param_list, const std::vector<VARTYPE>& types,
                           MemberCall call);

}  // namespace dispatch_detail

// A method: Method<&IKvQuantorb::BSDelta>(12, u"BSDelta", {In(u"StockPrice"), ..., Out(u"CDelta"),
// Out(u"PDelta")}, u"Computes Delta ..."). Throws std::invalid_argument on a mismatch.
template <auto M>
MemberDescription Method(DISPID dispid, std::u16string_view name,
                         std::initializer_list<ParamSpec> params, std::u16string_view help = {},
                         WORD func_flags = 0) {
  return dispatch_detail::Describe(dispid, INVOKE_FUNC, name, help, func_flags, params,
                                   dispatch_detail::DeclaredTypes<M>(), &dispatch_detail::Call<M>);
}
// A property get: a member taking one pointer, the [out, retval] value.
template <auto M>
MemberDescription PropertyGet(DISPID dispid, std::u16string_view name, std::u16string_view help = {},
                              WORD func_flags = 0) {
  return dispatch_detail::Describe(dispid, INVOKE_PROPERTYGET, name, help, func_flags,
                                   {param::RetVal(u"Value")}, dispatch_detail::DeclaredTypes<M>(),
                                   &dispatch_detail::Call<M>);
}
// A property put: a member taking the new value.
template <auto M>
MemberDescription PropertyPut(DISPID dispid, std::u16string_view name, std::u16string_view help = {},
                              WORD func_flags = 0) {
  return dispatch_detail::Describe(dispid, INVOKE_PROPERTYPUT, name, help, func_flags,
                                   {param::In(u"Value")}, dispatch_detail::DeclaredTypes<M>(),
                                   &dispatch_detail::Call<M>);
}
// A member described only (the methods of an event dispinterface, which sinks implement).
[[nodiscard]] MemberDescription DescribedMethod(DISPID dispid, std::u16string_view name,
                                                std::vector<ParamDescription> params,
                                                std::u16string_view help = {});

}  // namespace kx::platform
