// The DAG class itself: construction, the generation counter and the cache members.
//
//   class DAG:
//       def __init__(self): ...            # an empty graph; no arguments
//       generation: int                    # read-only; +1 per structural change
//       def cache_info(self) -> dict: ...  # {"hits": n, "misses": n, "size": n}
//       def clear_cache(self) -> None: ... # empties cached results, keeps the counts
//
// Every other method comes from a topic file (construction.cpp, introspection.cpp, ...).
#include <new>
#include <span>

#include "dag_object.hpp"

namespace torvex::binding {
namespace {

PyObject* dag_new(PyTypeObject* /*type*/, PyObject* args, PyObject* kwargs) {
  if (!py::parse_no_args("DAG.__new__()", args, kwargs))
    return nullptr;
  return py::make<PyDAG>();
}

PyObject* generation(const CoreDAG& dag) {
  return py::integer(dag.generation()).release();
}

PyObject* cache_info(const CoreDAG& dag) {
  py::Ref info = py::Ref::steal(PyDict_New());
  if (!info)
    return nullptr;
  const py::Ref hits = py::integer(dag.cache_hits());
  const py::Ref misses = py::integer(dag.cache_misses());
  const py::Ref size = py::integer(dag.cache_size());
  if (!hits || !misses || !size)
    return nullptr;
  if (!py::dict_set(info.get(), "hits", hits) || !py::dict_set(info.get(), "misses", misses) ||
      !py::dict_set(info.get(), "size", size)) {
    return nullptr;
  }
  return info.release();
}

PyObject* clear_cache(const CoreDAG& dag) {
  // The cache has its own lock, so clearing it is safe under a shared borrow.
  dag.clear_cache();
  return py::none();
}

}  // namespace

// The collector calls this with the interpreter lock held, but possibly while another thread is
// inside a method of this graph with the lock released (a cycle test under an exclusive borrow,
// an algorithm under a shared one). So it takes no borrow, which would fail or make that call
// fail, and reads only the payload slots: they change only under the lock (add and remove
// node, payload and metadata setters, item assignment, clear and dealloc), while the work done
// without the lock touches edges, orders and the cache, never payloads. Nor can a collection
// start inside a change of the slots: moving them calls no Python code.
int PyDAG::traverse(const CoreDAG& dag, visitproc visit, void* arg) noexcept {
  for (const PyNodePayload& record : dag.payload_slots()) {
    for (const py::DeferredRef* ref : {&record.payload, &record.metadata}) {
      if (*ref) {
        if (const int stop = visit(ref->get(), arg))
          return stop;
      }
    }
  }
  return 0;
}

// Drops every payload and metadata reference, which breaks any cycle through the graph. One
// record at a time, taken out under an exclusive borrow and dropped once that is released:
// dropping may run Python code, which then finds the graph consistent and free. A graph that
// is in use is not garbage after all and is left as it is.
int PyDAG::clear(PyObject* self) noexcept {
  for (std::size_t n = 0;; ++n) {
    PyNodePayload taken;
    {
      py::Exclusive<PyDAG> dag(self, std::nothrow);
      if (!dag)
        return 0;
      const std::span<PyNodePayload> slots = dag->payload_slots();
      if (n >= slots.size())
        return 0;
      taken = std::move(slots[n]);
    }
  }
}

namespace {

const py::ClassRegistrar<PyDAG> kDagClass{{.doc = "", .text_signature = "()"}};
const py::BlockRegistrar kDagBlock{
    "DAG",
    {.methods = {py::method<with_shared<cache_info>>(
                     "cache_info",
                     "cache_info($self)\n--\n\n"
                     "Return cache statistics: {\"hits\": N, \"misses\": N, "
                     "\"size\": N}."),
                 py::method<with_shared<clear_cache>>(
                     "clear_cache",
                     "clear_cache($self)\n--\n\nClear all cached computation results.")},
     .getters = {py::getter<with_shared<generation>>(
         "generation", "The current generation counter. Increments on every structural mutation.")},
     .slots = {py::slot<Py_tp_new, dag_new>()}}};

}  // namespace
}  // namespace torvex::binding
