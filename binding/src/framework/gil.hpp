// Releasing the interpreter lock around native work, and dropping references without it.
#pragma once

#include <utility>

#include "framework/python.hpp"

namespace torvex::py {

// Releases the interpreter lock for its lifetime and takes it back on destruction (also while
// an exception unwinds). Between the two no Python object may be touched. References dropped
// meanwhile are queued and released when the lock is retaken.
class AllowThreads {
 public:
  AllowThreads() noexcept;
  ~AllowThreads();
  AllowThreads(const AllowThreads&) = delete;
  AllowThreads& operator=(const AllowThreads&) = delete;

 private:
  PyThreadState* saved_;
};

// Runs f() with the interpreter lock released and returns its result.
template <class F>
decltype(auto) without_gil(F&& f) {
  AllowThreads released;
  return std::forward<F>(f)();
}

// Holds the interpreter lock for its lifetime: takes it back inside an AllowThreads scope of
// this thread, which it releases again on destruction; does nothing where the lock is held.
class HoldGil {
 public:
  HoldGil() noexcept;
  ~HoldGil();
  HoldGil(const HoldGil&) = delete;
  HoldGil& operator=(const HoldGil&) = delete;

 private:
  PyThreadState* retaken_;  // null when the lock was held already
};

// Runs f() with the interpreter lock held and returns its result.
template <class F>
decltype(auto) with_gil(F&& f) {
  HoldGil held;
  return std::forward<F>(f)();
}

// Whether this thread is inside an AllowThreads scope.
bool gil_released() noexcept;

// Drops one strong reference: at once when this thread holds the lock, otherwise onto a
// process-wide pending list emptied the next time the lock is retaken through AllowThreads.
void release_later(PyObject* obj) noexcept;

// Releases everything on the pending list. Requires the lock.
void drain_pending_releases() noexcept;

// An owned reference whose release goes through release_later, so a value holding it (a node
// payload) may be destroyed while the lock is released. Copying is explicit (clone) because
// adding a reference needs the lock.
class DeferredRef {
 public:
  DeferredRef() noexcept = default;
  DeferredRef(DeferredRef&& other) noexcept : obj_(std::exchange(other.obj_, nullptr)) {}
  DeferredRef& operator=(DeferredRef&& other) noexcept {
    DeferredRef(std::move(other)).swap(*this);
    return *this;
  }
  DeferredRef(const DeferredRef&) = delete;
  DeferredRef& operator=(const DeferredRef&) = delete;
  ~DeferredRef() {
    if (obj_ != nullptr)
      release_later(obj_);
  }

  // Takes over a new reference; null means absent.
  static DeferredRef steal(PyObject* obj) noexcept { return DeferredRef(obj); }
  // Adds a reference to a borrowed object. Requires the lock.
  static DeferredRef borrow(PyObject* obj) noexcept;
  // A second reference to the same object. Requires the lock.
  DeferredRef clone() const noexcept { return borrow(obj_); }

  // Borrowed; null when absent.
  PyObject* get() const noexcept { return obj_; }
  explicit operator bool() const noexcept { return obj_ != nullptr; }
  void swap(DeferredRef& other) noexcept { std::swap(obj_, other.obj_); }

 private:
  explicit DeferredRef(PyObject* obj) noexcept : obj_(obj) {}
  PyObject* obj_ = nullptr;
};

}  // namespace torvex::py
