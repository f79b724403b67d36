// Statistics result class; its fields and the stats method come with the statistics family.
#include "framework/framework.hpp"

namespace torvex::binding {
namespace {

struct PyGraphStats {
  struct Value {};
  static constexpr bool kFrozen = true;
  static constexpr const char* kName = "GraphStats";
};
const py::ClassRegistrar<PyGraphStats> kGraphStatsClass{{}};

}  // namespace
}  // namespace torvex::binding
