// Lock release and the pending-release list.
#include "framework/gil.hpp"

#include <atomic>
#include <mutex>
#include <vector>

#include "framework/ref.hpp"

namespace torvex::py {
namespace {

// Depth of AllowThreads scopes on this thread: the lock is held exactly when it is 0, since all
// native code of the module runs on Python threads.
thread_local int t_released_depth = 0;
// The thread state an AllowThreads scope of this thread saved, for HoldGil to take back.
thread_local PyThreadState* t_saved_state = nullptr;

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

}  // namespace

AllowThreads::AllowThreads() noexcept : saved_(PyEval_SaveThread()) {
  ++t_released_depth;
  t_saved_state = saved_;  // one per thread, so nested scopes save the same one
}

AllowThreads::~AllowThreads() {
  --t_released_depth;
  PyEval_RestoreThread(saved_);
  drain_pending_releases();
}

HoldGil::HoldGil() noexcept : retaken_(gil_released() ? t_saved_state : nullptr) {
  if (retaken_ == nullptr)
    return;
  PyEval_RestoreThread(retaken_);
  --t_released_depth;
}

HoldGil::~HoldGil() {
  if (retaken_ == nullptr)
    return;
  ++t_released_depth;
  PyEval_SaveThread();
}

bool gil_released() noexcept {
  return t_released_depth > 0;
}

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
