// What to recompute after a change. Both compute with the interpreter lock released.
//
//   class DAG:
//       def dirty_set(self, changed) -> list[str]: ...
//           # the changed nodes and all their descendants, each once, in no defined order
//       def change_provenance(self, changed) -> dict[str, list[str]]: ...
//           # per dirty node: itself first when it changed, then its changed ancestors,
//           # nearer ones first
//
// `changed` is any sequence of str or NodeRef, but not a str.
#include "graph/incremental.hpp"

#include <optional>
#include <string>
#include <vector>

#include "dag_object.hpp"
#include "exceptions.hpp"
#include "node_sequence.hpp"

namespace torvex::binding {
namespace {

constexpr py::Param kChangedParams[] = {py::required("changed")};

// The shared front of both methods: parse, borrow, convert `changed`, then body(dag, names).
template <class Body>
PyObject* with_changed(const char* full_name, PyObject* self, PyObject* const* args,
                       Py_ssize_t nargs, PyObject* kwnames, Body&& body) {
  /* parse arguments */
  PyObject* argv[1];
  if (!py::parse_args(full_name, kChangedParams, args, nargs, kwnames, argv))
    return nullptr;
  /* borrow */
  SharedDAG dag(self);
  if (!dag)
    return nullptr;
  /* convert: the whole sequence first, then every NodeRef checked */
  auto changed = node_args(argv[0], "changed");
  if (!changed)
    return nullptr;
  auto names = arg_names(*changed, *dag);
  if (!names)
    return nullptr;
  return body(*dag, *names);
}

PyObject* dirty_set(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_changed("DAG.dirty_set()", self, args, nargs, kwnames,
                      [](const CoreDAG& dag, const std::vector<std::string>& names) -> PyObject* {
                        auto dirty = py::without_gil([&] { return torvex::dirty_set(dag, names); });
                        if (!dirty)
                          return into_pyerr(dirty.error());
                        return py::str_list(*dirty).release();
                      });
}

PyObject* change_provenance(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
  return with_changed(
      "DAG.change_provenance()", self, args, nargs, kwnames,
      [](const CoreDAG& dag, const std::vector<std::string>& names) -> PyObject* {
        auto provenance = py::without_gil([&] { return torvex::change_provenance(dag, names); });
        if (!provenance)
          return into_pyerr(provenance.error());
        py::Ref result = py::Ref::steal(PyDict_New());
        if (!result)
          return nullptr;
        for (const NamedProvenance& entry : *provenance) {
          py::Ref key = py::str(entry.node);
          if (!key)
            return nullptr;
          py::Ref sources = py::str_list(entry.sources);
          if (!sources || PyDict_SetItem(result.get(), key.get(), sources.get()) < 0)
            return nullptr;
        }
        return result.release();
      });
}

const py::BlockRegistrar kIncrementalBlock{
    "DAG",
    {.methods = {
         py::method<dirty_set>(
             "dirty_set",
             "dirty_set($self, changed)\n--\n\n"
             "Compute the dirty set: changed nodes plus their transitive descendants.\n\n"
             "Args:\n"
             "    changed: List of node identifiers (str or NodeRef) that have changed.\n\n"
             "Returns:\n"
             "    List of node names that need recomputation."),
         py::method<change_provenance>(
             "change_provenance",
             "change_provenance($self, changed)\n--\n\n"
             "For each dirty node, determine which changed nodes are its ancestors.\n\n"
             "Args:\n"
             "    changed: List of node identifiers (str or NodeRef) that have changed.\n\n"
             "Returns:\n"
             "    Dict mapping dirty node name to list of changed ancestor names."),
     }}};

}  // namespace
}  // namespace torvex::binding
