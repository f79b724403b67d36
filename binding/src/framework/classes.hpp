// Per-class registries of method blocks, and building type objects from them.
//
// Each source file contributes one block of methods, getters and type slots to a class with a
// static BlockRegistrar; the class's own file registers its layout with a ClassRegistrar
// (object.hpp). The type object is built from all of them on first use, at import.
#pragma once

#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "framework/failure.hpp"
#include "framework/python.hpp"

namespace torvex::py {

// The class-level facts that are not members.
struct ClassInfo {
  // Class docstring; null or "" for none.
  const char* doc = nullptr;
  // Text signature of the constructor, e.g. "()"; null when the class has none.
  const char* text_signature = nullptr;
};

// tp_traverse and tp_clear of a class that takes part in cyclic garbage collection; a class
// with a traverse function gets Py_TPFLAGS_HAVE_GC.
struct CollectorSlots {
  traverseproc traverse = nullptr;
  inquiry clear = nullptr;
};

// One file's contribution to a class. Slots may include Py_tp_new; without one the class
// refuses construction with "No constructor defined for {}".
struct MethodBlock {
  std::vector<PyMethodDef> methods = {};
  std::vector<PyGetSetDef> getters = {};
  std::vector<PyType_Slot> slots = {};
};

class ClassDef {
 public:
  explicit ClassDef(std::string name) : name_(std::move(name)) {}
  void define(Py_ssize_t basicsize, destructor dealloc, ClassInfo info,
              CollectorSlots collector = {});
  void add_block(MethodBlock block);
  // The type object, built on first call. Borrowed (kept for the life of the process);
  // null with RuntimeError "An error occurred while initializing class {}" on failure.
  PyTypeObject* type();

 private:
  PyTypeObject* build();

  std::string name_;
  Py_ssize_t basicsize_ = 0;
  destructor dealloc_ = nullptr;
  ClassInfo info_;
  CollectorSlots collector_;
  bool defined_twice_ = false;
  std::vector<MethodBlock> blocks_;
  // Tables the type object points into; never freed.
  std::string qualified_name_;
  std::string doc_;
  std::vector<PyMethodDef> methods_;
  std::vector<PyGetSetDef> getters_;
  std::vector<PyType_Slot> slots_;
  PyTypeObject* type_ = nullptr;
};

// The registry entry of a class by its bare Python name, created on first mention.
ClassDef& class_def(std::string_view name);

struct BlockRegistrar {
  BlockRegistrar(const char* class_name, MethodBlock block) {
    class_def(class_name).add_block(std::move(block));
  }
};

// --- method tables ------------------------------------------------------------------------
// Every entry goes through Guarded, so no C++ exception reaches CPython.

using FastcallFn = PyObject* (*)(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames);
using NoargsFn = PyObject* (*)(PyObject* self);

namespace detail {
template <auto F>
PyObject* call_noargs(PyObject* self, PyObject* /*unused*/) noexcept {
  return Guarded<F>::call(self);
}
template <auto F>
PyObject* call_getter(PyObject* self, void* /*closure*/) noexcept {
  return Guarded<F>::call(self);
}
template <auto F>
PyMethodDef method_def(const char* name, const char* doc, int extra_flags) {
  using Fn = decltype(F);
  if constexpr (std::is_convertible_v<Fn, FastcallFn>) {
    return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&Guarded<F>::call)),
            METH_FASTCALL | METH_KEYWORDS | extra_flags, doc};
  } else {
    static_assert(std::is_convertible_v<Fn, NoargsFn>, "unsupported method signature");
    return {name, &call_noargs<F>, METH_NOARGS | extra_flags, doc};
  }
}
}  // namespace detail

// An instance method: F is FastcallFn (METH_FASTCALL | METH_KEYWORDS) or NoargsFn (METH_NOARGS).
// `doc` is "name(signature)\n--\n\nbody", so CPython exposes __text_signature__.
template <auto F>
PyMethodDef method(const char* name, const char* doc) {
  return detail::method_def<F>(name, doc, 0);
}
// A static method; for NoargsFn, `self` is null.
template <auto F>
PyMethodDef static_method(const char* name, const char* doc) {
  return detail::method_def<F>(name, doc, METH_STATIC);
}
// A class method; `self` is the class.
template <auto F>
PyMethodDef class_method(const char* name, const char* doc) {
  return detail::method_def<F>(name, doc, METH_CLASS);
}
// A read-only attribute; F is NoargsFn.
template <auto F>
PyGetSetDef getter(const char* name, const char* doc = nullptr) {
  return {name, &detail::call_getter<F>, nullptr, doc, nullptr};
}
// A type slot (Py_tp_repr, Py_mp_length, ...) whose function F has the slot's C signature.
template <int Slot, auto F>
PyType_Slot slot() {
  return {Slot, reinterpret_cast<void*>(&Guarded<F>::call)};
}

}  // namespace torvex::py
