// Cost and priority maps from Python.
//
//   def to_ahash(obj, param) -> dict[str, float]:
//       if obj is None: return {}
//       if not isinstance(obj, dict): raise TypeError(f"argument '{param}': ...")
//       return {str(k): float(v) for k, v in obj.items()}   # keys must be str
#include "costs.hpp"

#include <string>
#include <utility>
#include <vector>

#include "interrupt.hpp"

namespace torvex::binding {

std::optional<CostMap> to_ahash(PyObject* obj, const char* param) {
  CostMap map;
  if (py::is_absent(obj))
    return map;
  if (!py::dict_arg(obj, param))
    return std::nullopt;

  // Take every entry first: a value's __float__ may change the dict, which must not disturb the
  // walk or free the objects still to be read.
  std::vector<std::pair<py::Ref, py::Ref>> entries;
  entries.reserve(static_cast<std::size_t>(PyDict_Size(obj)));
  Py_ssize_t pos = 0;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  while (PyDict_Next(obj, &pos, &key, &value)) {
    interrupt::poll();  // a dict may name every node of a large graph
    entries.emplace_back(py::Ref::borrow(key), py::Ref::borrow(value));
  }

  map.reserve(entries.size());
  for (const auto& [k, v] : entries) {
    interrupt::poll();
    if (!PyUnicode_Check(k.get())) {
      py::conversion_error(k.get(), "PyString");
      py::argument_error(param);
      return std::nullopt;
    }
    auto name = py::utf8(k.get());
    if (!name) {
      py::argument_error(param);
      return std::nullopt;
    }
    auto number = py::float_arg(v.get(), param);
    if (!number)
      return std::nullopt;
    map.insert_or_assign(std::string(*name), *number);
  }
  return map;
}

}  // namespace torvex::binding
