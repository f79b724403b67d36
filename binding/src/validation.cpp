// The acyclicity check.
//
//   class DAG:
//       def validate(self) -> bool: ...   # True, or CycleError; the lock is released meanwhile
#include "dag_object.hpp"
#include "exceptions.hpp"

namespace torvex::binding {
namespace {

PyObject* validate(const CoreDAG& dag) {
  Status status = py::without_gil([&] { return dag.validate(); });
  if (!status)
    return into_pyerr(status.error());
  return py::boolean(true);
}

const py::BlockRegistrar kValidationBlock{
    "DAG",
    {.methods = {py::method<with_shared<validate>>(
         "validate",
         "validate($self)\n--\n\n"
         "Validate the graph has no cycles.\n\n"
         "Returns:\n    True if the graph is a valid DAG.\n\n"
         "Raises:\n    CycleError: If cycles are detected, with details about cycle members.")}}};

}  // namespace
}  // namespace torvex::binding
