#include "node_sequence.hpp"

#include "exceptions.hpp"
#include "interrupt.hpp"

namespace torvex::binding {
namespace {

// collections.abc.Sequence, looked up once and kept for the process. Borrowed; null with the
// error set when the lookup fails. A plain static guarded by the interpreter lock: a C++ static
// initialiser could deadlock should the import let another thread run.
PyObject* sequence_abc() {
  static PyObject* abc = nullptr;
  if (abc != nullptr)
    return abc;
  py::Ref module = py::Ref::steal(PyImport_ImportModule("collections.abc"));
  if (!module)
    return nullptr;
  py::Ref found = py::Ref::steal(PyObject_GetAttrString(module.get(), "Sequence"));
  if (!found)
    return nullptr;
  if (abc == nullptr)
    abc = found.release();
  return abc;
}

// Whether `obj` may be taken as a sequence: a list or tuple, or a registered Sequence.
// -1 with the error set when the check itself fails.
int is_sequence(PyObject* obj) {
  if (PyList_Check(obj) || PyTuple_Check(obj))
    return 1;
  PyObject* abc = sequence_abc();
  if (abc == nullptr)
    return -1;
  return PyObject_IsInstance(obj, abc);
}

std::optional<std::vector<NodeArg>> fail(const char* param) {
  py::argument_error(param);
  return std::nullopt;
}

}  // namespace

std::optional<std::vector<NodeArg>> node_args(PyObject* obj, const char* param) {
  if (PyUnicode_Check(obj)) {
    py::type_error("Can't extract `str` to `Vec`");
    return fail(param);
  }
  const int sequence = is_sequence(obj);
  if (sequence < 0)
    return fail(param);
  if (sequence == 0) {
    py::conversion_error(obj, "Sequence");
    return fail(param);
  }

  std::vector<NodeArg> args;
  // The length is only a hint; a sequence that cannot tell it is still iterated. An error that
  // is no Exception (the KeyboardInterrupt of a signal handler, SystemExit) stops the call.
  const Py_ssize_t size = PySequence_Size(obj);
  if (size < 0) {
    if (!PyErr_ExceptionMatches(PyExc_Exception))
      return std::nullopt;
    PyErr_Clear();
  } else {
    args.reserve(static_cast<std::size_t>(size));
  }
  py::Ref iterator = py::Ref::steal(PyObject_GetIter(obj));
  if (!iterator)
    return fail(param);
  while (py::Ref item = py::Ref::steal(PyIter_Next(iterator.get()))) {
    interrupt::poll();
    auto arg = extract_node_arg(item.get());
    if (!arg)
      return fail(param);
    args.push_back(std::move(*arg));
  }
  if (PyErr_Occurred())
    return fail(param);
  return args;
}

std::optional<std::vector<std::string>> arg_names(const std::vector<NodeArg>& args,
                                                  const GraphStore& graph) {
  std::vector<std::string> names;
  names.reserve(args.size());
  for (const NodeArg& arg : args) {
    interrupt::poll();
    Result<std::string_view> name = into_name(arg, graph);
    if (!name) {
      into_pyerr(name.error());
      return std::nullopt;
    }
    names.emplace_back(*name);
  }
  return names;
}

}  // namespace torvex::binding
