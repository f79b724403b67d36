// Partition result classes. Placeholder: the classes exist with their intrinsic behaviour
// (frozen, no constructor from Python); their fields, reprs and the DAG partition methods come
// with the partition family.
#include "framework/framework.hpp"

namespace torvex::binding {
namespace {

struct PyPartitionInfo {
  struct Value {};
  static constexpr bool kFrozen = true;
  static constexpr const char* kName = "PartitionInfo";
};
struct PyPartitionResult {
  struct Value {};
  static constexpr bool kFrozen = true;
  static constexpr const char* kName = "PartitionResult";
};

const py::ClassRegistrar<PyPartitionInfo> kPartitionInfoClass{{}};
const py::ClassRegistrar<PyPartitionResult> kPartitionResultClass{{}};

}  // namespace
}  // namespace torvex::binding
