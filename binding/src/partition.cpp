// Partitioning into k parts by three strategies, and the two frozen result classes. Every DAG
// method computes with the interpreter lock released.
//
//   class DAG:
//       def partition_level_based(self, k, costs=None) -> PartitionResult: ...
//       def partition_balanced(self, k, costs=None) -> PartitionResult: ...
//       def partition_communication_min(self, k, costs=None, max_iterations=10,
//                                       max_imbalance=0.3) -> PartitionResult: ...
//
//   class PartitionInfo:      # frozen snapshots; no constructor from Python
//       partition_id: int
//       node_names: list[str]             # a new list on every read
//       total_cost: float; incoming_cross_edges: int; outgoing_cross_edges: int
//   class PartitionResult:
//       partitions: list[PartitionInfo]   # the same list on every read
//       cross_edge_count: int
//       partition_order: list[list[int]]  # a new list of new lists on every read
//
// Names and waves stay native until read; only `partitions` is a Python list, which a caller
// may edit and whose current length the repr shows.
#include "graph/partition.hpp"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "costs.hpp"
#include "dag_object.hpp"
#include "exceptions.hpp"

namespace torvex::binding {
namespace {

// --- result classes ----------------------------------------------------------------------------

struct PyPartitionInfo {
  using Value = torvex::PartitionInfo;
  static constexpr bool kFrozen = true;
  static constexpr const char* kName = "PartitionInfo";
};

struct PartitionResultValue {
  py::Ref partitions;  // list of PartitionInfo
  std::uint64_t cross_edge_count = 0;
  std::vector<std::vector<std::uint64_t>> partition_order;
};
struct PyPartitionResult {
  using Value = PartitionResultValue;
  static constexpr bool kFrozen = true;
  static constexpr const char* kName = "PartitionResult";
  // The list is the caller's to edit, so it may come to hold the result itself.
  static int traverse(const Value& value, visitproc visit, void* arg) noexcept {
    return py::visit_ref(value.partitions, visit, arg);
  }
};

template <class C, auto Field>
PyObject* count_getter(PyObject* self) {
  return py::integer(py::value_of<C>(self).*Field).release();
}

PyObject* info_total_cost(PyObject* self) {
  return py::float_object(py::value_of<PyPartitionInfo>(self).total_cost).release();
}

PyObject* info_node_names(PyObject* self) {
  const std::vector<std::string>& names = py::value_of<PyPartitionInfo>(self).node_names;
  py::Ref list = py::new_list(names.size());
  if (!list)
    return nullptr;
  for (std::size_t i = 0; i < names.size(); ++i) {
    py::Ref name = py::str(names[i]);
    if (!name)
      return nullptr;
    py::list_set(list.get(), i, std::move(name));
  }
  return list.release();
}

// Fixed notation with two decimals, rounded from the exact binary value, independent of the C
// locale; NaN, inf and -inf spelled out.
std::string two_decimals(double value) {
  if (std::isnan(value))
    return "NaN";
  if (std::isinf(value))
    return value < 0 ? "-inf" : "inf";
  char buffer[400];  // room for the largest finite double in fixed notation
  const auto [end, error] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 2);
  if (error != std::errc())
    py::panic("a part's cost does not fit its text buffer");
  return std::string(buffer, end);
}

PyObject* info_repr(PyObject* self) {
  const torvex::PartitionInfo& info = py::value_of<PyPartitionInfo>(self);
  const std::string text = "PartitionInfo(id=" + std::to_string(info.partition_id) +
                           ", nodes=" + std::to_string(info.node_names.size()) +
                           ", cost=" + two_decimals(info.total_cost) + ")";
  return py::str(text).release();
}

PyObject* result_partition_order(PyObject* self) {
  const auto& waves = py::value_of<PyPartitionResult>(self).partition_order;
  py::Ref list = py::new_list(waves.size());
  if (!list)
    return nullptr;
  for (std::size_t i = 0; i < waves.size(); ++i) {
    py::Ref wave = py::new_list(waves[i].size());
    if (!wave)
      return nullptr;
    for (std::size_t k = 0; k < waves[i].size(); ++k) {
      py::Ref id = py::integer(waves[i][k]);
      if (!id)
        return nullptr;
      py::list_set(wave.get(), k, std::move(id));
    }
    py::list_set(list.get(), i, std::move(wave));
  }
  return list.release();
}

PyObject* result_repr(PyObject* self) {
  const PartitionResultValue& value = py::value_of<PyPartitionResult>(self);
  const Py_ssize_t count = PyList_Size(value.partitions.get());
  if (count < 0)
    return nullptr;
  const std::string text = "PartitionResult(partitions=" + std::to_string(count) +
                           ", cross_edges=" + std::to_string(value.cross_edge_count) + ")";
  return py::str(text).release();
}

// `partitions` is a read-only member: CPython reads the stored list pointer itself.
static_assert(sizeof(py::Ref) == sizeof(PyObject*));
PyMemberDef kPartitionResultMembers[] = {
    {"partitions", Py_T_OBJECT_EX,
     static_cast<Py_ssize_t>(offsetof(py::Layout<PyPartitionResult>, value) +
                             offsetof(PartitionResultValue, partitions)),
     Py_READONLY, nullptr},
    {}};

const py::ClassRegistrar<PyPartitionInfo> kPartitionInfoClass{{}};
const py::BlockRegistrar kPartitionInfoBlock{
    "PartitionInfo",
    {.getters =
         {py::getter<count_getter<PyPartitionInfo, &torvex::PartitionInfo::partition_id>>(
              "partition_id"),
          py::getter<info_node_names>("node_names"), py::getter<info_total_cost>("total_cost"),
          py::getter<count_getter<PyPartitionInfo, &torvex::PartitionInfo::incoming_cross_edges>>(
              "incoming_cross_edges"),
          py::getter<count_getter<PyPartitionInfo, &torvex::PartitionInfo::outgoing_cross_edges>>(
              "outgoing_cross_edges")},
     .slots = {py::slot<Py_tp_repr, info_repr>()}}};

const py::ClassRegistrar<PyPartitionResult> kPartitionResultClass{{}};
const py::BlockRegistrar kPartitionResultBlock{
    "PartitionResult",
    {.getters =
         {py::getter<count_getter<PyPartitionResult, &PartitionResultValue::cross_edge_count>>(
              "cross_edge_count"),
          py::getter<result_partition_order>("partition_order")},
     .slots = {py::slot<Py_tp_repr, result_repr>(), {Py_tp_members, kPartitionResultMembers}}}};

// The result as Python objects; the parts' names and the waves are moved out of `result`.
py::Ref result_object(NamedPartitionResult& result) {
  py::Ref partitions = py::new_list(result.partitions.size());
  if (!partitions)
    return {};
  for (std::size_t i = 0; i < result.partitions.size(); ++i) {
    py::Ref info = py::Ref::steal(py::make<PyPartitionInfo>(std::move(result.partitions[i])));
    if (!info)
      return {};
    py::list_set(partitions.get(), i, std::move(info));
  }
  return py::Ref::steal(py::make<PyPartitionResult>(PartitionResultValue{
      std::move(partitions), result.cross_edge_count, std::move(result.partition_order)}));
}

// --- DAG methods -------------------------------------------------------------------------------

constexpr py::Param kPartitionParams[] = {py::required("k"), py::optional("costs")};
constexpr py::Param kCommunicationParams[] = {py::required("k"), py::optional("costs"),
                                              py::optional("max_iterations"),
                                              py::optional("max_imbalance")};
constexpr std::uint64_t kDefaultMaxIterations = 10;
constexpr double kDefaultMaxImbalance = 0.3;

using Strategy = Result<NamedPartitionResult> (*)(const GraphStore&, std::uint64_t, const CostMap&);

// partition_level_based and partition_balanced share everything but the strategy.
template <Strategy S>
PyObject* partition_by(const char* full_name, PyObject* self, PyObject* const* args,
                       Py_ssize_t nargs, PyObject* kwnames) {
  /* parse arguments */
  PyObject* argv[2];
  if (!py::parse_args(full_name, kPartitionParams, args, nargs, kwnames, argv))
    return nullptr;
  /* borrow */
  SharedDAG dag(self);
  if (!dag)
    return nullptr;
  /* convert, in parameter order */
  std::optional<std::uint64_t> k = py::count_arg(argv[0], "k");
  if (!k)
    return nullptr;
  std::optional<CostMap> costs = to_ahash(argv[1], "costs");
  if (!costs)
    return nullptr;
  /* call the core with the lock released */
  Result<NamedPartitionResult> result = py::without_gil([&] { return S(*dag, *k, *costs); });
  /* build the result */
  if (!result)
    return into_pyerr(result.error());
  return result_object(*result).release();
}

PyObject* partition_level_based(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) {
  return partition_by<&torvex::partition_level_based>("DAG.partition_level_based()", self, args,
                                                      nargs, kwnames);
}

PyObject* partition_balanced(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  return partition_by<&torvex::partition_balanced>("DAG.partition_balanced()", self, args, nargs,
                                                   kwnames);
}

PyObject* partition_communication_min(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                      PyObject* kwnames) {
  /* parse arguments */
  PyObject* argv[4];
  if (!py::parse_args("DAG.partition_communication_min()", kCommunicationParams, args, nargs,
                      kwnames, argv)) {
    return nullptr;
  }
  /* borrow */
  SharedDAG dag(self);
  if (!dag)
    return nullptr;
  /* convert, in parameter order; only an omitted argument takes its default, None does not */
  std::optional<std::uint64_t> k = py::count_arg(argv[0], "k");
  if (!k)
    return nullptr;
  std::optional<CostMap> costs = to_ahash(argv[1], "costs");
  if (!costs)
    return nullptr;
  std::optional<std::uint64_t> max_iterations = kDefaultMaxIterations;
  if (argv[2] != nullptr && !(max_iterations = py::count_arg(argv[2], "max_iterations")))
    return nullptr;
  std::optional<double> max_imbalance = kDefaultMaxImbalance;
  if (argv[3] != nullptr && !(max_imbalance = py::float_arg(argv[3], "max_imbalance")))
    return nullptr;
  /* call the core with the lock released */
  Result<NamedPartitionResult> result = py::without_gil([&] {
    return torvex::partition_communication_min(*dag, *k, *costs, *max_iterations, *max_imbalance);
  });
  /* build the result */
  if (!result)
    return into_pyerr(result.error());
  return result_object(*result).release();
}

const py::BlockRegistrar kPartitionBlock{
    "DAG",
    {.methods = {
         py::method<partition_level_based>(
             "partition_level_based",
             "partition_level_based($self, k, costs=None)\n--\n\n"
             "Partition the DAG using level-based grouping.\n\n"
             "Groups contiguous topological levels into k partitions.\n\n"
             "Args:\n"
             "    k: Number of target partitions.\n"
             "    costs: Optional dict mapping node names to cost values.\n\n"
             "Returns:\n"
             "    PartitionResult with partition info and cross-edge statistics."),
         py::method<partition_balanced>(
             "partition_balanced",
             "partition_balanced($self, k, costs=None)\n--\n\n"
             "Partition the DAG with balanced cost per partition.\n\n"
             "Greedily assigns nodes in topological order to balance total cost.\n\n"
             "Args:\n"
             "    k: Number of target partitions.\n"
             "    costs: Optional dict mapping node names to cost values.\n\n"
             "Returns:\n"
             "    PartitionResult with partition info and cross-edge statistics."),
         py::method<partition_communication_min>(
             "partition_communication_min",
             "partition_communication_min($self, k, costs=None, max_iterations=10, "
             "max_imbalance=0.3)\n--\n\n"
             "Partition the DAG minimizing cross-partition communication.\n\n"
             "Starts from level-based partitioning and iteratively refines to reduce\n"
             "cross-edges while maintaining topological ordering and balance.\n\n"
             "Args:\n"
             "    k: Number of target partitions.\n"
             "    costs: Optional dict mapping node names to cost values.\n"
             "    max_iterations: Maximum refinement iterations. Default 10.\n"
             "    max_imbalance: Maximum allowed cost imbalance ratio. Default 0.3.\n\n"
             "Returns:\n"
             "    PartitionResult with partition info and cross-edge statistics."),
     }}};

}  // namespace
}  // namespace torvex::binding
