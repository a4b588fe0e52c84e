// The Calc add-in: one worksheet function per pricing member of Korvane.Quantorb, plus
// KXLASTERROR for the reason of the latest refused call. The function list, argument names and
// descriptions come from the generated member table.
#include <com/korvane/calc/XQuantorbFunctions.hpp>
#include <com/sun/star/lang/IllegalArgumentException.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/lang/XServiceName.hpp>
#include <com/sun/star/sheet/XAddIn.hpp>
#include <cppuhelper/factory.hxx>
#include <cppuhelper/implbase4.hxx>
#include <cppuhelper/implementationentry.hxx>
#include <cppuhelper/supportsservice.hxx>
#include <uno/lbnames.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "quantorb_caller.h"

namespace kx::spreadsheet {
#include "quantorb_members.inc"
}  // namespace kx::spreadsheet

namespace {

namespace css = com::sun::star;
using css::uno::Any;
using rtl::OString;
using rtl::OUString;
using css::uno::Sequence;
using kx::spreadsheet::CallResult;
using kx::spreadsheet::Input;
using kx::spreadsheet::kMembers;
using kx::spreadsheet::Matrix;
using kx::spreadsheet::MemberInfo;

constexpr char kImplementationName[] = "com.korvane.calc.QuantorbAddIn";
constexpr char kServiceName[] = "com.korvane.calc.QuantorbAddIn";
constexpr char kAddInService[] = "com.sun.star.sheet.AddIn";
constexpr char kLastErrorName[] = "KxLastError";
constexpr char kCategory[] = "Add-In";  // Calc shows every category it does not know as this one
constexpr char kDisplayCategory[] = "KorvaneX option pricing";

OUString Text(const char* utf8) { return OUString::fromUtf8(utf8); }
OUString Text(const std::string& utf8) { return OUString::fromUtf8(utf8.c_str()); }

const MemberInfo* FindMember(const OUString& programmatic) {
  const OString name = programmatic.toUtf8();
  for (const MemberInfo& m : kMembers) {
    if (std::strcmp(m.name, name.getStr()) == 0) return &m;
  }
  return nullptr;
}

Matrix ToMatrix(const Sequence<Sequence<double>>& rows) {
  Matrix m;
  m.rows = static_cast<std::size_t>(rows.getLength());
  m.cols = m.rows ? static_cast<std::size_t>(rows[0].getLength()) : 0;
  for (const Sequence<double>& row : rows) {
    if (static_cast<std::size_t>(row.getLength()) != m.cols) {
      throw css::lang::IllegalArgumentException("ragged range", nullptr, 0);
    }
    for (double v : row) m.values.push_back(v);
  }
  return m;
}

Input ToInput(double value) { return Input::Number(value); }
Input ToInput(const Sequence<Sequence<double>>& rows) { return Input::Range(ToMatrix(rows)); }

// An optional argument: Calc passes nothing, a number, or a range of mixed cells.
Input ToInput(const Any& value) {
  if (!value.hasValue()) return Input::Missing();
  double number = 0;
  if (value >>= number) return Input::Number(number);
  Sequence<Sequence<double>> numbers;
  if (value >>= numbers) return Input::Range(ToMatrix(numbers));
  Sequence<Sequence<Any>> mixed;
  if (value >>= mixed) {
    Matrix m;
    m.rows = static_cast<std::size_t>(mixed.getLength());
    m.cols = m.rows ? static_cast<std::size_t>(mixed[0].getLength()) : 0;
    for (const Sequence<Any>& row : mixed) {
      if (static_cast<std::size_t>(row.getLength()) != m.cols) {
        throw css::lang::IllegalArgumentException("ragged range", nullptr, 0);
      }
      for (const Any& cell : row) {
        double v = 0;  // an empty cell counts as 0, as in a range of numbers
        if (cell.hasValue() && !(cell >>= v)) {
          throw css::lang::IllegalArgumentException("a range holds text", nullptr, 0);
        }
        m.values.push_back(v);
      }
    }
    return Input::Range(std::move(m));
  }
  throw css::lang::IllegalArgumentException("neither a number nor a range", nullptr, 0);
}

// A refused call ends in an exception, which Calc shows as an error value (502).
const Matrix& Checked(const CallResult& result) {
  if (!result.ok) throw css::lang::IllegalArgumentException(Text(result.error), nullptr, 0);
  return result.values;
}

double ToScalar(const CallResult& result) {
  const Matrix& m = Checked(result);
  if (m.values.empty()) throw css::lang::IllegalArgumentException("no result", nullptr, 0);
  return m.values[0];
}

Sequence<Sequence<double>> ToRows(const CallResult& result) {
  const Matrix& m = Checked(result);
  if (m.values.empty()) {
    // Calc shows an empty result array as an error; say why.
    throw css::lang::IllegalArgumentException("no result values", nullptr, 0);
  }
  Sequence<Sequence<double>> rows(static_cast<sal_Int32>(m.rows));
  auto* out = rows.getArray();
  for (std::size_t r = 0; r < m.rows; ++r) {
    out[r].realloc(static_cast<sal_Int32>(m.cols));
    auto* cells = out[r].getArray();
    for (std::size_t c = 0; c < m.cols; ++c) cells[c] = m.at(r, c);
  }
  return rows;
}

class QuantorbAddIn
    : public cppu::WeakImplHelper4<com::korvane::calc::XQuantorbFunctions, css::sheet::XAddIn,
                                   css::lang::XServiceName, css::lang::XServiceInfo> {
 public:
  QuantorbAddIn() = default;

#include "quantorb_declarations.inc"

  OUString SAL_CALL KxLastError(const Any&) override { return Text(caller_.LastError()); }

  // XAddIn
  OUString SAL_CALL getProgrammaticFuntionName(const OUString& display) override {
    for (const MemberInfo& m : kMembers) {
      if (display.equalsIgnoreAsciiCaseAscii(m.display_name)) return Text(m.name);
    }
    if (display.equalsIgnoreAsciiCaseAscii("KXLASTERROR")) return Text(kLastErrorName);
    return {};
  }
  OUString SAL_CALL getDisplayFunctionName(const OUString& name) override {
    if (const MemberInfo* m = FindMember(name)) return Text(m->display_name);
    if (name.equalsAscii(kLastErrorName)) return "KXLASTERROR";
    return {};
  }
  OUString SAL_CALL getFunctionDescription(const OUString& name) override {
    if (const MemberInfo* m = FindMember(name)) return Text(m->description);
    if (name.equalsAscii(kLastErrorName)) {
      return "The reason the latest refused KorvaneX function call gave. Pass the cell of that "
             "call so that this one is computed after it.";
    }
    return {};
  }
  OUString SAL_CALL getDisplayArgumentName(const OUString& name, sal_Int32 argument) override {
    const kx::spreadsheet::ParamInfo* p = Argument(name, argument);
    if (p) return Text(p->name);
    if (name.equalsAscii(kLastErrorName) && argument == 0) return "After";
    return {};
  }
  OUString SAL_CALL getArgumentDescription(const OUString& name, sal_Int32 argument) override {
    const kx::spreadsheet::ParamInfo* p = Argument(name, argument);
    if (p) return Text(p->description);
    if (name.equalsAscii(kLastErrorName) && argument == 0) {
      return "A cell to compute first, usually the refused one (optional).";
    }
    return {};
  }
  OUString SAL_CALL getProgrammaticCategoryName(const OUString&) override { return kCategory; }
  OUString SAL_CALL getDisplayCategoryName(const OUString&) override { return kDisplayCategory; }

  // XLocalizable: the texts are English only.
  void SAL_CALL setLocale(const css::lang::Locale& locale) override { locale_ = locale; }
  css::lang::Locale SAL_CALL getLocale() override { return locale_; }

  // XServiceName, XServiceInfo
  OUString SAL_CALL getServiceName() override { return kServiceName; }
  OUString SAL_CALL getImplementationName() override { return kImplementationName; }
  sal_Bool SAL_CALL supportsService(const OUString& service) override {
    return cppu::supportsService(this, service);
  }
  Sequence<OUString> SAL_CALL getSupportedServiceNames() override { return ServiceNames(); }

  static Sequence<OUString> ServiceNames() {
    Sequence<OUString> names(2);
    names.getArray()[0] = kAddInService;
    names.getArray()[1] = kServiceName;
    return names;
  }

 private:
  static const kx::spreadsheet::ParamInfo* Argument(const OUString& name, sal_Int32 argument) {
    const MemberInfo* m = FindMember(name);
    if (!m || argument < 0) return nullptr;
    const auto inputs = kx::spreadsheet::WorksheetInputs(*m);
    if (static_cast<std::size_t>(argument) >= inputs.size()) return nullptr;
    return inputs[static_cast<std::size_t>(argument)];
  }

  CallResult Run(std::size_t index, std::initializer_list<Input> inputs) {
    return caller_.Call(kMembers[index], std::span<const Input>(inputs.begin(), inputs.size()));
  }

  kx::spreadsheet::QuantorbCaller caller_;
  css::lang::Locale locale_;
};

using namespace kx::spreadsheet;
#include "quantorb_glue.inc"

css::uno::Reference<css::uno::XInterface> SAL_CALL
CreateAddIn(const css::uno::Reference<css::uno::XComponentContext>&) {
  return static_cast<cppu::OWeakObject*>(new QuantorbAddIn);
}

OUString SAL_CALL ImplementationName() { return kImplementationName; }
Sequence<OUString> SAL_CALL ServiceNames() { return QuantorbAddIn::ServiceNames(); }

const cppu::ImplementationEntry kEntries[] = {
    {CreateAddIn, ImplementationName, ServiceNames, cppu::createSingleComponentFactory, nullptr, 0},
    {nullptr, nullptr, nullptr, nullptr, nullptr, 0}};

}  // namespace

extern "C" SAL_DLLPUBLIC_EXPORT void* component_getFactory(const char* implementation,
                                                           void* service_manager,
                                                           void* registry_key) {
  return cppu::component_getFactoryHelper(implementation, service_manager, registry_key, kEntries);
}

extern "C" SAL_DLLPUBLIC_EXPORT void component_getImplementationEnvironment(
    const char** environment, uno_Environment**) {
  *environment = CPPU_CURRENT_LANGUAGE_BINDING_NAME;
}
