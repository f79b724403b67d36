// Scheduling: priority-driven orders, bottom levels, the critical path and execution plans, and
// the three frozen plan classes. Every DAG method computes with the interpreter lock released.
//
//   class DAG:
//       def topological_sort_priority(self, priorities=None) -> list[NodeId]: ...
//       def topological_levels_priority(self, priorities=None) -> list[list[NodeId]]: ...
//       def execution_plan(self, costs=None) -> ExecutionPlan: ...
//       def execution_plan_constrained(self, max_workers, costs=None) -> ExecutionPlan: ...
//       def bottom_levels(self, costs=None) -> dict[str, float]: ...
//       def critical_path(self, costs=None) -> tuple[list[NodeId], float]: ...
//
//   class ScheduledNode:      # frozen snapshots; no constructor from Python
//       node: NodeId          # a new NodeId on every read
//       start_time: float; duration: float
//   class ExecutionStep:
//       step_index: int
//       nodes: list[ScheduledNode]        # the same list on every read
//   class ExecutionPlan:
//       steps: list[ExecutionStep]        # the same list on every read
//       total_nodes: int; max_parallelism: int; estimated_makespan: float
//       critical_path: list[NodeId] | None
//
// The reprs read the lists' current lengths: the lists are plain Python lists a caller may edit.
#include "graph/scheduling.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "costs.hpp"
#include "dag_object.hpp"
#include "exceptions.hpp"
#include "node_objects.hpp"
#include "serialization/number_text.hpp"

namespace torvex::binding {
namespace {

// --- result classes ----------------------------------------------------------------------------

struct ScheduledNodeValue {
  std::string name;
  NodeIndex index = 0;
  double start_time = 0.0;
  double duration = 0.0;
};
struct PyScheduledNode {
  using Value = ScheduledNodeValue;
  static constexpr bool kFrozen = true;
  static constexpr const char* kName = "ScheduledNode";
};

struct ExecutionStepValue {
  std::size_t step_index = 0;
  py::Ref nodes;  // list of ScheduledNode
};
struct PyExecutionStep {
  using Value = ExecutionStepValue;
  static constexpr bool kFrozen = true;
  static constexpr const char* kName = "ExecutionStep";
  // The list is the caller's to edit, so it may come to hold the step itself.
  static int traverse(const Value& value, visitproc visit, void* arg) noexcept {
    return py::visit_ref(value.nodes, visit, arg);
  }
};

struct ExecutionPlanValue {
  py::Ref steps;  // list of ExecutionStep
  std::size_t total_nodes = 0;
  std::size_t max_parallelism = 0;
  double estimated_makespan = 0.0;
  py::Ref critical_path;  // list of NodeId, or None
};
struct PyExecutionPlan {
  using Value = ExecutionPlanValue;
  static constexpr bool kFrozen = true;
  static constexpr const char* kName = "ExecutionPlan";
  static int traverse(const Value& value, visitproc visit, void* arg) noexcept {
    if (const int stop = py::visit_ref(value.steps, visit, arg))
      return stop;
    return py::visit_ref(value.critical_path, visit, arg);
  }
};

template <class C, auto Field>
PyObject* count_getter(PyObject* self) {
  return py::integer(py::value_of<C>(self).*Field).release();
}

template <class C, auto Field>
PyObject* float_getter(PyObject* self) {
  return py::float_object(py::value_of<C>(self).*Field).release();
}

// A read-only member over a py::Ref field of C's value (`field_offset` within the value):
// CPython reads the object pointer there, so every read returns the stored object itself.
template <class C>
constexpr PyMemberDef object_member(const char* name, std::size_t field_offset) {
  static_assert(sizeof(py::Ref) == sizeof(PyObject*));
  return {name, Py_T_OBJECT_EX,
          static_cast<Py_ssize_t>(offsetof(py::Layout<C>, value) + field_offset), Py_READONLY,
          nullptr};
}

// The length of a list that a caller may have changed, or -1 with an error set.
Py_ssize_t current_length(const py::Ref& list) {
  return PyList_Size(list.get());
}

PyObject* scheduled_node_node(PyObject* self) {
  const ScheduledNodeValue& value = py::value_of<PyScheduledNode>(self);
  return make_node_id(value.name, value.index).release();
}

PyObject* scheduled_node_repr(PyObject* self) {
  const ScheduledNodeValue& value = py::value_of<PyScheduledNode>(self);
  const std::string text = "ScheduledNode(node=" + quoted(value.name) +
                           ", start_time=" + plain_float(value.start_time) +
                           ", duration=" + plain_float(value.duration) + ")";
  return py::str(text).release();
}

PyObject* execution_step_repr(PyObject* self) {
  const ExecutionStepValue& value = py::value_of<PyExecutionStep>(self);
  const Py_ssize_t count = current_length(value.nodes);
  if (count < 0)
    return nullptr;
  const std::string text = "ExecutionStep(step_index=" + std::to_string(value.step_index) +
                           ", nodes_count=" + std::to_string(count) + ")";
  return py::str(text).release();
}

PyObject* execution_plan_critical_path(PyObject* self) {
  return py::new_ref(py::value_of<PyExecutionPlan>(self).critical_path.get());
}

PyObject* execution_plan_repr(PyObject* self) {
  const ExecutionPlanValue& value = py::value_of<PyExecutionPlan>(self);
  const Py_ssize_t count = current_length(value.steps);
  if (count < 0)
    return nullptr;
  const std::string text = "ExecutionPlan(steps=" + std::to_string(count) +
                           ", total_nodes=" + std::to_string(value.total_nodes) +
                           ", max_parallelism=" + std::to_string(value.max_parallelism) +
                           ", estimated_makespan=" + plain_float(value.estimated_makespan) + ")";
  return py::str(text).release();
}

const py::ClassRegistrar<PyScheduledNode> kScheduledNodeClass{{}};
const py::BlockRegistrar kScheduledNodeBlock{
    "ScheduledNode",
    {.getters =
         {py::getter<scheduled_node_node>("node"),
          py::getter<float_getter<PyScheduledNode, &ScheduledNodeValue::start_time>>("start_time"),
          py::getter<float_getter<PyScheduledNode, &ScheduledNodeValue::duration>>("duration")},
     .slots = {py::slot<Py_tp_repr, scheduled_node_repr>()}}};

PyMemberDef kExecutionStepMembers[] = {
    object_member<PyExecutionStep>("nodes", offsetof(ExecutionStepValue, nodes)), {}};
const py::ClassRegistrar<PyExecutionStep> kExecutionStepClass{{}};
const py::BlockRegistrar kExecutionStepBlock{
    "ExecutionStep",
    {.getters = {py::getter<count_getter<PyExecutionStep, &ExecutionStepValue::step_index>>(
         "step_index")},
     .slots = {py::slot<Py_tp_repr, execution_step_repr>(),
               {Py_tp_members, kExecutionStepMembers}}}};

PyMemberDef kExecutionPlanMembers[] = {
    object_member<PyExecutionPlan>("steps", offsetof(ExecutionPlanValue, steps)), {}};
const py::ClassRegistrar<PyExecutionPlan> kExecutionPlanClass{{}};
const py::BlockRegistrar kExecutionPlanBlock{
    "ExecutionPlan",
    {.getters = {py::getter<count_getter<PyExecutionPlan, &ExecutionPlanValue::total_nodes>>(
                     "total_nodes"),
                 py::getter<count_getter<PyExecutionPlan, &ExecutionPlanValue::max_parallelism>>(
                     "max_parallelism"),
                 py::getter<float_getter<PyExecutionPlan, &ExecutionPlanValue::estimated_makespan>>(
                     "estimated_makespan"),
                 py::getter<execution_plan_critical_path>("critical_path")},
     .slots = {py::slot<Py_tp_repr, execution_plan_repr>(),
               {Py_tp_members, kExecutionPlanMembers}}}};

// --- conversion of results ---------------------------------------------------------------------

py::Ref step_object(ExecutionStepResult& step) {
  py::Ref nodes = py::new_list(step.nodes.size());
  if (!nodes)
    return {};
  for (std::size_t i = 0; i < step.nodes.size(); ++i) {
    interrupt::poll();
    ScheduledNodeId& s = step.nodes[i];
    py::Ref node = py::Ref::steal(py::make<PyScheduledNode>(
        ScheduledNodeValue{std::move(s.node.name), s.node.index, s.start_time, s.duration}));
    if (!node)
      return {};
    py::list_set(nodes.get(), i, std::move(node));
  }
  return py::Ref::steal(
      py::make<PyExecutionStep>(ExecutionStepValue{step.step_index, std::move(nodes)}));
}

// The plan as Python objects; the names are moved out of `plan`. Null with an error set.
py::Ref plan_object(ExecutionPlanResult& plan) {
  py::Ref steps = py::new_list(plan.steps.size());
  if (!steps)
    return {};
  for (std::size_t i = 0; i < plan.steps.size(); ++i) {
    py::Ref step = step_object(plan.steps[i]);
    if (!step)
      return {};
    py::list_set(steps.get(), i, std::move(step));
  }
  py::Ref critical_path =
      plan.critical_path ? node_id_list(*plan.critical_path) : py::Ref::borrow(Py_None);
  if (!critical_path)
    return {};
  return py::Ref::steal(py::make<PyExecutionPlan>(
      ExecutionPlanValue{std::move(steps), plan.total_nodes, plan.max_parallelism,
                         plan.estimated_makespan, std::move(critical_path)}));
}

py::Ref level_lists(const std::vector<std::vector<NodeId>>& levels) {
  py::Ref list = py::new_list(levels.size());
  if (!list)
    return {};
  for (std::size_t i = 0; i < levels.size(); ++i) {
    py::Ref level = node_id_list(levels[i]);
    if (!level)
      return {};
    py::list_set(list.get(), i, std::move(level));
  }
  return list;
}

// --- DAG methods -------------------------------------------------------------------------------

constexpr py::Param kPrioritiesParams[] = {py::optional("priorities")};
constexpr py::Param kCostsParams[] = {py::optional("costs")};
constexpr py::Param kConstrainedParams[] = {py::required("max_workers"), py::optional("costs")};

// The shape shared by the methods whose only parameter is a cost or priority map: parse, borrow,
// convert the map, run `compute(dag, map)` without the lock, then `build(result)` with it.
template <class Compute, class Build>
PyObject* with_map(const char* full_name, const py::Param (&params)[1], PyObject* self,
                   PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, Compute compute,
                   Build build) {
  /* parse arguments */
  PyObject* argv[1];
  if (!py::parse_args(full_name, params, args, nargs, kwnames, argv))
    return nullptr;
  /* borrow */
  SharedDAG dag(self);
  if (!dag)
    return nullptr;
  /* convert */
  std::optional<CostMap> values = to_ahash(argv[0], params[0].name);
  if (!values)
    return nullptr;
  /* call the core with the lock released */
  auto result = py::without_gil([&] { return compute(*dag, *values); });
  /* build the result */
  return build(result);
}

PyObject* topological_sort_priority(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames) {
  return with_map(
      "DAG.topological_sort_priority()", kPrioritiesParams, self, args, nargs, kwnames,
      [](const CoreDAG& dag, const CostMap& map) {
        return torvex::topological_sort_priority(dag, map);
      },
      [](const Result<std::vector<NodeId>>& order) -> PyObject* {
        if (!order)
          return into_pyerr(order.error());
        return node_id_list(*order).release();
      });
}

PyObject* topological_levels_priority(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                      PyObject* kwnames) {
  return with_map(
      "DAG.topological_levels_priority()", kPrioritiesParams, self, args, nargs, kwnames,
      [](const CoreDAG& dag, const CostMap& map) {
        return torvex::topological_levels_priority(dag, map);
      },
      [](const Result<std::vector<std::vector<NodeId>>>& levels) -> PyObject* {
        if (!levels)
          return into_pyerr(levels.error());
        return level_lists(*levels).release();
      });
}

PyObject* execution_plan(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
  return with_map(
      "DAG.execution_plan()", kCostsParams, self, args, nargs, kwnames,
      [](const CoreDAG& dag, const CostMap& map) { return torvex::execution_plan(dag, map); },
      [](Result<ExecutionPlanResult>& plan) -> PyObject* {
        if (!plan)
          return into_pyerr(plan.error());
        return plan_object(*plan).release();
      });
}

PyObject* execution_plan_constrained(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames) {
  /* parse arguments */
  PyObject* argv[2];
  if (!py::parse_args("DAG.execution_plan_constrained()", kConstrainedParams, args, nargs, kwnames,
                      argv)) {
    return nullptr;
  }
  /* borrow */
  SharedDAG dag(self);
  if (!dag)
    return nullptr;
  /* convert, in parameter order */
  std::optional<std::uint64_t> max_workers = py::count_arg(argv[0], "max_workers");
  if (!max_workers)
    return nullptr;
  std::optional<CostMap> costs = to_ahash(argv[1], "costs");
  if (!costs)
    return nullptr;
  /* call the core with the lock released */
  Result<ExecutionPlanResult> plan = py::without_gil([&] {
    return torvex::execution_plan_constrained(*dag, static_cast<std::size_t>(*max_workers), *costs);
  });
  /* build the result */
  if (!plan)
    return into_pyerr(plan.error());
  return plan_object(*plan).release();
}

PyObject* bottom_levels(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) {
  return with_map(
      "DAG.bottom_levels()", kCostsParams, self, args, nargs, kwnames,
      [](const CoreDAG& dag, const CostMap& map) { return torvex::bottom_levels(dag, map); },
      [](const std::vector<std::pair<std::string, double>>& levels) -> PyObject* {
        py::Ref dict = py::Ref::steal(PyDict_New());
        if (!dict)
          return nullptr;
        for (const auto& [name, value] : levels) {
          interrupt::poll();
          py::Ref key = py::str(name);
          py::Ref number = py::float_object(value);
          if (!key || !number || PyDict_SetItem(dict.get(), key.get(), number.get()) < 0)
            return nullptr;
        }
        return dict.release();
      });
}

PyObject* critical_path(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) {
  return with_map(
      "DAG.critical_path()", kCostsParams, self, args, nargs, kwnames,
      [](const CoreDAG& dag, const CostMap& map) { return torvex::critical_path(dag, map); },
      [](const Result<NamedCriticalPath>& found) -> PyObject* {
        if (!found)
          return into_pyerr(found.error());
        py::Ref path = node_id_list(found->path);
        if (!path)
          return nullptr;
        py::Ref length = py::float_object(found->length);
        if (!length)
          return nullptr;
        py::Ref pair = py::new_tuple(2);
        if (!pair)
          return nullptr;
        py::tuple_set(pair.get(), 0, std::move(path));
        py::tuple_set(pair.get(), 1, std::move(length));
        return pair.release();
      });
}

const py::BlockRegistrar kSchedulingBlock{
    "DAG",
    {.methods = {
         py::method<topological_sort_priority>(
             "topological_sort_priority",
             "topological_sort_priority($self, priorities=None)\n--\n\n"
             "Return nodes in topological order, preferring higher-priority nodes first.\n\n"
             "Args:\n"
             "    priorities: Optional dict mapping node names to priority values.\n"
             "        Higher priority = earlier in output. Missing nodes default to 0.0.\n\n"
             "Raises:\n"
             "    CycleError: If the graph contains cycles."),
         py::method<topological_levels_priority>(
             "topological_levels_priority",
             "topological_levels_priority($self, priorities=None)\n--\n\n"
             "Return nodes grouped by topological level, sorted within each level by "
             "priority.\n\n"
             "Args:\n"
             "    priorities: Optional dict mapping node names to priority values.\n"
             "        Higher priority = earlier within each level. Missing nodes default to "
             "0.0.\n\n"
             "Raises:\n"
             "    CycleError: If the graph contains cycles."),
         py::method<execution_plan>(
             "execution_plan",
             "execution_plan($self, costs=None)\n--\n\n"
             "Compute an execution plan with unlimited parallelism.\n\n"
             "Args:\n"
             "    costs: Optional dict mapping node names to duration/cost values.\n"
             "        Missing nodes default to 1.0.\n\n"
             "Returns:\n"
             "    ExecutionPlan with steps, timing, and critical path information.\n\n"
             "Raises:\n"
             "    CycleError: If the graph contains cycles."),
         py::method<execution_plan_constrained>(
             "execution_plan_constrained",
             "execution_plan_constrained($self, max_workers, costs=None)\n--\n\n"
             "Compute a resource-constrained execution plan.\n\n"
             "Args:\n"
             "    max_workers: Maximum number of concurrent workers.\n"
             "    costs: Optional dict mapping node names to duration/cost values.\n"
             "        Missing nodes default to 1.0.\n\n"
             "Returns:\n"
             "    ExecutionPlan with steps, timing, and critical path information.\n\n"
             "Raises:\n"
             "    CycleError: If the graph contains cycles."),
         py::method<bottom_levels>(
             "bottom_levels",
             "bottom_levels($self, costs=None)\n--\n\n"
             "Compute bottom levels for all nodes.\n\n"
             "Args:\n"
             "    costs: Optional dict mapping node names to duration/cost values.\n"
             "        Missing nodes default to 1.0.\n\n"
             "Returns:\n"
             "    Dict mapping node names to their bottom level values.\n\n"
             "Raises:\n"
             "    CycleError: If the graph contains cycles."),
         py::method<critical_path>(
             "critical_path",
             "critical_path($self, costs=None)\n--\n\n"
             "Find the critical path through the DAG.\n\n"
             "Args:\n"
             "    costs: Optional dict mapping node names to duration/cost values.\n"
             "        Missing nodes default to 1.0.\n\n"
             "Returns:\n"
             "    Tuple of (list of NodeId on the critical path, total cost).\n\n"
             "Raises:\n"
             "    CycleError: If the graph contains cycles."),
     }}};

}  // namespace
}  // namespace torvex::binding
