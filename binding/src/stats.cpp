// Graph statistics: DAG.stats and its frozen result class.
//
//   class DAG:
//       def stats(self) -> GraphStats: ...        # computed with the interpreter lock released
//
//   class GraphStats:                             # a snapshot; no constructor from Python
//       node_count: int; edge_count: int; depth: int; width: int; density: float
//       longest_path_length: int; avg_in_degree: float; avg_out_degree: float
//       max_in_degree: int; max_out_degree: int; root_count: int; leaf_count: int
//       is_weakly_connected: bool; component_count: int
//       def to_dict(self) -> dict: ...            # the fourteen attributes by name
//       def __repr__(self) -> str: ...
//           # GraphStats(nodes=3, edges=2, depth=3, width=1, density=0.3333, longest_path=2,
//           #            roots=1, leaves=1, components=1)
#include "graph/stats.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "dag_object.hpp"
#include "exceptions.hpp"

namespace torvex::binding {
namespace {

struct PyGraphStats {
  using Value = GraphStatsResult;
  static constexpr bool kFrozen = true;
  static constexpr const char* kName = "GraphStats";
};

const GraphStatsResult& record(PyObject* self) {
  return py::value_of<PyGraphStats>(self);
}

// --- attributes ------------------------------------------------------------------------------
// One Python object per field; the table drives the getters, to_dict and their order.

py::Ref count_object(std::uint64_t value) {
  return py::integer(value);
}
py::Ref ratio_object(double value) {
  return py::float_object(value);
}
py::Ref flag_object(bool value) {
  return py::Ref::steal(py::boolean(value));
}

template <auto Field>
PyObject* field_getter(PyObject* self) {
  const auto& value = record(self).*Field;
  using T = std::remove_cvref_t<decltype(value)>;
  if constexpr (std::is_same_v<T, bool>)
    return flag_object(value).release();
  else if constexpr (std::is_same_v<T, double>)
    return ratio_object(value).release();
  else
    return count_object(value).release();
}

struct Field {
  const char* name;
  PyObject* (*get)(PyObject*);
};

template <auto F>
constexpr Field field(const char* name) {
  return {name, &field_getter<F>};
}

constexpr Field kFields[] = {
    field<&GraphStatsResult::node_count>("node_count"),
    field<&GraphStatsResult::edge_count>("edge_count"),
    field<&GraphStatsResult::depth>("depth"),
    field<&GraphStatsResult::width>("width"),
    field<&GraphStatsResult::density>("density"),
    field<&GraphStatsResult::longest_path_length>("longest_path_length"),
    field<&GraphStatsResult::avg_in_degree>("avg_in_degree"),
    field<&GraphStatsResult::avg_out_degree>("avg_out_degree"),
    field<&GraphStatsResult::max_in_degree>("max_in_degree"),
    field<&GraphStatsResult::max_out_degree>("max_out_degree"),
    field<&GraphStatsResult::root_count>("root_count"),
    field<&GraphStatsResult::leaf_count>("leaf_count"),
    field<&GraphStatsResult::is_weakly_connected>("is_weakly_connected"),
    field<&GraphStatsResult::component_count>("component_count"),
};

template <std::size_t... I>
std::vector<PyGetSetDef> field_getters(std::index_sequence<I...>) {
  return {py::getter<kFields[I].get>(kFields[I].name)...};
}

PyObject* to_dict(PyObject* self) {
  py::Ref dict = py::Ref::steal(PyDict_New());
  if (!dict)
    return nullptr;
  for (const Field& field : kFields) {
    py::Ref value = py::Ref::steal(field.get(self));
    if (!value || !py::dict_set(dict.get(), field.name, value))
      return nullptr;
  }
  return dict.release();
}

// --- repr ------------------------------------------------------------------------------------

// Fixed notation with four decimals, the exact binary value rounded half to even, independent
// of the C locale.
std::string four_decimals(double value) {
  if (std::isnan(value))
    return "NaN";
  char buffer[400];  // room for the largest finite double in fixed notation
  const auto [end, error] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 4);
  if (error != std::errc())
    py::panic("density does not fit its text buffer");
  return std::string(buffer, end);
}

PyObject* graph_stats_repr(PyObject* self) {
  const GraphStatsResult& s = record(self);
  const std::string text =
      "GraphStats(nodes=" + std::to_string(s.node_count) +
      ", edges=" + std::to_string(s.edge_count) + ", depth=" + std::to_string(s.depth) +
      ", width=" + std::to_string(s.width) + ", density=" + four_decimals(s.density) +
      ", longest_path=" + std::to_string(s.longest_path_length) +
      ", roots=" + std::to_string(s.root_count) + ", leaves=" + std::to_string(s.leaf_count) +
      ", components=" + std::to_string(s.component_count) + ")";
  return py::str(text).release();
}

// --- DAG.stats -------------------------------------------------------------------------------

PyObject* stats(PyObject* self) {
  SharedDAG dag(self);
  if (!dag)
    return nullptr;
  Result<GraphStatsResult> result = py::without_gil([&] { return torvex::stats(*dag); });
  if (!result)
    return into_pyerr(result.error());
  return py::make<PyGraphStats>(*result);
}

const py::ClassRegistrar<PyGraphStats> kGraphStatsClass{{}};
const py::BlockRegistrar kGraphStatsBlock{
    "GraphStats",
    {.methods = {py::method<to_dict>("to_dict", "to_dict($self)\n--\n\n")},
     .getters = field_getters(std::make_index_sequence<std::size(kFields)>()),
     .slots = {py::slot<Py_tp_repr, graph_stats_repr>()}}};

const py::BlockRegistrar kStatsBlock{
    "DAG",
    {.methods = {
         py::method<stats>("stats",
                           "stats($self)\n--\n\n"
                           "Compute comprehensive graph statistics.\n\n"
                           "Returns a GraphStats object with metrics including node/edge counts,\n"
                           "depth, width, density, degree statistics, and connectivity info.")}}};

}  // namespace
}  // namespace torvex::binding
