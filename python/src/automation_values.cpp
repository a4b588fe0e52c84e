#include "automation_values.h"

#include <pybind11/numpy.h>

#include <climits>
#include <cstring>
#include <limits>
#include <vector>

#include "kx/platform/safearray.h"

namespace kx::python {

namespace py = pybind11;
using namespace kx::platform;

namespace {

std::string TypeOf(py::handle value) { return Py_TYPE(value.ptr())->tp_name; }

[[noreturn]] void Refuse(const std::string& param, const std::string& wanted, py::handle value) {
  throw py::type_error(param + " takes " + wanted + ", not " + TypeOf(value));
}

bool IsArrayLike(py::handle value) {
  if (py::hasattr(value, "__kx_array__")) return true;
  if (py::isinstance<py::array>(value)) return py::reinterpret_borrow<py::array>(value).ndim() > 0;
  return PyList_Check(value.ptr()) || PyTuple_Check(value.ptr());
}

bool IsNumber(py::handle value) {
  if (PyUnicode_Check(value.ptr()) || PyBytes_Check(value.ptr())) return false;
  return PyFloat_Check(value.ptr()) || PyIndex_Check(value.ptr()) ||
         py::hasattr(value, "__float__");
}

double AsDouble(py::handle value) {
  const double d = PyFloat_AsDouble(value.ptr());
  if (d == -1.0 && PyErr_Occurred()) throw py::error_already_set();
  return d;
}

long long AsInteger(py::handle value, long long low, long long high, const std::string& param) {
  int overflow = 0;
  py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
  if (!index) throw py::error_already_set();
  const long long n = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
  if (n == -1 && PyErr_Occurred()) throw py::error_already_set();
  if (overflow != 0 || n < low || n > high) {
    PyErr_SetString(PyExc_OverflowError,
                    (param + " is out of range: " + std::string(py::str(value))).c_str());
    throw py::error_already_set();
  }
  return n;
}

// Numbers only, as float64 in storage order (the first index fastest), 1-D or 2-D.
SAFEARRAY* MakeArray(py::handle value, const std::string& param) {
  py::object values = py::reinterpret_borrow<py::object>(value);
  LONG lower = 0;
  if (py::hasattr(value, "__kx_array__")) {
    py::tuple layout = value.attr("__kx_array__")();
    values = layout[0];
    lower = static_cast<LONG>(AsInteger(layout[1], INT_MIN, INT_MAX, param + "'s lower bound"));
  }
  py::module_ numpy = py::module_::import("numpy");
  py::array raw;
  try {
    raw = numpy.attr("asarray")(values);
  } catch (const py::error_already_set&) {
    throw py::type_error(param + " takes an array of numbers with rows of one length");
  }
  const char kind = raw.dtype().kind();
  if (kind != 'f' && kind != 'i' && kind != 'u' && kind != 'b') {
    throw py::type_error(param + " takes an array of numbers, not of " +
                         std::string(py::str(raw.dtype())));
  }
  if (raw.ndim() < 1 || raw.ndim() > 2) {
    throw py::type_error(param + " takes an array of 1 or 2 dimensions, not " +
                         std::to_string(raw.ndim()));
  }
  using Doubles = py::array_t<double, py::array::f_style | py::array::forcecast>;
  Doubles data = Doubles::ensure(raw);
  if (!data) throw py::type_error(param + " takes an array of numbers");
  SAFEARRAYBOUND bounds[2] = {};
  for (py::ssize_t d = 0; d < data.ndim(); ++d) {
    if (static_cast<unsigned long long>(data.shape(d)) > ULONG_MAX) {
      throw py::value_error(param + " is too large");
    }
    bounds[d] = {static_cast<ULONG>(data.shape(d)), lower};
  }
  SAFEARRAY* array = SafeArrayCreate(VT_R8, static_cast<UINT>(data.ndim()), bounds);
  if (!array) throw std::bad_alloc();
  if (data.size() > 0) {
    void* target = nullptr;
    if (FAILED(SafeArrayAccessData(array, &target))) {
      (void)SafeArrayDestroy(array);
      throw std::bad_alloc();
    }
    std::memcpy(target, data.data(), static_cast<std::size_t>(data.size()) * sizeof(double));
    (void)SafeArrayUnaccessData(array);
  }
  return array;
}

Variant ArrayVariant(py::handle value, const std::string& param) {
  Variant v;
  v.parray = MakeArray(value, param);
  v.vt = VT_ARRAY | VT_R8;
  return v;
}

Variant NaturalValue(py::handle value, const std::string& param) {
  Variant v;
  if (IsArrayLike(value)) return ArrayVariant(value, param);
  if (PyBool_Check(value.ptr())) {
    v.vt = VT_BOOL;
    v.boolVal = value.ptr() == Py_True ? VARIANT_TRUE : VARIANT_FALSE;
  } else if (PyIndex_Check(value.ptr()) && !PyFloat_Check(value.ptr())) {
    py::int_ n = py::reinterpret_steal<py::int_>(PyNumber_Index(value.ptr()));
    if (!n) throw py::error_already_set();
    int overflow = 0;
    const long long l = PyLong_AsLongLongAndOverflow(n.ptr(), &overflow);
    if (overflow == 0 && l >= INT32_MIN && l <= INT32_MAX) {
      v.vt = VT_I4;
      v.lVal = static_cast<LONG>(l);
    } else {
      v.vt = VT_R8;
      v.dblVal = AsDouble(n);
    }
  } else if (PyUnicode_Check(value.ptr())) {
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringUtf8(value.cast<std::string>());
    if (!v.bstrVal) throw std::bad_alloc();
  } else if (IsNumber(value)) {
    v.vt = VT_R8;
    v.dblVal = AsDouble(value);
  } else {
    Refuse(param, "a number, a text or an array of numbers", value);
  }
  return v;
}

template <typename T>
py::object NumericArray(SAFEARRAY* array, const std::vector<py::ssize_t>& shape) {
  std::vector<py::ssize_t> strides(shape.size());
  py::ssize_t step = sizeof(T);
  for (std::size_t d = 0; d < shape.size(); ++d) {
    strides[d] = step;
    step *= shape[d];
  }
  py::array_t<T> out(shape, strides);
  void* data = nullptr;
  if (SUCCEEDED(SafeArrayAccessData(array, &data))) {
    std::memcpy(out.mutable_data(), data, static_cast<std::size_t>(out.size()) * sizeof(T));
    (void)SafeArrayUnaccessData(array);
  }
  return out;
}

py::object ArrayToPython(SAFEARRAY* array) {
  if (!array) return py::none();
  VARTYPE element = VT_EMPTY;
  if (FAILED(SafeArrayGetVartype(array, &element))) return py::none();
  const UINT dims = SafeArrayGetDim(array);
  std::vector<py::ssize_t> shape(dims);
  for (UINT d = 0; d < dims; ++d) {
    LONG lower = 0, upper = -1;
    (void)SafeArrayGetLBound(array, d + 1, &lower);
    (void)SafeArrayGetUBound(array, d + 1, &upper);
    shape[d] = static_cast<py::ssize_t>(upper) - lower + 1;
  }
  switch (element) {
    case VT_R8:
      return NumericArray<double>(array, shape);
    case VT_R4:
      return NumericArray<float>(array, shape);
    case VT_I4:
    case VT_INT:
      return NumericArray<std::int32_t>(array, shape);
    case VT_I2:
      return NumericArray<std::int16_t>(array, shape);
    default:
      break;
  }
  // Other elements one by one, in storage order, then shaped; all numbers become float64.
  py::list items;
  const ULONG total = SafeArrayTotalCount(array);
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(array, &data))) return py::none();
  bool numbers = true;
  for (ULONG k = 0; k < total; ++k) {
    py::object item;
    if (element == VT_VARIANT) {
      item = FromVariant(static_cast<VARIANT*>(data)[k]);
    } else if (element == VT_BSTR) {
      item = py::str(BstrToUtf8(static_cast<BSTR*>(data)[k]));
    } else {
      VARIANT v;
      v.vt = element;
      std::memcpy(&v.llVal, static_cast<char*>(data) + k * SafeArrayGetElemsize(array),
                  SafeArrayGetElemsize(array));
      item = FromVariant(v);
    }
    numbers = numbers && (PyFloat_Check(item.ptr()) || PyLong_Check(item.ptr())) &&
              !PyBool_Check(item.ptr());
    items.append(item);
  }
  (void)SafeArrayUnaccessData(array);
  py::module_ numpy = py::module_::import("numpy");
  py::object flat = numpy.attr("array")(
      items, numbers ? py::object(py::dtype::of<double>()) : py::object(py::str("O")));
  return flat.attr("reshape")(py::tuple(py::cast(shape)), py::arg("order") = "F");
}

}  // namespace

Variant ToVariant(py::handle value, VARTYPE declared, const std::string& param) {
  if (declared & VT_ARRAY) {
    if (!IsArrayLike(value)) Refuse(param, "an array of numbers", value);
    return ArrayVariant(value, param);
  }
  Variant v;
  switch (declared) {
    case VT_R8:
    case VT_R4:
      if (IsArrayLike(value) || !IsNumber(value)) Refuse(param, "a number", value);
      v.vt = VT_R8;
      v.dblVal = AsDouble(value);
      if (declared == VT_R4) {
        v.vt = VT_R4;
        v.fltVal = static_cast<float>(v.dblVal);
      }
      return v;
    case VT_I4:
    case VT_INT:
      if (!PyIndex_Check(value.ptr()) || PyFloat_Check(value.ptr())) {
        Refuse(param, "an integer", value);
      }
      v.vt = VT_I4;
      v.lVal = static_cast<LONG>(AsInteger(value, INT32_MIN, INT32_MAX, param));
      return v;
    case VT_I2:
      if (!PyIndex_Check(value.ptr()) || PyFloat_Check(value.ptr())) {
        Refuse(param, "an integer", value);
      }
      v.vt = VT_I2;
      v.iVal = static_cast<SHORT>(AsInteger(value, INT16_MIN, INT16_MAX, param));
      return v;
    case VT_BOOL:
      if (!PyIndex_Check(value.ptr()) || PyFloat_Check(value.ptr())) {
        Refuse(param, "a bool", value);
      }
      v.vt = VT_BOOL;
      v.boolVal = PyObject_IsTrue(value.ptr()) ? VARIANT_TRUE : VARIANT_FALSE;
      return v;
    case VT_BSTR:
      if (!PyUnicode_Check(value.ptr())) Refuse(param, "a str", value);
      v.vt = VT_BSTR;
      v.bstrVal = SysAllocStringUtf8(value.cast<std::string>());
      if (!v.bstrVal) throw std::bad_alloc();
      return v;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      Refuse(param, "an object", value);
    default:
      // Other declared types are coerced by the object's dispatch, which names a mismatch.
      return NaturalValue(value, param);
  }
}

py::object FromVariant(const VARIANT& value) {
  const VARTYPE vt = value.vt;
  if (vt & VT_BYREF) {
    if (!value.byref) return py::none();
    const auto base = static_cast<VARTYPE>(vt & ~VT_BYREF);
    if (base == VT_VARIANT) return FromVariant(*value.pvarVal);
    if (base & VT_ARRAY) return ArrayToPython(*value.pparray);
    VARIANT v;
    v.vt = base;
    switch (base) {
      case VT_R8:
        v.dblVal = *value.pdblVal;
        break;
      case VT_R4:
        v.fltVal = *value.pfltVal;
        break;
      case VT_I4:
        v.lVal = *value.plVal;
        break;
      case VT_I2:
        v.iVal = *value.piVal;
        break;
      case VT_BOOL:
        v.boolVal = *value.pboolVal;
        break;
      case VT_BSTR:
        v.bstrVal = *value.pbstrVal;
        break;
      default:
        return py::none();
    }
    return FromVariant(v);
  }
  if (vt & VT_ARRAY) return ArrayToPython(value.parray);
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
      return py::none();
    case VT_R8:
    case VT_DATE:
      return py::float_(value.dblVal);
    case VT_R4:
      return py::float_(value.fltVal);
    case VT_I4:
    case VT_INT:
      return py::int_(value.lVal);
    case VT_I2:
      return py::int_(value.iVal);
    case VT_I1:
      return py::int_(static_cast<signed char>(value.bVal));
    case VT_UI1:
      return py::int_(value.bVal);
    case VT_UI2:
      return py::int_(value.uiVal);
    case VT_UI4:
    case VT_UINT:
      return py::int_(value.ulVal);
    case VT_I8:
      return py::int_(value.llVal);
    case VT_UI8:
      return py::int_(static_cast<unsigned long long>(value.llVal));
    case VT_BOOL:
      return py::bool_(value.boolVal != VARIANT_FALSE);
    case VT_BSTR:
      return py::str(BstrToUtf8(value.bstrVal));
    case VT_ERROR:
      return py::int_(value.scode);
    default:
      return py::none();
  }
}

}  // namespace kx::python
