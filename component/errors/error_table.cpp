#include "error_table.h"

#include <array>

namespace kx::component {

using namespace kx::platform;

namespace {

// The long advice texts of 3047 are shared by the input and output entries.
#define KX_ARRAY_ADVICE                                                                         \
  "Do not use an array of Variants. In Visual Basic, use Dim X() As Double for inputs and Dim " \
  "Y As Variant for outputs. In Visual C++ use a Variant containing a SafeArray of type VT_R8 " \
  "(Double) as inputs and a Variant as output."

#define KX_ENTRY(code, error_string, description, result) \
  FailureText { code, u"" error_string, description, result }

// Indexed by Failure; the static_assert below keeps the two in step.
constexpr std::array kTable{
    KX_ENTRY(3001, "Argument error: Input array in parameter 1 is not defined.",
             "Input array in parameter 1 is not defined.", E_POINTER),
    KX_ENTRY(3002, "Argument error: Input array in parameter 2 is not defined.",
             "Input array in parameter 2 is not defined.", E_POINTER),
    KX_ENTRY(3002, "Argument error: Array in parameter 2 is not defined.",
             "Array in parameter 2 is not defined.", E_POINTER),
    KX_ENTRY(3003, "Argument error: Input array in parameter 3 is not defined.",
             "Input array in parameter 3 is not defined.", E_POINTER),
    KX_ENTRY(3004, "Argument error: Input array in parameter 4 is not defined.",
             "Input array in parameter 4 is not defined.", E_POINTER),
    KX_ENTRY(3005, "Argument error: Output argument is not defined.",
             "Output argument is not defined.", E_POINTER),
    KX_ENTRY(3009, "Argument error: Data error in matrices: Could not lock arrays.",
             "Data error in matrices: Could not lock arrays.", E_FAIL),
    KX_ENTRY(30010, "Argument error: Data error in matrices: Could not unlock arrays.",
             "Data error in matrices: Could not unlock arrays.", E_FAIL),
    KX_ENTRY(3022, "Argument error: Input array must be 1-D or 2-D.",
             "Input array must be 1-D or 2-D.", E_INVALIDARG),
    KX_ENTRY(3047, "Argument error: Invalid input data type: " KX_ARRAY_ADVICE,
             "Invalid input data type: " KX_ARRAY_ADVICE, E_POINTER),
    KX_ENTRY(3047, "Argument error: Invalid input data type: " KX_ARRAY_ADVICE,
             "Invalid output data type: " KX_ARRAY_ADVICE, E_POINTER),
    KX_ENTRY(3053, "Argument error: Invalid number of trading days.",
             "Invalid number of trading days.", E_POINTER),
    KX_ENTRY(3054, "Argument error: Input array must be 1-D (dim > 1 detected).",
             "Input array must be 1-D (dim > 1 detected).", E_INVALIDARG),
    KX_ENTRY(3100, "Data processing aborted.", "Data processing aborted.", S_OK),
    KX_ENTRY(3101, "Call refused: another computation is in progress on this thread.",
             "Call refused: another computation is in progress on this thread.",
             RPC_E_CALL_REJECTED),
    KX_ENTRY(5070, "Argument error: Invalid input data array.", "Invalid input data array.",
             E_INVALIDARG),
    KX_ENTRY(6003, "Memory allocation error: Could not allocate memory for array.",
             "Memory allocation error: Could not allocate memory for array.", E_OUTOFMEMORY),
    KX_ENTRY(6004, "Bad lower bound. Check the lower bound of input arrays matches Base property.",
             "Bad lower bound. Check that the lower bound of input arrays matches Base property.",
             DISP_E_BADINDEX),
    KX_ENTRY(6005, "Thread error: Could not start the computation thread.",
             "Thread error: Could not start the computation thread.", E_OUTOFMEMORY),
    KX_ENTRY(6007,
             "Argument error:  Invalid output data type: Output from method must be declared as "
             "'Variant' type.",
             "Invalid output data type. For scalar outputs in ASP methods, use Dim Y As Variant. "
             "Otherwise, use Dim Y As Double in non-ASP methods.",
             E_POINTER),
    KX_ENTRY(6008, "Computation error: The computation ended with an unexpected fault.",
             "Computation error: The computation ended with an unexpected fault.", E_UNEXPECTED),
    KX_ENTRY(6010, "Argument error: Invalid input parameter(s).", "Invalid input parameter(s).",
             E_INVALIDARG),
};

#undef KX_ENTRY
#undef KX_ARRAY_ADVICE

static_assert(kTable.size() == static_cast<std::size_t>(Failure::kInvalidArguments) + 1);
static_assert(kTable[static_cast<std::size_t>(Failure::kAborted)].code == 3100);
static_assert(kTable[static_cast<std::size_t>(Failure::kOutOfMemory)].code == 6003);
static_assert(kTable[static_cast<std::size_t>(Failure::kBadOutputType)].code == 6007);

}  // namespace

const FailureText& TextOf(Failure failure) noexcept {
  return kTable[static_cast<std::size_t>(failure)];
}

}  // namespace kx::component
