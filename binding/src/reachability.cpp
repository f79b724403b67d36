// Reachability index class; its methods come with the reachability family.
#include "framework/framework.hpp"

namespace torvex::binding {
namespace {

struct PyReachabilityIndex {
  struct Value {};
  static constexpr bool kFrozen = false;
  static constexpr const char* kName = "ReachabilityIndex";
};
const py::ClassRegistrar<PyReachabilityIndex> kReachabilityIndexClass{
    {.doc = "Precomputed reachability index for O(1) ancestor/descendant queries.\n\n"
            "Build once with `DAG.build_reachability_index()`, then query with\n"
            "`can_reach()`, `reachable_from()`, and `ancestors_of()`.\n\n"
            "Note: The index becomes stale if the DAG is mutated after building."}};

}  // namespace
}  // namespace torvex::binding
