#include "quantorb_caller.h"

#include <cstdio>
#include <memory>
#include <optional>

#include "kx/platform/activation.h"
#include "kx/platform/bstr.h"
#include "kx/platform/errorinfo.h"
#include "kx/platform/safearray.h"

namespace kx::spreadsheet {

using namespace kx::platform;

namespace {

constexpr char kProgId[] = "Korvane.Quantorb";
constexpr DISPID kBaseDispid = 1;
constexpr DISPID kBlockingModeDispid = 2;

std::string HresultText(HRESULT hr) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(hr));
  return std::string(HresultName(hr)) + " (" + buffer + ")";
}

VARIANT Omitted() {
  VARIANT v;
  v.vt = VT_ERROR;
  v.scode = DISP_E_PARAMNOTFOUND;
  return v;
}

// A single row or column is one series (1-D); a block keeps its shape with rows as the first
// (fastest-varying) dimension, so each column is one contiguous series.
SAFEARRAY* ToSafeArray(const Matrix& m) {
  if (m.rows == 1 || m.cols == 1 || m.values.empty()) {
    SAFEARRAY* a = SafeArrayCreateVector(VT_R8, 0, static_cast<ULONG>(m.values.size()));
    if (!a) return nullptr;
    auto* data = static_cast<double*>(a->pvData);
    for (std::size_t i = 0; i < m.values.size(); ++i) data[i] = m.values[i];
    return a;
  }
  const SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(m.rows), 0},
                                    {static_cast<ULONG>(m.cols), 0}};
  SAFEARRAY* a = SafeArrayCreate(VT_R8, 2, bounds);
  if (!a) return nullptr;
  auto* data = static_cast<double*>(a->pvData);
  for (std::size_t r = 0; r < m.rows; ++r) {
    for (std::size_t c = 0; c < m.cols; ++c) data[c * m.rows + r] = m.at(r, c);
  }
  return a;
}

// The doubles of a result VARIANT that holds a 1-D array of VT_R8 (by reference or directly).
std::optional<std::vector<double>> ArrayValues(const VARIANT& v) {
  const VARIANT* held = v.vt == (VT_BYREF | VT_VARIANT) ? v.pvarVal : &v;
  if (!held || held->vt != (VT_ARRAY | VT_R8) || !held->parray) return std::nullopt;
  SAFEARRAY* a = held->parray;
  const ULONG count = SafeArrayTotalCount(a);
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(a, &data))) return std::nullopt;
  const auto* first = static_cast<const double*>(data);
  std::vector<double> values(first, first + count);
  (void)SafeArrayUnaccessData(a);
  return values;
}

HRESULT PutProperty(IDispatch* object, DISPID id, VARIANT value) {
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{.rgvarg = &value, .rgdispidNamedArgs = &named, .cArgs = 1, .cNamedArgs = 1};
  EXCEPINFO excep;
  UINT arg_error = 0;
  const HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT,
                                    &params, nullptr, &excep, &arg_error);
  SysFreeString(excep.bstrSource);
  SysFreeString(excep.bstrDescription);
  SysFreeString(excep.bstrHelpFile);
  return hr;
}

}  // namespace

std::vector<const ParamInfo*> WorksheetInputs(const MemberInfo& member) {
  std::vector<const ParamInfo*> inputs;
  for (const ParamInfo& p : member.params) {
    if (p.role == ParamRole::kScalarIn || p.role == ParamRole::kArrayIn) inputs.push_back(&p);
  }
  return inputs;
}

QuantorbCaller::~QuantorbCaller() = default;

std::string QuantorbCaller::LastError() const {
  const std::lock_guard lock(mutex_);
  return last_error_;
}

bool QuantorbCaller::EnsureObject(std::string* why) {
  if (object_) return true;
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(kProgId, &clsid);
  if (FAILED(hr)) {
    *why = std::string(kProgId) + " is not registered (" + HresultText(hr) + ")";
    return false;
  }
  ComPtr<IDispatch> object;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object.put_void());
  if (FAILED(hr) || !object) {
    *why = std::string("cannot create ") + kProgId + " (" + HresultText(hr) + ")";
    return false;
  }
  // The office calls add-ins on its main thread. A pumping wait would only serve this platform's
  // queue of that thread, never the office's own events, so the window would stay frozen anyway
  // while a second formula could re-enter and start another computation; blocking waits keep
  // each call to its computation alone.
  VARIANT blocking;
  blocking.vt = VT_I2;
  blocking.iVal = 0;
  hr = PutProperty(object.get(), kBlockingModeDispid, blocking);
  VARIANT base;
  base.vt = VT_I4;
  base.lVal = 0;  // the arrays built here start at 0
  if (SUCCEEDED(hr)) hr = PutProperty(object.get(), kBaseDispid, base);
  if (FAILED(hr)) {
    *why = std::string("cannot set up ") + kProgId + " (" + HresultText(hr) + ")";
    return false;
  }
  object_ = std::move(object);
  return true;
}

CallResult QuantorbCaller::Refuse(const MemberInfo& member, std::string why) {
  CallResult result;
  result.error = std::string(member.display_name) + ": " + why;
  last_error_ = result.error;
  return result;
}

CallResult QuantorbCaller::Call(const MemberInfo& member, std::span<const Input> inputs) {
  const std::lock_guard lock(mutex_);
  const std::vector<const ParamInfo*> wanted = WorksheetInputs(member);
  if (inputs.size() != wanted.size()) {
    return Refuse(member, "takes " + std::to_string(wanted.size()) + " arguments, not " +
                              std::to_string(inputs.size()));
  }
  std::string why;
  if (!EnsureObject(&why)) return Refuse(member, why);

  const std::size_t n = member.params.size();
  std::vector<const Input*> given(n, nullptr);
  for (std::size_t i = 0, k = 0; i < n; ++i) {
    const ParamRole role = member.params[i].role;
    if (role == ParamRole::kScalarIn || role == ParamRole::kArrayIn) given[i] = &inputs[k++];
  }

  // Storage the by-reference arguments point into; sized once, never reallocated.
  std::vector<Variant> arrays(n);
  std::vector<double> doubles(n, 0.0);
  std::vector<bool> dropped(n, false);
  std::vector<VARIANT> declared(n);
  std::size_t passed = 0;  // trailing omitted arguments are not passed at all
  for (std::size_t i = 0; i < n; ++i) {
    const ParamInfo& p = member.params[i];
    const Input* in = given[i];
    VARIANT& arg = declared[i];
    if (p.retval) continue;  // the Invoke result
    switch (p.role) {
      case ParamRole::kScalarIn:
        if (in->kind == Input::Kind::kMissing) {
          if (!p.optional) return Refuse(member, std::string(p.name) + " is required");
          arg = Omitted();
          continue;
        }
        if (in->kind == Input::Kind::kRange && in->range.values.size() != 1) {
          return Refuse(member, std::string(p.name) + " takes one number, not a range");
        }
        arg.vt = VT_R8;  // the component converts to its declared type, as for any host
        arg.dblVal = in->kind == Input::Kind::kNumber ? in->number : in->range.values[0];
        break;
      case ParamRole::kArrayIn: {
        if (in->kind == Input::Kind::kMissing) {
          if (p.optional) {
            arg = Omitted();
            continue;
          }
          if (!p.worksheet_optional) return Refuse(member, std::string(p.name) + " is required");
        }
        Matrix values;
        if (in->kind == Input::Kind::kNumber) values = Matrix{1, 1, {in->number}};
        if (in->kind == Input::Kind::kRange) values = in->range;
        SAFEARRAY* a = ToSafeArray(values);
        if (!a) return Refuse(member, "out of memory for " + std::string(p.name));
        arrays[i].vt = VT_ARRAY | VT_R8;
        arrays[i].parray = a;
        arg.vt = VT_BYREF | VT_VARIANT;
        arg.pvarVal = &arrays[i];
        break;
      }
      case ParamRole::kScalarOut:
        arg.vt = VT_BYREF | p.vt;
        arg.pdblVal = &doubles[i];
        break;
      case ParamRole::kArrayOut: {
        const bool answers_missing = p.pairs_with >= 0 &&
                                     given[p.pairs_with]->kind == Input::Kind::kMissing;
        if (answers_missing && p.optional) {
          dropped[i] = true;
          arg = Omitted();
          continue;
        }
        // A required result array whose values were left out is computed over an empty
        // array and not shown.
        dropped[i] = answers_missing;
        arg.vt = VT_BYREF | VT_VARIANT;
        arg.pvarVal = &arrays[i];
        break;
      }
    }
    passed = i + 1;
  }

  std::vector<VARIANT> reversed(declared.rend() - static_cast<std::ptrdiff_t>(passed),
                                declared.rend());
  DISPPARAMS params{.rgvarg = reversed.data(),
                    .rgdispidNamedArgs = nullptr,
                    .cArgs = static_cast<UINT>(reversed.size()),
                    .cNamedArgs = 0};
  Variant returned;
  EXCEPINFO excep;
  UINT arg_error = 0;
  const HRESULT hr = object_->Invoke(member.dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                     &params, &returned, &excep, &arg_error);
  if (FAILED(hr)) {
    std::string reason;
    if (hr == DISP_E_EXCEPTION) {
      if (excep.pfnDeferredFillIn) (void)excep.pfnDeferredFillIn(&excep);
      reason = BstrToUtf8(excep.bstrDescription);
      if (reason.empty()) reason = HresultText(excep.scode);
    } else {
      ComPtr<IErrorInfo> info;
      if (GetErrorInfo(0, info.put()) == S_OK && info) {
        Bstr description;
        (void)info->GetDescription(description.put());
        reason = description.Utf8();
      }
      if (reason.empty() && (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW) &&
          arg_error < passed) {
        reason = std::string(member.params[passed - 1 - arg_error].name) +
                 " is not a value of its type";
      }
      if (reason.empty()) reason = HresultText(hr);
    }
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
    return Refuse(member, reason);
  }

  std::vector<double> scalars;
  std::vector<std::vector<double>> columns;
  std::size_t declared_arrays = 0;  // several result arrays are laid out side by side
  for (const ParamInfo& p : member.params) declared_arrays += p.role == ParamRole::kArrayOut;
  for (std::size_t i = 0; i < n; ++i) {
    const ParamInfo& p = member.params[i];
    if (p.role == ParamRole::kScalarOut) {
      if (!p.retval) {
        scalars.push_back(doubles[i]);
      } else if (returned.vt == VT_R8) {
        scalars.push_back(returned.dblVal);
      } else {
        return Refuse(member, std::string(p.name) + " did not come back as a number");
      }
    } else if (p.role == ParamRole::kArrayOut && !dropped[i]) {
      auto values = ArrayValues(p.retval ? static_cast<const VARIANT&>(returned) : declared[i]);
      if (!values) return Refuse(member, std::string(p.name) + " did not come back as an array");
      columns.push_back(std::move(*values));
    }
  }

  CallResult result;
  result.ok = true;
  if (columns.empty()) {
    result.values = Matrix{1, scalars.size(), scalars};
  } else if (declared_arrays == 1) {
    result.values = Matrix{1, columns[0].size(), columns[0]};
  } else {
    const std::size_t rows = columns[0].size();
    result.values.rows = rows;
    result.values.cols = columns.size();
    result.values.values.assign(rows * columns.size(), 0.0);
    for (std::size_t c = 0; c < columns.size(); ++c) {
      for (std::size_t r = 0; r < rows && r < columns[c].size(); ++r) {
        result.values.values[r * columns.size() + c] = columns[c][r];
      }
    }
  }
  return result;
}

}  // namespace kx::spreadsheet
