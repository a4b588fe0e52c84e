// IDispatch::Invoke on KvQuantorb: up to four calls per input, each with any DISPID, flags,
// argument count, named arguments and VARIANTs (by value, by reference, arrays of any element type,
// bounds and dimension count, empty and null), Base and BlockingMode included. A call whose
// arguments fail validation must leave the sentinel in every double output it was given.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_variants.h"
#include "kv_quantorb.h"
#include "kx/platform/bstr.h"
#include "kx/platform/safearray.h"
#include "quantorb_typelib.h"

using namespace kx::platform;
using namespace kx::component;
using kx::fuzz::Arena;
using kx::fuzz::FuzzInput;

namespace {

constexpr double kSentinel = -999.0;
// KX_FUZZ_TRACE=1 prints each call and its result, to see what an input does.
const bool trace = std::getenv("KX_FUZZ_TRACE") != nullptr;
constexpr DISPID kDispids[] = {
    kDispidBase, kDispidBlockingMode, kDispidBSCallPrice, kDispidBSPutPrice, kDispidBSDelta,
    kDispidBSTheta, kDispidBSGamma, kDispidBSVega, kDispidBSRho, kDispidBSImpliedVolatility,
    kDispidBSImpliedVolatilityPut, kDispidBSImpliedVolatilitySkew, kDispidBinCallPrice,
    kDispidBinPutPrice, kDispidBinPrice, kDispidBinPriceGreeks, kDispidBinDelta, kDispidBinTheta,
    kDispidBinGamma, kDispidBinVega, kDispidBinRho, kDispidBinImpliedVolatility,
    kDispidBinImpliedVolatilityPut, kDispidBinImpliedVolatilitySkew, kDispidBinCallDelta,
    kDispidBinPutDelta, kDispidBJECallPrice, kDispidBJEPutPrice, kDispidBJEDelta, kDispidBJETheta,
    kDispidBJEGamma, kDispidBJEVega, kDispidBJERho, kDispidBJEImpliedVolatility,
    kDispidBJEImpliedVolatilityPut, kDispidBJEImpliedVolatilitySkew, kDispidHistoricalVolatility,
    kDispidHistoricalVolatility1, kDispidAbort, kDispidAbout, 0, -1, 3, 999};

// Tree work grows with the square of the steps: a step count above this is skipped so that every
// run stays quick (the step limits themselves are unit-tested).
constexpr LONG kMaxFuzzedSteps = 200;

const MemberDescription* FindMember(DISPID dispid) {
  const KorvaneTypeLibrary* lib = LoadKorvaneTypeLibrary();
  KX_FUZZ_CHECK(lib != nullptr);
  for (const MemberDescription& m : lib->quantorb->members) {
    if (m.dispid == dispid && m.kind == INVOKE_FUNC) return &m;
  }
  return nullptr;
}

// The parameter an rgvarg entry stands for, or -1.
int ParamOf(const DISPPARAMS& params, UINT index) {
  if (index < params.cNamedArgs) return params.rgdispidNamedArgs[index];
  return static_cast<int>(params.cArgs - 1 - index);
}

// A number an argument carries after coercion, if it has one.
bool NumberOf(const VARIANT& v, double* number) {
  VARIANT copy;
  if (VariantChangeType(&copy, &v, 0, VT_R8) != S_OK) return false;
  *number = copy.dblVal;
  return true;
}

std::uint64_t ElementsOf(const VARIANT& v) {
  const VARIANT* held = v.vt == (VT_BYREF | VT_VARIANT) && v.pvarVal ? v.pvarVal : &v;
  if (!(held->vt & VT_ARRAY)) return 0;
  SAFEARRAY* psa = (held->vt & VT_BYREF) ? (held->pparray ? *held->pparray : nullptr)
                                         : held->parray;
  return psa ? SafeArrayTotalCount(psa) : 0;
}

bool TooMuchWork(const MemberDescription* member, const DISPPARAMS& params) {
  if (!member) return false;
  double steps = 0;
  std::uint64_t elements = 1;
  for (UINT i = 0; i < params.cArgs; ++i) {
    elements += ElementsOf(params.rgvarg[i]);
    const int p = ParamOf(params, i);
    if (p < 0 || p >= static_cast<int>(member->params.size())) continue;
    if (member->params[p].name != u"BinSteps") continue;
    if (!NumberOf(params.rgvarg[i], &steps)) steps = 0;
  }
  if (!(steps <= kMaxFuzzedSteps)) return true;
  return steps * steps * static_cast<double>(elements) > 2e5;
}

// The double outputs the call was given: by-reference doubles, and by-reference VARIANTs that
// stand for a double output (written back as VT_R8).
std::vector<const VARIANT*> DoubleOutputs(const MemberDescription* member,
                                          const DISPPARAMS& params) {
  std::vector<const VARIANT*> outputs;
  for (UINT i = 0; i < params.cArgs; ++i) {
    const int p = ParamOf(params, i);
    if (p < 0 || p >= static_cast<int>(member->params.size())) continue;
    const ParamDescription& param = member->params[p];
    if (!(param.flags & PARAMFLAG_FOUT) || param.vt != (VT_BYREF | VT_R8)) continue;
    const VARIANT& arg = params.rgvarg[i];
    if ((arg.vt == (VT_BYREF | VT_R8) || arg.vt == (VT_BYREF | VT_VARIANT)) && arg.byref) {
      outputs.push_back(&arg);
    }
  }
  return outputs;
}

bool HoldsSentinel(const VARIANT& arg) {
  if (arg.vt == (VT_BYREF | VT_R8)) return *arg.pdblVal == kSentinel;
  return arg.pvarVal->vt == VT_R8 && arg.pvarVal->dblVal == kSentinel;
}

void OneCall(FuzzInput& in, IKvQuantorb* object) {
  const std::uint8_t pick = in.Byte();
  const DISPID dispid = pick < 0xF8 ? kDispids[pick % std::size(kDispids)] : in.Raw<DISPID>();
  const std::uint8_t flag_byte = in.Byte();
  const WORD flags = flag_byte < 0xC0 ? DISPATCH_METHOD : static_cast<WORD>(flag_byte & 0x0F);
  const MemberDescription* member = FindMember(dispid);
  // Mostly as many arguments as the member has, so that calls get past the count check.
  const std::uint8_t count_byte = in.Byte();
  UINT argc = count_byte % 24;
  if (member && count_byte < 0xA0) {
    argc = static_cast<UINT>(member->params.size());
    if (argc > 0 && (member->params.back().flags & PARAMFLAG_FRETVAL)) --argc;  // into result
  }
  UINT named = 0;
  if (in.Byte() >= 0xE0) named = in.Below(argc + 2);  // one too many is inconsistent on purpose
  if (flags == DISPATCH_PROPERTYPUT && argc > 0 && named == 0) named = 1;

  Arena arena;
  std::vector<VARIANT> args(argc);
  std::vector<DISPID> names(named);
  for (UINT i = 0; i < named; ++i) {
    const std::uint8_t n = in.Byte();
    names[i] = n < 0xF0 ? static_cast<DISPID>(n % 24) - 3 : in.Raw<DISPID>();  // -3: PROPERTYPUT
  }
  for (UINT i = 0; i < argc; ++i) {
    // Outputs are mostly given as the by-reference doubles they ask for.
    const int p = named > i ? names[i] : static_cast<int>(argc - 1 - i);
    if (member && p >= 0 && p < static_cast<int>(member->params.size()) &&
        (member->params[p].flags & PARAMFLAG_FOUT) && member->params[p].vt == (VT_BYREF | VT_R8) &&
        in.Byte() < 0xC0) {
      Arena::Slot& slot = arena.NewSlot();
      slot.vt = VT_R8;
      args[i].vt = VT_BYREF | VT_R8;
      args[i].byref = slot.bytes;
      continue;
    }
    kx::fuzz::DecodeVariant(in, arena, &args[i]);
  }
  DISPPARAMS params{args.data(), names.data(), argc, named};
  if (in.Byte() == 0xFF) params.rgvarg = nullptr;  // inconsistent unless argc is 0
  if (params.rgvarg && TooMuchWork(member, params)) {
    for (VARIANT& v : args) (void)VariantClear(&v);
    return;
  }
  Variant result;
  EXCEPINFO excep;
  UINT arg_err = 0xFFFFFFFF;
  const bool want_result = in.Byte() < 0xF0;
  const HRESULT hr = object->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                                    want_result ? &result : nullptr, &excep, &arg_err);
  if (trace) {
    std::fprintf(stderr, "Invoke(%d, flags %u, %u args, %u named) = %s %s\n", dispid, flags, argc,
                 named, HresultName(hr), BstrToUtf8(excep.bstrDescription).c_str());
  }
  if (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW ||
      (hr == DISP_E_PARAMNOTFOUND && arg_err != 0xFFFFFFFF)) {
    KX_FUZZ_CHECK(arg_err < argc);  // names the argument at fault
  }
  if (hr == DISP_E_EXCEPTION) {
    KX_FUZZ_CHECK(FAILED(excep.scode));
    const std::string description = BstrToUtf8(excep.bstrDescription);
    // Invalid arguments leave the sentinel in every double output that was given.
    if (member && params.rgvarg &&
        description.ends_with(": Invalid input parameter(s).")) {
      for (const VARIANT* output : DoubleOutputs(member, params)) {
        if (trace) {
          std::fprintf(stderr, "  output vt %#x inner vt %#x value %g\n", output->vt,
                       output->vt == (VT_BYREF | VT_VARIANT) ? output->pvarVal->vt : 0,
                       output->vt == (VT_BYREF | VT_R8) ? *output->pdblVal
                                                         : output->pvarVal->dblVal);
        }
        KX_FUZZ_CHECK(HoldsSentinel(*output));
      }
    }
  }
  SysFreeString(excep.bstrSource);
  SysFreeString(excep.bstrDescription);
  SysFreeString(excep.bstrHelpFile);
  for (VARIANT& v : args) {
    // A locked array stays with its VARIANT; nothing the object did may leave one locked.
    KX_FUZZ_CHECK(VariantClear(&v) != DISP_E_ARRAYISLOCKED);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kx::fuzz::UsePrivateRegistry();
  KX_FUZZ_CHECK(LoadKorvaneTypeLibrary() != nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  ComPtr<IKvQuantorb> object;
  KX_FUZZ_CHECK(KvQuantorb::CreateInstance(nullptr, IID_IKvQuantorb, object.put_void()) == S_OK);
  for (int call = 0; call < 4 && !in.empty(); ++call) OneCall(in, object.get());
  return 0;
}
