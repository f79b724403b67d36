// Raising errors and the exception boundary.
#include "framework/failure.hpp"

#include <new>

#include "framework/ref.hpp"

namespace torvex::py {

void panic(std::string message) {
  throw Panic(std::move(message));
}

PyObject* panic_exception_type() {
  // Kept for the life of the process, like every class the module creates.
  static PyObject* type = nullptr;
  if (type == nullptr) {
    type = PyErr_NewExceptionWithDoc(
        "torvex.PanicException",
        "Raised when an internal invariant of torvex is violated; never expected in normal use.",
        PyExc_BaseException, nullptr);
    if (type == nullptr) {
      // Nothing better is left: report the failure to create it as a SystemError.
      PyErr_Clear();
      return PyExc_SystemError;
    }
  }
  return type;
}

PyObject* new_exception_class(const char* qualified_name, const char* doc, PyObject* base) {
  PyObject* type = PyErr_NewExceptionWithDoc(qualified_name, doc, base, nullptr);
  if (type == nullptr) {
    PyErr_Clear();
    panic("Failed to initialize new exception type.");
  }
  return type;
}

std::nullptr_t raise(PyObject* type, std::string_view text) noexcept {
  Ref message = Ref::steal(
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
  if (message)
    PyErr_SetObject(type, message.get());
  return nullptr;
}

std::string type_name(PyTypeObject* type) {
  Ref name = Ref::steal(PyType_GetQualName(type));
  if (name) {
    Py_ssize_t size = 0;
    if (const char* utf8 = PyUnicode_AsUTF8AndSize(name.get(), &size)) {
      return std::string(utf8, static_cast<std::size_t>(size));
    }
  }
  PyErr_Clear();
  return "?";
}

std::string type_name_of(PyObject* obj) {
  return type_name(Py_TYPE(obj));
}

std::nullptr_t conversion_error(PyObject* obj, std::string_view expected) {
  std::string text = "'" + type_name_of(obj) + "' object cannot be converted to '";
  text += expected;
  text += "'";
  return type_error(text);
}

std::nullptr_t argument_error(std::string_view param) noexcept {
  PyObject* raised = PyErr_GetRaisedException();
  // Subclasses too: a TypeError subclass from a conversion (a user's __index__, say) still
  // needs to say which argument it was about.
  if (raised == nullptr || !PyErr_GivenExceptionMatches(raised, PyExc_TypeError)) {
    PyErr_SetRaisedException(raised);
    return nullptr;
  }
  Ref cause = Ref::steal(raised);
  Ref cause_text = Ref::steal(PyObject_Str(cause.get()));
  if (!cause_text)
    return nullptr;
  Ref param_text =
      Ref::steal(PyUnicode_FromStringAndSize(param.data(), static_cast<Py_ssize_t>(param.size())));
  if (!param_text)
    return nullptr;
  Ref text =
      Ref::steal(PyUnicode_FromFormat("argument '%U': %U", param_text.get(), cause_text.get()));
  if (!text)
    return nullptr;
  Ref error = Ref::steal(PyObject_CallFunctionObjArgs(PyExc_TypeError, text.get(), nullptr));
  if (!error)
    return nullptr;
  PyException_SetCause(error.get(), cause.release());  // steals the cause
  PyErr_SetRaisedException(error.release());           // steals the exception
  return nullptr;
}

void set_error_from_current_exception() noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const interrupt::Interrupted&) {
    if (!PyErr_Occurred())
      raise(panic_exception_type(), "computation interrupted without an exception");
  } catch (const std::exception& e) {
    PyErr_Clear();
    raise(panic_exception_type(), e.what());
  } catch (...) {
    PyErr_Clear();
    raise(panic_exception_type(), "unknown C++ exception");
  }
}

void drop_callback_error() {
  if (!PyErr_Occurred() || PyErr_ExceptionMatches(PyExc_Exception)) {
    PyErr_Clear();
    return;
  }
  throw interrupt::Interrupted();
}

}  // namespace torvex::py
