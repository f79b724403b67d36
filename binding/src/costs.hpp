// Cost and priority maps from Python: {name: number} dicts for the methods that weigh nodes.
#pragma once

#include <optional>

#include "algorithms/costs.hpp"
#include "framework/framework.hpp"

namespace torvex::binding {

// An optional dict parameter (None or omitted: an empty map) as the core's map by name: a dict
// or subclass, str (or subclass) keys, values through Python's float conversion. Every float is
// kept, NaN and infinities included. Nothing, with the error set, on failure: a TypeError behind
// the "argument '{}': {}" prefix naming `param`; other errors (a key with a lone surrogate, a
// value whose __float__ raises something else) pass through as they are.
std::optional<CostMap> to_ahash(PyObject* obj, const char* param);

}  // namespace torvex::binding
