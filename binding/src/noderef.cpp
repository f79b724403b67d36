// The NodeRef class and node arguments.
//
//   class NodeRef:         # frozen; returned by add_node, add_nodes, node_ref
//       name: str          # "The node's name."
//       epoch: int         # "The creation epoch this ref was minted with."
//       def __repr__(self): return f"NodeRef(name={quoted(name)}, epoch={epoch})"
//       def __str__(self): return self.name
//       def __eq__(self, other): ...  # same class, same name and epoch
//       def __hash__(self): ...       # SipHash-1-3 of (name, epoch), fixed across processes
//
// A node argument is a str (or subclass; its str() is the name) or a NodeRef. A name that
// cannot be encoded in UTF-8 names no node.
#include <string>

#include "exceptions.hpp"
#include "node_objects.hpp"

namespace torvex::binding {
namespace {

constexpr char kEpochField[] = "epoch";
using NodeRefMembers = NameAndNumber<PyNodeRef, &NodeRefValue::epoch, kEpochField, false>;

constexpr const char* kNodeRefDoc =
    "A stable, persistent handle to a node, returned by `add_node`.\n\n"
    "`NodeRef` survives unrelated mutations and is invalidated only when its\n"
    "own node is removed (or removed-and-readded with the same name, which\n"
    "produces a fresh handle with a different `epoch`). Pass it anywhere a\n"
    "`str` name is accepted \xE2\x80\x94 both forms are interchangeable in torvex's API.";

const py::ClassRegistrar<PyNodeRef> kNodeRefClass{{.doc = kNodeRefDoc}};
const py::BlockRegistrar kNodeRefIntrinsics{
    "NodeRef",
    {.slots = {py::slot<Py_tp_richcompare, NodeRefMembers::richcompare>(),
               py::slot<Py_tp_hash, NodeRefMembers::hash>()}}};
const py::BlockRegistrar kNodeRefBlock{
    "NodeRef",
    {.getters = {py::getter<NodeRefMembers::name>("name", "The node's name."),
                 py::getter<NodeRefMembers::number>(
                     "epoch", "The creation epoch this ref was minted with.")},
     .slots = {py::slot<Py_tp_repr, NodeRefMembers::repr>(),
               py::slot<Py_tp_str, NodeRefMembers::name>()}}};

// str(obj) for a str subclass; an Exception in __str__ is reported as unraisable and replaced
// by "<unprintable {} object>". Any other error, such as the KeyboardInterrupt of a signal
// handler that ran inside __str__, stops the whole call (interrupt::Interrupted, the error kept).
py::Ref text_of_str(PyObject* obj) {
  if (py::str_is_own_text(obj))
    return py::Ref::borrow(obj);  // no copy: its str() is the same text
  py::Ref text = py::Ref::steal(PyObject_Str(obj));
  if (text)
    return text;
  if (!PyErr_ExceptionMatches(PyExc_Exception))
    throw interrupt::Interrupted();
  PyErr_WriteUnraisable(obj);
  return py::str("<unprintable " + py::type_name_of(obj) + " object>");
}

}  // namespace

std::optional<std::string_view> lookup_name(PyObject* text, py::Ref& keep) {
  if (auto name = py::utf8(text))
    return name;
  if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError))
    return std::nullopt;
  PyErr_Clear();
  // add_node refuses such text, so no node carries it. Its surrogatepass bytes are no UTF-8
  // either: they match no name (a stand-in such as U+FFFD could name another node), and an error
  // message shows them as U+FFFD per invalid byte.
  keep = py::Ref::steal(PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass"));
  if (!keep)
    return std::nullopt;
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(keep.get(), &data, &size) < 0)
    return std::nullopt;
  return std::string_view(data, static_cast<std::size_t>(size));
}

py::Ref make_node_ref(py::Ref name, std::uint64_t epoch) {
  return py::Ref::steal(py::make<PyNodeRef>(NodeRefValue{std::move(name), epoch}));
}

py::Ref make_node_ref(const NodeHandle& handle) {
  py::Ref name = py::str(handle.name);
  if (!name)
    return {};
  return make_node_ref(std::move(name), handle.epoch);
}

bool naming_runs_python(PyObject* obj) {
  return PyUnicode_Check(obj) && py::str_runs_python(obj);
}

std::optional<NodeArg> extract_node_arg(PyObject* obj) {
  if (PyUnicode_Check(obj)) {
    NodeArg arg;
    arg.text = text_of_str(obj);
    if (!arg.text)
      return std::nullopt;
    py::Ref bytes;
    auto name = lookup_name(arg.text.get(), bytes);
    if (!name)
      return std::nullopt;
    if (bytes)
      arg.text = std::move(bytes);
    arg.name = *name;
    return arg;
  }
  if (py::is_instance<PyNodeRef>(obj)) {
    const NodeRefValue& ref = py::value_of<PyNodeRef>(obj);
    NodeArg arg;
    arg.text = ref.name;
    auto name = py::utf8(arg.text.get());
    if (!name)
      return std::nullopt;
    arg.name = *name;
    arg.epoch = ref.epoch;
    return arg;
  }
  py::type_error("expected str or NodeRef for node identifier");
  return std::nullopt;
}

std::optional<NodeArg> node_arg(PyObject* obj, const char* param) {
  auto arg = extract_node_arg(obj);
  if (!arg)
    py::argument_error(param);
  return arg;
}

std::optional<NodeArg> named_node(PyObject* obj, const char* param, const GraphStore& graph) {
  auto arg = node_arg(obj, param);
  if (!arg)
    return std::nullopt;
  Result<std::string_view> name = into_name(*arg, graph);
  if (!name) {
    into_pyerr(name.error());
    return std::nullopt;
  }
  return arg;
}

std::optional<NodePair> named_nodes(PyObject* const (&objs)[2], const char* first_param,
                                    const char* second_param, const GraphStore& graph) {
  auto first = node_arg(objs[0], first_param);
  if (!first)
    return std::nullopt;
  auto second = node_arg(objs[1], second_param);
  if (!second)
    return std::nullopt;
  for (const NodeArg* arg : {&*first, &*second}) {
    Result<std::string_view> name = into_name(*arg, graph);
    if (!name) {
      into_pyerr(name.error());
      return std::nullopt;
    }
  }
  return NodePair{std::move(*first), std::move(*second)};
}

Result<std::string_view> into_name(const NodeArg& arg, const GraphStore& graph) {
  if (!arg.is_ref())
    return arg.name;
  // The same checks as resolve_ref, without copying the name into a handle.
  const std::optional<NodeIndex> index = graph.find(arg.name);
  if (!index)
    return TorvexError::node_not_found(std::string(arg.name));
  if (graph.epoch(*index) != *arg.epoch)
    return TorvexError::stale_node_ref(std::string(arg.name));
  return arg.name;
}

}  // namespace torvex::binding
