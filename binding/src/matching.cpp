// Selecting nodes by name.
//
//   class DAG:
//       def nodes_matching_regex(self, pattern: str) -> list[NodeId]: ...  # match anywhere
//       def nodes_matching_glob(self, pattern: str) -> list[NodeId]: ...   # whole name; * and ?
//
// Both return nodes in slot order, run with the interpreter lock released, and raise GraphError
// for a pattern that does not compile.
#include "graph/matching.hpp"

#include <string_view>
#include <vector>

#include "dag_object.hpp"
#include "exceptions.hpp"
#include "node_objects.hpp"

namespace torvex::binding {
namespace {

constexpr py::Param kPatternParams[] = {py::required("pattern")};

using Matcher = Result<std::vector<NodeId>> (*)(const GraphStore&, std::string_view);

// The shape of both methods: parse, borrow shared, convert, match without the lock, build.
PyObject* select_nodes(const char* full_name, Matcher match, PyObject* self, PyObject* const* args,
                       Py_ssize_t nargs, PyObject* kwnames) {
  /* parse arguments */
  PyObject* argv[1];
  if (!py::parse_args(full_name, kPatternParams, args, nargs, kwnames, argv))
    return nullptr;
  /* borrow */
  SharedDAG dag(self);
  if (!dag)
    return nullptr;
  /* convert */
  const auto pattern = py::str_arg(argv[0], "pattern");
  if (!pattern)
    return nullptr;
  /* match with the lock released; the pattern's text is owned by argv[0], which outlives this */
  const auto ids = py::without_gil([&] { return match(*dag, *pattern); });
  /* build the result */
  if (!ids)
    return into_pyerr(ids.error());
  return node_id_list(*ids).release();
}

PyObject* nodes_matching_regex(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
  return select_nodes("DAG.nodes_matching_regex()", &torvex::nodes_matching_regex, self, args,
                      nargs, kwnames);
}

PyObject* nodes_matching_glob(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
  return select_nodes("DAG.nodes_matching_glob()", &torvex::nodes_matching_glob, self, args, nargs,
                      kwnames);
}

const py::BlockRegistrar kMatchingBlock{
    "DAG",
    {.methods = {
         py::method<nodes_matching_regex>(
             "nodes_matching_regex",
             "nodes_matching_regex($self, pattern)\n--\n\n"
             "Return nodes whose names match the regex pattern.\n\n"
             "Args:\n    pattern: A regular expression pattern.\n\n"
             "Returns:\n    List of NodeId for matching nodes.\n\n"
             "Raises:\n    GraphError: If the regex pattern is invalid."),
         py::method<nodes_matching_glob>(
             "nodes_matching_glob",
             "nodes_matching_glob($self, pattern)\n--\n\n"
             "Return nodes whose names match a glob pattern (* and ? wildcards).\n\n"
             "Args:\n    pattern: A glob pattern (e.g., \"task_*\", \"node_?\").\n\n"
             "Returns:\n    List of NodeId for matching nodes.\n\n"
             "Raises:\n    GraphError: If the pattern is invalid."),
     }}};

}  // namespace
}  // namespace torvex::binding
