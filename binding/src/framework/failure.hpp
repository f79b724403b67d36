// Raising errors: the fixed texts of the machinery, exception classes, the panic exception for
// broken internal invariants, and the boundary that keeps C++ exceptions out of CPython.
#pragma once

#include <exception>
#include <string>
#include <string_view>
#include <type_traits>

#if defined(__GLIBCXX__)
#include <cxxabi.h>
#endif

#include "framework/gil.hpp"
#include "framework/python.hpp"
#include "interrupt.hpp"

namespace torvex::py {

// Thrown for a violated internal invariant; the boundary raises it as the panic exception.
class Panic : public std::exception {
 public:
  explicit Panic(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

[[noreturn]] void panic(std::string message);

// The panic exception class, a BaseException subclass created on first use. Borrowed.
PyObject* panic_exception_type();

// A new exception class: PyErr_NewExceptionWithDoc with no class dict. New reference.
// A failure is an internal invariant failure.
PyObject* new_exception_class(const char* qualified_name, const char* doc, PyObject* base);

// Sets `type` with a text argument. Always returns null, so `return raise(...)` reads well.
std::nullptr_t raise(PyObject* type, std::string_view text) noexcept;
inline std::nullptr_t type_error(std::string_view text) noexcept {
  return raise(PyExc_TypeError, text);
}

// The type's __qualname__ as UTF-8 ("int", "NodeRef"); "?" if even that fails.
std::string type_name(PyTypeObject* type);
std::string type_name_of(PyObject* obj);

// TypeError "'{}' object cannot be converted to '{}'" with the type name of `obj`.
std::nullptr_t conversion_error(PyObject* obj, std::string_view expected);

// Rewrites a pending TypeError (or subclass) as a TypeError "argument '{}': {}" with the
// original as its cause; any other pending exception is left as it is. Returns null.
std::nullptr_t argument_error(std::string_view param) noexcept;

// Called inside a catch block: std::bad_alloc becomes MemoryError, interrupt::Interrupted keeps
// the Python error that stopped the computation, anything else becomes the panic exception
// (replacing any pending Python error).
void set_error_from_current_exception() noexcept;

// Drops the pending error of a caller's callable whose failures are ignored (payload hooks,
// payload comparison). An error that is no Exception, such as the KeyboardInterrupt of a signal
// handler that ran inside the callable, stops the whole call instead: it stays pending and
// interrupt::Interrupted is thrown.
void drop_callback_error();

// The value a C entry point returns to signal an error.
template <class R>
constexpr R error_value() noexcept {
  if constexpr (std::is_pointer_v<R>) {
    return nullptr;
  } else {
    return static_cast<R>(-1);
  }
}

// Wraps a function so no C++ exception leaves it: Guarded<f>::call has f's signature and is
// what goes into method tables and type slots. Long computations inside may be interrupted by
// a signal (signal_raised).
template <auto F>
struct Guarded;

template <class R, class... A, R (*F)(A...)>
struct Guarded<F> {
  static R call(A... args) noexcept {
    prepare_thread();
    interrupt::Scope interruptible(&signal_raised);
    try {
      return F(args...);
#if defined(__GLIBCXX__)
    } catch (const abi::__forced_unwind&) {
      // CPython ended this thread inside Python code that f called (see take_lock).
      park_thread();
#endif
    } catch (...) {
      set_error_from_current_exception();
      return error_value<R>();
    }
  }
};

template <class R, class... A, R (*F)(A...) noexcept>
struct Guarded<F> {
  static R call(A... args) noexcept { return F(args...); }
};

}  // namespace torvex::py
