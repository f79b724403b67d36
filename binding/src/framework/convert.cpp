// Argument conversions and result builders.
#include "framework/convert.hpp"

#include <algorithm>
#include <vector>

namespace torvex::py {

std::optional<std::string_view> utf8(PyObject* str) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(str, &size);
  if (data == nullptr)
    return std::nullopt;
  return std::string_view(data, static_cast<std::size_t>(size));
}

namespace {

// The slot functions CPython installs for special methods written in Python, and str's own
// __str__. Written once at module initialisation, with the interpreter lock held.
void* g_python_str = nullptr;
void* g_python_float = nullptr;
void* g_python_index = nullptr;
void* g_own_str = nullptr;

constexpr const char kProbe[] =
    "class Probe:\n"
    "    def __str__(self): return ''\n"
    "    def __float__(self): return 0.0\n"
    "    def __index__(self): return 0\n";

}  // namespace

bool learn_python_slots() {
  Ref code = Ref::steal(Py_CompileString(kProbe, "<torvex slot probe>", Py_file_input));
  Ref globals = Ref::steal(PyDict_New());
  if (!code || !globals)
    return false;
  Ref name = str("torvex._internal");
  if (!name || PyDict_SetItemString(globals.get(), "__name__", name.get()) < 0 ||
      PyDict_SetItemString(globals.get(), "__builtins__", PyEval_GetBuiltins()) < 0)
    return false;
  Ref done = Ref::steal(PyEval_EvalCode(code.get(), globals.get(), globals.get()));
  if (!done)
    return false;
  PyObject* probe = PyDict_GetItemString(globals.get(), "Probe");  // borrowed
  if (probe == nullptr || !PyType_Check(probe)) {
    raise(PyExc_SystemError, "the slot probe class was not made");
    return false;
  }
  auto* type = reinterpret_cast<PyTypeObject*>(probe);
  g_python_str = PyType_GetSlot(type, Py_tp_str);
  g_python_float = PyType_GetSlot(type, Py_nb_float);
  g_python_index = PyType_GetSlot(type, Py_nb_index);
  g_own_str = PyType_GetSlot(&PyUnicode_Type, Py_tp_str);
  if (!g_python_str || !g_python_float || !g_python_index || !g_own_str) {
    raise(PyExc_SystemError, "the slot probe class lacks a slot");
    return false;
  }
  return true;
}

bool str_runs_python(PyObject* obj) {
  return !PyUnicode_CheckExact(obj) && PyType_GetSlot(Py_TYPE(obj), Py_tp_str) == g_python_str;
}

bool str_is_own_text(PyObject* obj) {
  return PyUnicode_CheckExact(obj) || PyType_GetSlot(Py_TYPE(obj), Py_tp_str) == g_own_str;
}

bool to_double_runs_python(PyObject* obj) {
  if (PyFloat_Check(obj))
    return false;
  PyTypeObject* type = Py_TYPE(obj);
  if (void* to_float = PyType_GetSlot(type, Py_nb_float))
    return to_float == g_python_float;
  // Without __float__, an int (or subclass) is taken as it is and anything else through __index__.
  return !PyLong_Check(obj) && PyType_GetSlot(type, Py_nb_index) == g_python_index;
}

namespace {

// Whether `type` derives from NumPy's floating or integer scalar types, NumPy being imported (an
// object of such a type exists only then). Only static types count, whose addresses stay theirs,
// so the ones found are remembered.
bool is_numpy_real_scalar(PyTypeObject* type) {
  if (PyType_GetFlags(type) & Py_TPFLAGS_HEAPTYPE)
    return false;
  static std::vector<PyTypeObject*> known;
  if (std::find(known.begin(), known.end(), type) != known.end())
    return true;
  static PyObject* const numpy_name = PyUnicode_InternFromString("numpy");  // kept for good
  if (numpy_name == nullptr) {
    PyErr_Clear();
    return false;
  }
  Ref numpy = Ref::steal(PyImport_GetModule(numpy_name));
  bool real = false;
  for (const char* base : {"floating", "integer"}) {
    // Plain module attributes: found in the module's dictionary, no Python code runs.
    Ref kind = numpy ? Ref::steal(PyObject_GetAttrString(numpy.get(), base)) : Ref();
    if (kind && PyType_Check(kind.get()) &&
        PyType_IsSubtype(type, reinterpret_cast<PyTypeObject*>(kind.get()))) {
      real = true;
    }
  }
  PyErr_Clear();
  if (real && known.size() < 64)
    known.push_back(type);
  return real;
}

}  // namespace

bool to_double_is_plain(PyObject* obj) {
  if (PyFloat_Check(obj))
    return true;
  if (to_double_runs_python(obj))
    return false;
  return PyLong_Check(obj) || is_numpy_real_scalar(Py_TYPE(obj));
}

std::optional<std::string_view> str_arg(PyObject* obj, const char* param) {
  if (!PyUnicode_Check(obj)) {
    conversion_error(obj, "PyString");
    argument_error(param);
    return std::nullopt;
  }
  auto text = utf8(obj);
  if (!text)
    argument_error(param);
  return text;
}

bool list_arg(PyObject* obj, const char* param) {
  if (PyList_Check(obj))
    return true;
  conversion_error(obj, "PyList");
  argument_error(param);
  return false;
}

bool dict_arg(PyObject* obj, const char* param) {
  if (PyDict_Check(obj))
    return true;
  conversion_error(obj, "PyDict");
  argument_error(param);
  return false;
}

std::optional<double> float_arg(PyObject* obj, const char* param) {
  const double value = PyFloat_AsDouble(obj);
  if (value == -1.0 && PyErr_Occurred()) {
    argument_error(param);
    return std::nullopt;
  }
  return value;
}

std::optional<std::uint64_t> count_arg(PyObject* obj, const char* param) {
  Ref index = Ref::steal(PyNumber_Index(obj));
  if (!index) {
    argument_error(param);
    return std::nullopt;
  }
  const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    argument_error(param);
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(value);
}

std::optional<std::int64_t> int64_arg(PyObject* obj, const char* param) {
  Ref index = Ref::steal(PyNumber_Index(obj));
  if (!index) {
    argument_error(param);
    return std::nullopt;
  }
  const long long value = PyLong_AsLongLong(index.get());
  if (value == -1 && PyErr_Occurred()) {
    argument_error(param);
    return std::nullopt;
  }
  return static_cast<std::int64_t>(value);
}

std::optional<bool> bool_arg(PyObject* obj, const char* param) {
  const int truth = PyObject_IsTrue(obj);
  if (truth < 0) {
    argument_error(param);
    return std::nullopt;
  }
  return truth != 0;
}

Ref str(std::string_view text) {
  return Ref::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

Ref integer(std::uint64_t value) {
  return Ref::steal(PyLong_FromUnsignedLongLong(static_cast<unsigned long long>(value)));
}

Ref signed_integer(std::int64_t value) {
  return Ref::steal(PyLong_FromLongLong(static_cast<long long>(value)));
}

Ref float_object(double value) {
  return Ref::steal(PyFloat_FromDouble(value));
}

Ref new_list(std::size_t size) {
  return Ref::steal(PyList_New(static_cast<Py_ssize_t>(size)));
}

void list_set(PyObject* list, std::size_t index, Ref item) noexcept {
  PyList_SetItem(list, static_cast<Py_ssize_t>(index), item.release());
}

bool list_append(PyObject* list, const Ref& item) {
  return PyList_Append(list, item.get()) == 0;
}

Ref new_tuple(std::size_t size) {
  return Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(size)));
}

void tuple_set(PyObject* tuple, std::size_t index, Ref item) noexcept {
  PyTuple_SetItem(tuple, static_cast<Py_ssize_t>(index), item.release());
}

bool dict_set(PyObject* dict, const char* key, const Ref& value) {
  return PyDict_SetItemString(dict, key, value.get()) == 0;
}

}  // namespace torvex::py
