// Reachability index class; its methods come with the reachability family.
#include "framework/framework.hpp"

namespace torvex::binding {
namespace {

struct PyReachabilityIndex {
  struct Value {};
  static constexpr bool kFrozen = false;
  static constexpr const char* kName = "ReachabilityIndex";
};
const py::ClassRegistrar<PyReachabilityIndex> kReachabilityIndexClass{{}};

}  // namespace
}  // namespace torvex::binding
