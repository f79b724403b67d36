// Scheduling result classes. Placeholder: the classes exist with their intrinsic behaviour
// (frozen, no constructor from Python); their fields, reprs and the DAG scheduling methods
// come with the scheduling family.
#include "framework/framework.hpp"

namespace torvex::binding {
namespace {

struct PyScheduledNode {
  struct Value {};
  static constexpr bool kFrozen = true;
  static constexpr const char* kName = "ScheduledNode";
};
struct PyExecutionStep {
  struct Value {};
  static constexpr bool kFrozen = true;
  static constexpr const char* kName = "ExecutionStep";
};
struct PyExecutionPlan {
  struct Value {};
  static constexpr bool kFrozen = true;
  static constexpr const char* kName = "ExecutionPlan";
};

const py::ClassRegistrar<PyScheduledNode> kScheduledNodeClass{{}};
const py::ClassRegistrar<PyExecutionStep> kExecutionStepClass{{}};
const py::ClassRegistrar<PyExecutionPlan> kExecutionPlanClass{{}};

}  // namespace
}  // namespace torvex::binding
