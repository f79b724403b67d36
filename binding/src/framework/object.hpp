// Instance layouts, creation, deallocation and the borrow flag of the module's classes.
//
// A binding class is a tag type naming its value type and whether it is frozen:
//
//   struct PyNodeId {
//     using Value = NodeIdValue;                 // any C++ type, moved into the object
//     static constexpr bool kFrozen = true;      // frozen: no borrow flag, fields never change
//     static constexpr const char* kName = "NodeId";
//   };
//
// Frozen objects are read with value_of<C>(obj); the others through a Shared<C> or Exclusive<C>
// borrow, which also checks the type of `self`.
//
// A class whose value holds Python objects that may lead back to it takes part in cyclic
// garbage collection by declaring
//
//     static int traverse(const Value&, visitproc, void*);  // Py_VISIT each object held
//     static int clear(PyObject* self);                     // optional: drop them (tp_clear)
//
// Its instances are then tracked from the moment their value is built until deallocation.
#pragma once

#include <atomic>
#include <concepts>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

#include "framework/classes.hpp"
#include "framework/failure.hpp"
#include "framework/python.hpp"
#include "framework/ref.hpp"

namespace torvex::py {

// 0: free; all ones: exclusively borrowed; anything else: the number of shared borrows.
class BorrowFlag {
 public:
  static constexpr std::uintptr_t kExclusive = ~std::uintptr_t{0};

  bool try_shared() noexcept {
    std::uintptr_t current = state_.load(std::memory_order_relaxed);
    do {
      if (current == kExclusive || current == kExclusive - 1)
        return false;
    } while (!state_.compare_exchange_weak(current, current + 1, std::memory_order_acquire,
                                           std::memory_order_relaxed));
    return true;
  }
  bool try_exclusive() noexcept {
    std::uintptr_t expected = 0;
    return state_.compare_exchange_strong(expected, kExclusive, std::memory_order_acquire,
                                          std::memory_order_relaxed);
  }
  void release_shared() noexcept { state_.fetch_sub(1, std::memory_order_release); }
  void release_exclusive() noexcept { state_.store(0, std::memory_order_release); }

 private:
  std::atomic<std::uintptr_t> state_{0};
};

template <class T>
struct FrozenLayout {
  PyObject ob_base;
  T value;
};

template <class T>
struct CellLayout {
  PyObject ob_base;
  BorrowFlag borrow;
  T value;
};

template <class C>
using Layout =
    std::conditional_t<C::kFrozen, FrozenLayout<typename C::Value>, CellLayout<typename C::Value>>;

// The class's type object (built at import). Borrowed.
template <class C>
PyTypeObject* type_of() {
  static ClassDef& def = class_def(C::kName);
  return def.type();
}

template <class C>
concept Collectable = requires(const typename C::Value& value, visitproc visit, void* arg) {
  { C::traverse(value, visit, arg) } -> std::same_as<int>;
};
template <class C>
concept Clearable = requires(PyObject* self) {
  { C::clear(self) } -> std::same_as<int>;
};

template <class C>
bool is_instance(PyObject* obj) {
  PyTypeObject* type = type_of<C>();
  return type != nullptr && PyObject_TypeCheck(obj, type);
}

template <class C>
Layout<C>* layout_of(PyObject* obj) noexcept {
  return reinterpret_cast<Layout<C>*>(obj);
}

// Unchecked access to the value of an instance of C; for frozen classes, or inside a borrow.
template <class C>
typename C::Value& value_of(PyObject* obj) noexcept {
  return layout_of<C>(obj)->value;
}

// A new instance of C whose value is constructed in place from `args`. New reference, or null
// with an error set. A throwing constructor frees the object and rethrows.
template <class C, class... A>
PyObject* make(A&&... args) {
  PyTypeObject* type = type_of<C>();
  if (type == nullptr)
    return nullptr;
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  PyObject* obj = alloc(type, 0);
  if (obj == nullptr)
    return nullptr;
  // The allocator tracks a collectable object at once; the collector must not see it before
  // its value exists.
  if constexpr (Collectable<C>)
    PyObject_GC_UnTrack(obj);
  Layout<C>* layout = layout_of<C>(obj);
  if constexpr (!C::kFrozen)
    ::new (&layout->borrow) BorrowFlag();
  try {
    ::new (&layout->value) typename C::Value(std::forward<A>(args)...);
  } catch (...) {
    auto free_object = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_object(obj);
    dealloc_type_ref(type);
    throw;
  }
  if constexpr (Collectable<C>)
    PyObject_GC_Track(obj);
  return obj;
}

// tp_dealloc of C: destroys the value, frees the object, drops the heap type's reference.
template <class C>
void dealloc(PyObject* obj) noexcept {
  PyTypeObject* type = Py_TYPE(obj);
  // Destroying the value may run Python code, and with it the collector: out of its sight first.
  if constexpr (Collectable<C>)
    PyObject_GC_UnTrack(obj);
  Layout<C>* layout = layout_of<C>(obj);
  std::destroy_at(&layout->value);
  if constexpr (!C::kFrozen)
    std::destroy_at(&layout->borrow);
  auto free_object = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_object(obj);
  dealloc_type_ref(type);
}

// Visits a held reference, if set: the body of a traverse function.
inline int visit_ref(const Ref& ref, visitproc visit, void* arg) noexcept {
  return ref ? visit(ref.get(), arg) : 0;
}

// tp_traverse of a collectable C: its heap type, then what the value holds.
template <class C>
int traverse(PyObject* obj, visitproc visit, void* arg) noexcept {
  if (const int stop = visit(reinterpret_cast<PyObject*>(Py_TYPE(obj)), arg))
    return stop;
  return C::traverse(layout_of<C>(obj)->value, visit, arg);
}

// Checks that `self` is a C ("'{}' object cannot be converted to '{}'" otherwise).
template <class C>
bool check_self(PyObject* self) {
  if (is_instance<C>(self))
    return true;
  if (!PyErr_Occurred())
    conversion_error(self, C::kName);
  return false;
}

// A shared borrow of a non-frozen object for the guard's lifetime. False when it failed, with
// TypeError (foreign self) or RuntimeError "Already mutably borrowed" set.
template <class C>
class Shared {
 public:
  explicit Shared(PyObject* self) {
    if (!check_self<C>(self))
      return;
    if (!layout_of<C>(self)->borrow.try_shared()) {
      raise(PyExc_RuntimeError, "Already mutably borrowed");
      return;
    }
    layout_ = layout_of<C>(self);
  }
  ~Shared() {
    if (layout_ != nullptr)
      layout_->borrow.release_shared();
  }
  Shared(const Shared&) = delete;
  Shared& operator=(const Shared&) = delete;

  explicit operator bool() const noexcept { return layout_ != nullptr; }
  const typename C::Value& operator*() const noexcept { return layout_->value; }
  const typename C::Value* operator->() const noexcept { return &layout_->value; }

 private:
  CellLayout<typename C::Value>* layout_ = nullptr;
};

// An exclusive borrow; RuntimeError "Already borrowed" when the object is borrowed in any way.
template <class C>
class Exclusive {
 public:
  explicit Exclusive(PyObject* self) {
    if (!check_self<C>(self))
      return;
    if (!layout_of<C>(self)->borrow.try_exclusive()) {
      raise(PyExc_RuntimeError, "Already borrowed");
      return;
    }
    layout_ = layout_of<C>(self);
  }
  // For slots that must not raise (tp_clear): `self` is known to be a C, and a borrowed object
  // just gives a false guard.
  Exclusive(PyObject* self, std::nothrow_t) noexcept {
    if (layout_of<C>(self)->borrow.try_exclusive())
      layout_ = layout_of<C>(self);
  }
  ~Exclusive() {
    if (layout_ != nullptr)
      layout_->borrow.release_exclusive();
  }
  Exclusive(const Exclusive&) = delete;
  Exclusive& operator=(const Exclusive&) = delete;

  explicit operator bool() const noexcept { return layout_ != nullptr; }
  typename C::Value& operator*() const noexcept { return layout_->value; }
  typename C::Value* operator->() const noexcept { return &layout_->value; }

 private:
  CellLayout<typename C::Value>* layout_ = nullptr;
};

// Registers the class itself (layout, deallocator, docstring, collector slots) under C::kName
// at load time.
template <class C>
struct ClassRegistrar {
  explicit ClassRegistrar(ClassInfo info) {
    CollectorSlots collector;
    if constexpr (Collectable<C>)
      collector.traverse = &traverse<C>;
    if constexpr (Clearable<C>)
      collector.clear = &C::clear;
    class_def(C::kName).define(static_cast<Py_ssize_t>(sizeof(Layout<C>)), &dealloc<C>, info,
                               collector);
  }
};

}  // namespace torvex::py
