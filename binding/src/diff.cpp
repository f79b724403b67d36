// Diff result class; its fields and the diff method come with the diff family.
#include "framework/framework.hpp"

namespace torvex::binding {
namespace {

struct PyGraphDiff {
  struct Value {};
  static constexpr bool kFrozen = true;
  static constexpr const char* kName = "GraphDiff";
};
const py::ClassRegistrar<PyGraphDiff> kGraphDiffClass{{}};

}  // namespace
}  // namespace torvex::binding
