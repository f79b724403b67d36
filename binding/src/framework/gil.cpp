// Lock release and the pending-release list.
#include "framework/gil.hpp"

#include <unistd.h>

#include <atomic>
#include <exception>
#include <mutex>
#include <utility>
#include <vector>

#if defined(__GLIBC__) && (defined(__x86_64__) || defined(__aarch64__))
#include <link.h>
#define TORVEX_CLAIM_TLS_BLOCKS 1
#endif
#if defined(__APPLE__)
#include <pthread.h>
#endif

#include "framework/ref.hpp"

namespace torvex::py {
namespace {

// This thread's state while an AllowThreads scope has the lock released, else null: the lock
// is held exactly when it is null, since all native code of the module runs on Python threads.
// Initial-exec, like every thread-local of the module: allocated with the thread, never later.
constinit thread_local PyThreadState* t_released __attribute__((tls_model("initial-exec"))) =
    nullptr;

struct PendingList {
  std::mutex mutex;
  std::vector<PyObject*> objects;
  std::atomic<bool> nonempty{false};
};

PendingList& pending() {
  // Leaked on purpose: a payload may be dropped during process teardown after statics die.
  static PendingList* list = new PendingList();
  return *list;
}

bool on_main_thread() noexcept {
#if defined(__APPLE__)
  return pthread_main_np() != 0;
#else
  return gettid() == getpid();
#endif
}

// Runs the signal handlers with the lock held; true when one raised. An error already pending
// belongs to the code around: leave both alone then.
bool run_signal_handlers() {
  return !PyErr_Occurred() && PyErr_CheckSignals() < 0;
}

#ifdef TORVEX_CLAIM_TLS_BLOCKS
// The argument of __tls_get_addr, as the ELF thread-local storage ABI defines it.
struct TlsIndex {
  unsigned long module;
  unsigned long offset;
};
extern "C" void* __tls_get_addr(TlsIndex* index);

int claim_tls_block(dl_phdr_info* info, std::size_t /*size*/, void* /*data*/) {
  if (info->dlpi_tls_modid != 0 && info->dlpi_tls_data == nullptr) {
    TlsIndex index{info->dlpi_tls_modid, 0};
    __tls_get_addr(&index);
  }
  return 0;
}
#endif

}  // namespace

AllowThreads::AllowThreads() noexcept {
  t_released = PyEval_SaveThread();
}

AllowThreads::~AllowThreads() {
  take_lock(std::exchange(t_released, nullptr));
  drain_pending_releases();
}

HoldGil::HoldGil() noexcept : retaken_(std::exchange(t_released, nullptr)) {
  if (retaken_ != nullptr)
    take_lock(retaken_);
}

HoldGil::~HoldGil() {
  if (retaken_ != nullptr)
    t_released = PyEval_SaveThread();
}

bool gil_released() noexcept {
  return t_released != nullptr;
}

void park_thread() noexcept {
  for (;;)
    pause();
}

void take_lock(PyThreadState* state) noexcept {
  // Nothing else in PyEval_RestoreThread can throw: what arrives here is CPython ending the
  // thread.
  try {
    PyEval_RestoreThread(state);
  } catch (...) {
    park_thread();
  }
}

bool signal_raised() {
  if (gil_released() && !on_main_thread())
    return false;
  // A handler may call into the module (even this graph, whose borrow stays held): while it
  // runs, this thread holds the lock like any other caller.
  HoldGil held;
  return run_signal_handlers();
}

namespace detail {

constinit thread_local bool t_thread_prepared __attribute__((tls_model("initial-exec"))) = false;

// glibc gives a thread its block of a dlopen'ed library's thread-local storage on first use,
// and ends the process when it cannot allocate it ("cannot allocate memory for thread-local
// data"). The C++ runtime keeps its per-thread exception state in such a block, so a thread's
// first exception, a std::bad_alloc when memory runs out, could end the process instead of
// becoming MemoryError. A thread's first call claims every such block at once, before any work.
void prepare_new_thread() noexcept {
  t_thread_prepared = true;
#ifdef TORVEX_CLAIM_TLS_BLOCKS
  dl_iterate_phdr(&claim_tls_block, nullptr);
#else
  (void)std::uncaught_exceptions();  // the C++ runtime's per-thread state, at least
#endif
}

}  // namespace detail

void release_later(PyObject* obj) noexcept {
  if (obj == nullptr)
    return;
  if (!gil_released()) {
    Ref::steal(obj);
    return;
  }
  PendingList& list = pending();
  std::lock_guard lock(list.mutex);
  try {
    list.objects.push_back(obj);
  } catch (...) {
    // Out of memory: leaking one reference is the only safe choice without the lock.
    return;
  }
  list.nonempty.store(true, std::memory_order_release);
}

void drain_pending_releases() noexcept {
  PendingList& list = pending();
  if (!list.nonempty.load(std::memory_order_acquire))
    return;
  std::vector<PyObject*> objects;
  {
    std::lock_guard lock(list.mutex);
    objects.swap(list.objects);
    list.nonempty.store(false, std::memory_order_relaxed);
  }
  // A finaliser may run Python code: keep any pending exception out of its way.
  PyObject* error = PyErr_GetRaisedException();
  for (PyObject* obj : objects)
    Ref::steal(obj);
  PyErr_SetRaisedException(error);
}

DeferredRef DeferredRef::borrow(PyObject* obj) noexcept {
  return DeferredRef(Ref::borrow(obj).release());
}

}  // namespace torvex::py
