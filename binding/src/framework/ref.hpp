// Owned object references. This header and the type deallocators are the only places that touch
// reference counts directly; everything else holds a Ref or passes a borrowed PyObject*.
#pragma once

#include <utility>

#include "framework/gil.hpp"
#include "framework/python.hpp"

namespace torvex::py {

// Drops one strong reference, if any. The last one runs the object's finaliser, which may give
// up the lock; a daemon thread that CPython ends on taking it back during finalization waits
// here for the process to end, as in take_lock: its forced unwind would otherwise reach a
// noexcept frame (most drops happen in destructors) and end the process.
inline void drop_ref(PyObject* obj) noexcept {
  try {
    Py_XDECREF(obj);
  } catch (...) {
    park_thread();
  }
}

// One strong reference, released when the Ref goes away. Requires the interpreter lock for
// every operation that changes a count (copy, assignment, destruction of a non-null Ref).
class Ref {
 public:
  Ref() noexcept = default;
  Ref(const Ref& other) noexcept : obj_(other.obj_) { Py_XINCREF(obj_); }
  Ref(Ref&& other) noexcept : obj_(std::exchange(other.obj_, nullptr)) {}
  Ref& operator=(Ref other) noexcept {
    std::swap(obj_, other.obj_);
    return *this;
  }
  ~Ref() { drop_ref(obj_); }

  // Takes over a new reference (as returned by most API calls); null stays null.
  static Ref steal(PyObject* obj) noexcept { return Ref(obj); }
  // Adds a reference to a borrowed object.
  static Ref borrow(PyObject* obj) noexcept {
    Py_XINCREF(obj);
    return Ref(obj);
  }

  PyObject* get() const noexcept { return obj_; }
  explicit operator bool() const noexcept { return obj_ != nullptr; }
  // Hands the reference to the caller (for returning it to CPython or to a stealing call).
  [[nodiscard]] PyObject* release() noexcept { return std::exchange(obj_, nullptr); }
  void reset() noexcept { Ref().swap(*this); }
  void swap(Ref& other) noexcept { std::swap(obj_, other.obj_); }

 private:
  explicit Ref(PyObject* obj) noexcept : obj_(obj) {}
  PyObject* obj_ = nullptr;
};

// A new reference to a borrowed object, for returning it from a method.
inline PyObject* new_ref(PyObject* obj) noexcept {
  return Ref::borrow(obj).release();
}
inline PyObject* none() noexcept {
  return new_ref(Py_None);
}
inline PyObject* boolean(bool value) noexcept {
  return new_ref(value ? Py_True : Py_False);
}
inline PyObject* not_implemented() noexcept {
  return new_ref(Py_NotImplemented);
}

// Drops a reference inside a type's deallocator (the type object of a heap-type instance).
inline void dealloc_type_ref(PyTypeObject* type) noexcept {
  Py_DECREF(reinterpret_cast<PyObject*>(type));
}

}  // namespace torvex::py
