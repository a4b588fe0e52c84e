// VariantChangeType, VariantCopy(Ind) and the SAFEARRAY calls on any value and any descriptor:
// a short program of operations decoded from the input, with what each promises checked.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "fuzz_variants.h"
#include "kx/platform/bstr.h"
#include "kx/platform/safearray.h"

using namespace kx::platform;
using kx::fuzz::Arena;
using kx::fuzz::FuzzInput;

namespace {

constexpr VARTYPE kTargets[] = {VT_EMPTY, VT_NULL, VT_I2,   VT_I4,   VT_R4,  VT_R8,  VT_CY,
                                VT_DATE,  VT_BSTR, VT_DISPATCH, VT_ERROR, VT_BOOL, VT_VARIANT,
                                VT_UNKNOWN, VT_DECIMAL, VT_I1, VT_UI1, VT_UI2, VT_UI4, VT_I8,
                                VT_UI8, VT_INT, VT_UINT, VT_ARRAY | VT_R8, VT_BYREF | VT_I4};

bool IsIntegerType(VARTYPE vt) {
  switch (vt) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_INT:
    case VT_UINT: case VT_I8: case VT_UI8:
      return true;
    default:
      return false;
  }
}

void ChangeTypes(FuzzInput& in, Arena& arena) {
  VARIANT src;
  kx::fuzz::DecodeVariant(in, arena, &src);
  VARIANT& owned_src = arena.Hold();
  owned_src = src;
  const std::uint8_t pick = in.Byte();
  const VARTYPE vt = pick < 0xF0 ? kTargets[pick % std::size(kTargets)] : in.Raw<VARTYPE>();
  const USHORT flags = in.Byte() & 3;
  VARIANT& dest = arena.Hold();
  const HRESULT hr = VariantChangeType(&dest, &owned_src, flags, vt);
  if (FAILED(hr)) {
    KX_FUZZ_CHECK(dest.vt == VT_EMPTY);  // a failed coercion leaves dest as it was
    return;
  }
  KX_FUZZ_CHECK(dest.vt == vt);
  // An integer written as text reads back as the same integer.
  if (IsIntegerType(vt)) {
    VARIANT text;
    KX_FUZZ_CHECK(VariantChangeType(&text, &dest, 0, VT_BSTR) == S_OK);
    VARIANT back;
    KX_FUZZ_CHECK(VariantChangeType(&back, &text, 0, vt) == S_OK);
    KX_FUZZ_CHECK(back.llVal == dest.llVal || std::memcmp(&back.llVal, &dest.llVal, 4) == 0);
    (void)VariantClear(&text);
  }
  // In place (dest == src) behaves as into a fresh VARIANT.
  VARIANT& again = arena.Hold();
  if (VariantCopy(&again, &owned_src) == S_OK) {
    const HRESULT in_place = VariantChangeType(&again, &again, flags, vt);
    KX_FUZZ_CHECK(in_place == hr);
    if (in_place == S_OK) KX_FUZZ_CHECK(again.vt == vt);
  }
}

void Copies(FuzzInput& in, Arena& arena) {
  VARIANT& src = arena.Hold();
  kx::fuzz::DecodeVariant(in, arena, &src);
  VARIANT& copy = arena.Hold();
  const HRESULT hr = VariantCopy(&copy, &src);
  if (SUCCEEDED(hr)) KX_FUZZ_CHECK(copy.vt == src.vt);
  VARIANT& ind = arena.Hold();
  const HRESULT hr_ind = VariantCopyInd(&ind, &src);
  if (SUCCEEDED(hr_ind)) KX_FUZZ_CHECK((ind.vt & VT_BYREF) == 0);
}

// A program of array calls on one array made by SafeArrayCreate.
void ArrayCalls(FuzzInput& in) {
  const VARTYPE vt = kx::fuzz::DecodeElementType(in);
  SAFEARRAY* psa = kx::fuzz::DecodeArray(in, vt, 0);
  if (!psa) return;
  const UINT dims = SafeArrayGetDim(psa);
  KX_FUZZ_CHECK(dims >= 1);
  VARTYPE stored = 0;
  KX_FUZZ_CHECK(SafeArrayGetVartype(psa, &stored) == S_OK && stored == vt);
  // Held locked between steps, so that destroying it is always refused and it stays valid.
  KX_FUZZ_CHECK(SafeArrayLock(psa) == S_OK);
  ULONG locks = 1;
  for (int step = 0; step < 24 && !in.empty(); ++step) {
    LONG indices[4] = {};
    const UINT dim = in.Below(dims + 2);  // 0 and dims + 1 are out of range
    for (UINT d = 0; d < dims; ++d) {
      LONG lower = 0, upper = 0;
      KX_FUZZ_CHECK(SafeArrayGetLBound(psa, d + 1, &lower) == S_OK);
      const HRESULT hu = SafeArrayGetUBound(psa, d + 1, &upper);
      KX_FUZZ_CHECK(hu == S_OK || hu == DISP_E_OVERFLOW);
      const std::uint8_t where = in.Byte();
      // Around the lower bound (formed in 64 bits: it may be the largest LONG), or anywhere.
      indices[d] = where < 0xF0
                       ? static_cast<LONG>(static_cast<std::int64_t>(lower) + where % 10 - 1)
                       : in.Raw<LONG>();
    }
    switch (in.Below(8)) {
      case 0: {
        LONG bound = 0;
        const HRESULT hr = SafeArrayGetLBound(psa, dim, &bound);
        KX_FUZZ_CHECK((dim >= 1 && dim <= dims) ? hr == S_OK : hr == DISP_E_BADINDEX);
        break;
      }
      case 1:
        if (SafeArrayLock(psa) == S_OK) ++locks;
        break;
      case 2: {
        const HRESULT hr = SafeArrayUnlock(psa);
        KX_FUZZ_CHECK(locks > 0 ? hr == S_OK : hr == E_UNEXPECTED);
        if (hr == S_OK) --locks;
        break;
      }
      case 3: {
        void* element = nullptr;
        if (SafeArrayPtrOfIndex(psa, indices, &element) == S_OK) {
          KX_FUZZ_CHECK(psa->pvData != nullptr);
          const auto offset = static_cast<unsigned char*>(element) -
                              static_cast<unsigned char*>(psa->pvData);
          KX_FUZZ_CHECK(offset >= 0 && static_cast<std::size_t>(offset) <
                                           SafeArrayTotalCount(psa) * psa->cbElements);
        }
        break;
      }
      case 4: {
        alignas(16) unsigned char value[16] = {};
        const HRESULT hr = SafeArrayGetElement(psa, indices, value);
        if (hr == S_OK && vt == VT_BSTR) SysFreeString(*reinterpret_cast<BSTR*>(value));
        if (hr == S_OK && vt == VT_VARIANT) (void)VariantClear(reinterpret_cast<VARIANT*>(value));
        break;
      }
      case 5: {
        VARIANT value;
        kx::fuzz::DecodeScalar(in, vt == VT_VARIANT ? VT_R8 : vt == VT_BSTR ? VT_BSTR : vt, &value);
        const void* what = vt == VT_VARIANT ? static_cast<const void*>(&value)
                           : vt == VT_BSTR  ? static_cast<const void*>(value.bstrVal)
                                            : static_cast<const void*>(&value.llVal);
        if (SafeArrayPutElement(psa, indices, what) == S_OK && vt != VT_VARIANT &&
            vt != VT_BSTR) {
          alignas(16) unsigned char back[16] = {};
          KX_FUZZ_CHECK(SafeArrayGetElement(psa, indices, back) == S_OK);
          KX_FUZZ_CHECK(std::memcmp(back, &value.llVal, psa->cbElements) == 0);
        }
        (void)VariantClear(&value);
        break;
      }
      case 6: {
        SAFEARRAY* copy = nullptr;
        if (SafeArrayCopy(psa, &copy) == S_OK) {
          KX_FUZZ_CHECK(SafeArrayGetDim(copy) == dims);
          KX_FUZZ_CHECK(SafeArrayTotalCount(copy) == SafeArrayTotalCount(psa));
          KX_FUZZ_CHECK(SafeArrayDestroy(copy) == S_OK);
        }
        break;
      }
      case 7: {
        const HRESULT hr = SafeArrayDestroy(psa);
        KX_FUZZ_CHECK(hr == DISP_E_ARRAYISLOCKED);  // reached only while locked
        break;
      }
    }
    if (locks == 0 && in.Byte() == 0xFE) break;
    // Destroying is only tried while locked, so the array stays for the next step.
    if (locks == 0) {
      if (SafeArrayLock(psa) == S_OK) ++locks;
    }
  }
  while (locks > 0) {
    KX_FUZZ_CHECK(SafeArrayUnlock(psa) == S_OK);
    --locks;
  }
  KX_FUZZ_CHECK(SafeArrayDestroy(psa) == S_OK);
}

// A descriptor a host laid out itself (no element type prefix unless it says so), including no
// dimensions at all: every read-only call must answer without touching memory it does not own.
void HandMadeDescriptor(FuzzInput& in) {
  const USHORT dims = static_cast<USHORT>(in.Below(4));
  const std::size_t descriptor_bytes =
      sizeof(SAFEARRAY) + (dims > 1 ? dims - 1 : 0) * sizeof(SAFEARRAYBOUND);
  // The platform keeps a 16-byte prefix before its own descriptors; a host's block has one too
  // here, so that reading the type slot is in bounds.
  auto* block = static_cast<unsigned char*>(std::calloc(1, 16 + descriptor_bytes));
  auto* psa = new (block + 16) SAFEARRAY;
  psa->cDims = dims;
  psa->cbElements = 1u << in.Below(4);
  psa->fFeatures = static_cast<USHORT>(in.Raw<USHORT>() & ~(FADF_BSTR | FADF_VARIANT));
  std::uint64_t total = dims ? 1 : 0;
  for (USHORT d = 0; d < dims; ++d) {
    psa->rgsabound[d].cElements = in.Below(5);
    psa->rgsabound[d].lLbound = kx::fuzz::DecodeLong(in);
    total *= psa->rgsabound[d].cElements;
  }
  std::vector<unsigned char> storage(total * psa->cbElements + 1);
  psa->pvData = total ? storage.data() : nullptr;
  LONG indices[4] = {};
  for (LONG& index : indices) index = kx::fuzz::DecodeLong(in);
  void* element = nullptr;
  const HRESULT hr = SafeArrayPtrOfIndex(psa, indices, &element);
  if (hr == S_OK) {
    KX_FUZZ_CHECK(element != nullptr);
    alignas(16) unsigned char value[16] = {};
    KX_FUZZ_CHECK(SafeArrayGetElement(psa, indices, value) == S_OK);
    KX_FUZZ_CHECK(SafeArrayPutElement(psa, indices, value) == S_OK);
  } else {
    alignas(16) unsigned char value[16] = {};
    KX_FUZZ_CHECK(SafeArrayGetElement(psa, indices, value) == hr);
  }
  LONG bound = 0;
  for (UINT d = 0; d <= dims + 1u; ++d) {
    (void)SafeArrayGetLBound(psa, d, &bound);
    (void)SafeArrayGetUBound(psa, d, &bound);
  }
  VARTYPE vt = 0;
  (void)SafeArrayGetVartype(psa, &vt);
  SAFEARRAY* copy = nullptr;
  if (SafeArrayCopy(psa, &copy) == S_OK) KX_FUZZ_CHECK(SafeArrayDestroy(copy) == S_OK);
  psa->~SAFEARRAY();
  std::free(block);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  Arena arena;
  for (int op = 0; op < 6 && !in.empty(); ++op) {
    switch (in.Below(4)) {
      case 0: ChangeTypes(in, arena); break;
      case 1: Copies(in, arena); break;
      case 2: ArrayCalls(in); break;
      case 3: HandMadeDescriptor(in); break;
    }
  }
  return 0;
}
