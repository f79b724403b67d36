// The file forms of a graph: JSON text, the binary form in memory and in files, DOT and Mermaid.
//
//   class DAG:
//       def to_json(self, payload_serializer=None) -> str: ...  # GraphError: NaN/inf weight
//                                                                # or a payload nested too deep
//       @classmethod
//       def from_json(cls, json_str: str, payload_deserializer=None) -> DAG: ...
//       def to_dot(self, node_attrs=None) -> str: ...  # node_attrs(name, payload) -> str/None
//       def to_mermaid(self) -> str: ...
//       def to_bytes(self, payload_serializer=None) -> bytes: ...  # GraphError: payload too deep
//       @classmethod
//       def from_bytes(cls, data: bytes, payload_deserializer=None) -> DAG: ...
//       def save(self, path: str, payload_serializer=None) -> None: ...  # as to_bytes
//       @classmethod
//       def load(cls, path: str, payload_deserializer=None) -> DAG: ...
//
// The callables run with the interpreter lock held and their failures are swallowed, short of
// a KeyboardInterrupt (json_convert.hpp). Only save releases the lock, around its file work: it
// opens the file, converts the payloads with the lock, then writes without it. load releases it
// only while it waits for a rewrite in place by another process or thread. A signal that
// interrupts a file operation of save or load runs the Python signal handlers; the operation is
// retried unless a handler raised, and then the method ends with that exception alone.
// Metadata is never written; loaded graphs have none.
#include "graph/serialization.hpp"

#include <cstring>
#include <functional>
#include <string>

#include "dag_object.hpp"
#include "exceptions.hpp"
#include "json_convert.hpp"

namespace torvex::binding {
namespace {

using Writer = PayloadWriter<PyNodePayload>;
using Reader = PayloadReader<PyNodePayload>;

// The hooks hold the callable borrowed: it is an argument of the running call, so it lives
// until the method returns. Absent (None or omitted) means no hook.
Writer writer_hook(PyObject* serializer, PayloadForm form) {
  if (py::is_absent(serializer))
    return {};
  return [serializer, form](const PyNodePayload& node) {
    return serialize_payload(node, serializer, form);
  };
}

Reader reader_hook(PyObject* deserializer) {
  if (py::is_absent(deserializer))
    return {};
  return
      [deserializer](const JsonValue& value) { return deserialize_payload(value, deserializer); };
}

// How save and load wait on files: a signal that interrupts a system call runs the Python
// signal handlers, as the interpreter's own file objects do (with the lock taken back for
// them when it was released), and the call is retried unless a handler raised.
class FileWaits {
 public:
  // `release_lock`: blocking steps run with the interpreter lock released. Waits for another
  // process's or thread's file lock release it in any case: the holder may need it to go on.
  explicit FileWaits(bool release_lock) {
    const auto released = [](const std::function<void()>& step) { py::without_gil(step); };
    if (release_lock)
      access_.blocking = released;
    else
      access_.waiting = released;
    access_.interrupted = [this] {
      return py::with_gil([&] {
        if (PyErr_CheckSignals() == 0)
          return true;
        handler_raised_ = true;
        return false;
      });
    };
  }
  FileWaits(const FileWaits&) = delete;
  FileWaits& operator=(const FileWaits&) = delete;

  const FileAccess& access() const { return access_; }
  // Whether a signal handler's exception is pending, which replaces the method's own result.
  bool handler_raised() const { return handler_raised_; }

 private:
  FileAccess access_;
  bool handler_raised_ = false;
};

// A new, empty DAG object for a loader to fill: the object holds its graph by value, so the
// loaders use the core's readers that fill a graph in place.
template <class Build>
PyObject* load_into_new_dag(Build&& build, const FileWaits* waits = nullptr) {
  py::Ref object = py::Ref::steal(py::make<PyDAG>());
  if (!object)
    return nullptr;
  // Nobody else can see the object yet, so no borrow is needed.
  Status status = build(py::value_of<PyDAG>(object.get()));
  if (waits != nullptr && waits->handler_raised())
    return nullptr;
  if (!status)
    return into_pyerr(status.error());  // the partial graph goes with the object
  return object.release();
}

PyObject* text_result(const std::string& text) {
  return py::str(text).release();
}

// --- JSON ----------------------------------------------------------------------------------

constexpr py::Param kToJsonParams[] = {py::optional("payload_serializer")};

PyObject* to_json(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* argv[1];
  if (!py::parse_args("DAG.to_json()", kToJsonParams, args, nargs, kwnames, argv))
    return nullptr;
  SharedDAG dag(self);
  if (!dag)
    return nullptr;
  // An edge weight the document cannot hold, or a payload nested deeper than its reader admits,
  // refuses the whole graph.
  const Writer hook = writer_hook(argv[0], kDocumentPayloads);
  Result<std::string> text = torvex::to_json(*dag, hook);
  if (!text)
    return into_pyerr(text.error());
  return text_result(*text);
}

constexpr py::Param kFromJsonParams[] = {py::required("json_str"),
                                         py::optional("payload_deserializer")};

PyObject* from_json(PyObject* /*cls*/, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* argv[2];
  if (!py::parse_args("DAG.from_json()", kFromJsonParams, args, nargs, kwnames, argv))
    return nullptr;
  auto text = py::str_arg(argv[0], "json_str");
  if (!text)
    return nullptr;
  const Reader hook = reader_hook(argv[1]);
  return load_into_new_dag([&](CoreDAG& dag) { return from_json_into(*text, dag, hook); });
}

// --- DOT and Mermaid -------------------------------------------------------------------------

// node_attrs(name, payload or None): a str is the attribute text; None, any other result or
// an exception means a plain line.
std::optional<std::string> node_attributes(PyObject* node_attrs, std::string_view name,
                                           const PyNodePayload& node) {
  py::Ref callable = py::Ref::borrow(node_attrs);
  py::Ref payload = py::Ref::borrow(node.payload ? node.payload.get() : Py_None);
  py::Ref name_object = py::str(name);
  py::Ref result;
  if (name_object)
    result = call(callable.get(), {name_object.get(), payload.get()});
  std::optional<std::string> text;
  if (result && PyUnicode_Check(result.get())) {
    if (auto utf8 = py::utf8(result.get()))
      text.emplace(*utf8);
  }
  py::drop_callback_error();
  return text;
}

constexpr py::Param kToDotParams[] = {py::optional("node_attrs")};

PyObject* to_dot(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* argv[1];
  if (!py::parse_args("DAG.to_dot()", kToDotParams, args, nargs, kwnames, argv))
    return nullptr;
  SharedDAG dag(self);
  if (!dag)
    return nullptr;
  NodeAttrHook<PyNodePayload> hook;
  if (PyObject* node_attrs = argv[0]; !py::is_absent(node_attrs)) {
    hook = [node_attrs](std::string_view name, const PyNodePayload& node) {
      return node_attributes(node_attrs, name, node);
    };
  }
  return text_result(torvex::to_dot_with(*dag, hook));
}

PyObject* to_mermaid(PyObject* self) {
  SharedDAG dag(self);
  if (!dag)
    return nullptr;
  return text_result(torvex::to_mermaid(*dag));
}

// --- the binary form -------------------------------------------------------------------------

constexpr py::Param kToBytesParams[] = {py::optional("payload_serializer")};

// Without payloads the size is known in advance, so the bytes object is written in place.
PyObject* bytes_without_payloads(const CoreDAG& dag) {
  const std::size_t size = bincode_size(dag);
  py::Ref bytes = py::Ref::steal(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size)));
  if (!bytes)
    return nullptr;
  char* buffer = PyBytes_AsString(bytes.get());
  std::memset(buffer, 0, size);
  Status status = to_bincode_writer(dag, std::span<char>(buffer, size));
  if (!status) {
    return py::raise(PyExc_RuntimeError, "Bincode write error: " + status.error().display());
  }
  return bytes.release();
}

PyObject* to_bytes(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* argv[1];
  if (!py::parse_args("DAG.to_bytes()", kToBytesParams, args, nargs, kwnames, argv))
    return nullptr;
  SharedDAG dag(self);
  if (!dag)
    return nullptr;
  if (py::is_absent(argv[0]))
    return bytes_without_payloads(*dag);
  const Writer hook = writer_hook(argv[0], kBinaryPayloads);
  const Result<std::string> form = torvex::to_bincode(*dag, hook);
  if (!form)
    return into_pyerr(form.error());
  return PyBytes_FromStringAndSize(form->data(), static_cast<Py_ssize_t>(form->size()));
}

constexpr py::Param kFromBytesParams[] = {py::required("data"),
                                          py::optional("payload_deserializer")};

PyObject* from_bytes(PyObject* /*cls*/, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames) {
  PyObject* argv[2];
  if (!py::parse_args("DAG.from_bytes()", kFromBytesParams, args, nargs, kwnames, argv))
    return nullptr;
  // Only bytes: a bytearray could be resized by a deserializer while we read it.
  if (!PyBytes_Check(argv[0])) {
    py::conversion_error(argv[0], "PyBytes");
    return py::argument_error("data");
  }
  const py::Ref data = py::Ref::borrow(argv[0]);
  char* buffer = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(data.get(), &buffer, &size) < 0)
    return nullptr;
  const std::span<const std::uint8_t> input(reinterpret_cast<const std::uint8_t*>(buffer),
                                            static_cast<std::size_t>(size));
  const Reader hook = reader_hook(argv[1]);
  return load_into_new_dag([&](CoreDAG& dag) { return from_bincode_into(input, dag, hook); });
}

// --- files -----------------------------------------------------------------------------------

constexpr py::Param kSaveParams[] = {py::required("path"), py::optional("payload_serializer")};

PyObject* save(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* argv[2];
  if (!py::parse_args("DAG.save()", kSaveParams, args, nargs, kwnames, argv))
    return nullptr;
  SharedDAG dag(self);
  if (!dag)
    return nullptr;
  auto path_text = py::str_arg(argv[0], "path");
  if (!path_text)
    return nullptr;
  const std::string path(*path_text);
  const Writer hook = writer_hook(argv[1], kBinaryPayloads);
  FileWaits waits(/*release_lock=*/true);
  const Status status = torvex::to_bincode_file(*dag, path, hook, waits.access());
  if (waits.handler_raised())
    return nullptr;
  if (!status)
    return into_pyerr(status.error());
  return py::none();
}

constexpr py::Param kLoadParams[] = {py::required("path"), py::optional("payload_deserializer")};

PyObject* load(PyObject* /*cls*/, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* argv[2];
  if (!py::parse_args("DAG.load()", kLoadParams, args, nargs, kwnames, argv))
    return nullptr;
  auto path_text = py::str_arg(argv[0], "path");
  if (!path_text)
    return nullptr;
  const std::string path(*path_text);
  const Reader hook = reader_hook(argv[1]);
  FileWaits waits(/*release_lock=*/false);
  return load_into_new_dag(
      [&](CoreDAG& dag) { return from_bincode_file_into(path, dag, hook, waits.access()); },
      &waits);
}

const py::BlockRegistrar kSerializationBlock{
    "DAG",
    {.methods = {
         py::method<to_json>("to_json",
                             "to_json($self, payload_serializer=None)\n--\n\n"
                             "Serialize the DAG to a JSON string."),
         py::class_method<from_json>("from_json",
                                     "from_json($cls, json_str, payload_deserializer=None)\n--\n\n"
                                     "Deserialize a DAG from a JSON string."),
         py::method<to_dot>("to_dot",
                            "to_dot($self, node_attrs=None)\n--\n\n"
                            "Export the DAG in Graphviz DOT format."),
         py::method<to_mermaid>("to_mermaid",
                                "to_mermaid($self)\n--\n\n"
                                "Export the DAG in Mermaid diagram format."),
         py::method<to_bytes>("to_bytes",
                              "to_bytes($self, payload_serializer=None)\n--\n\n"
                              "Serialize the DAG to a binary (bincode) byte string."),
         py::class_method<from_bytes>("from_bytes",
                                      "from_bytes($cls, data, payload_deserializer=None)\n--\n\n"
                                      "Deserialize a DAG from a binary (bincode) byte string."),
         py::method<save>("save",
                          "save($self, path, payload_serializer=None)\n--\n\n"
                          "Save the DAG to a file in binary format. An existing file is "
                          "replaced only once the new one is complete, but overwritten in place "
                          "when it has other hard links, its directory takes no new file, or "
                          "its owner cannot be kept."),
         py::class_method<load>("load",
                                "load($cls, path, payload_deserializer=None)\n--\n\n"
                                "Load a DAG from a binary file using memory-mapped I/O."),
     }}};

}  // namespace
}  // namespace torvex::binding
