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

// Takes the interpreter lock back after PyEval_SaveThread. Once the interpreter is finalizing,
// CPython ends any other thread that does so (a daemon thread) with pthread_exit, whose forced
// unwind must not run through our frames: they would touch Python objects without the lock,
// and the first noexcept frame on the way (a destructor) ends the process. Such a thread waits
// here for the process to end instead, as CPython itself makes it do from 3.14 on.
void take_lock(PyThreadState* state) noexcept;

// Blocks this thread for good. For a thread that CPython has told to end; see take_lock.
[[noreturn]] void park_thread() noexcept;

// Runs f(), a call into Python code, which may give up the lock and take it back: a thread
// that CPython ends in there waits as in take_lock. f must throw no C++ exception of its own.
template <class F>
auto calling_python(F&& f) noexcept -> decltype(std::forward<F>(f)()) {
  try {
    return std::forward<F>(f)();
  } catch (...) {
    park_thread();
  }
}

// The interrupt check installed for every call into the module: runs the Python signal
// handlers, taking the lock back for the moment when it is released, and returns true when
// one raised (its exception is then pending). Only the main thread runs signal handlers, so
// other threads never take the lock here.
bool signal_raised();

namespace detail {
extern constinit thread_local bool t_thread_prepared __attribute__((tls_model("initial-exec")));
void prepare_new_thread() noexcept;
}  // namespace detail

// Gets this thread ready for its calls into the module; nothing after the thread's first call.
inline void prepare_thread() noexcept {
  if (!detail::t_thread_prepared) [[unlikely]]
    detail::prepare_new_thread();
}

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
