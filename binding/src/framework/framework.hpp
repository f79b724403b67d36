// The binding framework: a thin layer over the CPython limited API (3.12).
//
// Pieces, each in its own header:
//   ref.hpp      Ref (owned reference, RAII) and new_ref / none / boolean; the only place that
//                touches reference counts, besides type deallocators.
//   gil.hpp      AllowThreads / without_gil (release the interpreter lock around native work),
//                release_later and DeferredRef (drop references safely without the lock),
//                take_lock / calling_python (threads CPython ends at exit wait instead of
//                unwinding), signal_raised (the interrupt check of every call).
//   failure.hpp  raise / type_error / conversion_error / argument_error, Panic (internal
//                invariant failures -> the panic exception), Guarded<F> (the C++ exception
//                boundary: std::bad_alloc -> MemoryError, anything else -> panic exception).
//   args.hpp     parse_args: the one argument parser of every METH_FASTCALL | METH_KEYWORDS
//                method, with the fixed TypeError texts.
//   convert.hpp  str_arg / list_arg / dict_arg / float_arg / count_arg / ... for parameters
//                (TypeErrors get the "argument '{}': {}" prefix), and result builders.
//   object.hpp   instance layouts, make<C>(...), value_of<C>, the borrow flag and its guards
//                Shared<C> / Exclusive<C>, ClassRegistrar<C>.
//   classes.hpp  per-class registries of method blocks (BlockRegistrar), method / getter /
//                slot table entries, type building.
//
// Writing a DAG method (a new topic file registers its own block; see dag_object.hpp):
//
//   namespace torvex::binding {
//   namespace {
//
//   constexpr py::Param kShortestPathParams[] = {py::required("source"), py::required("target")};
//
//   PyObject* shortest_path(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
//                           PyObject* kwnames) {
//     /* parse arguments */
//     PyObject* argv[2];
//     if (!py::parse_args("DAG.shortest_path()", kShortestPathParams, args, nargs, kwnames, argv))
//       return nullptr;
//     /* borrow (shared; ExclusiveDAG for mutators) */
//     SharedDAG dag(self);
//     if (!dag) return nullptr;
//     /* convert, in parameter order */
//     auto source = node_arg(argv[0], "source");
//     if (!source) return nullptr;
//     auto target = node_arg(argv[1], "target");
//     if (!target) return nullptr;
//     auto source_name = into_name(*source, *dag);
//     if (!source_name) return into_pyerr(source_name.error());
//     auto target_name = into_name(*target, *dag);
//     if (!target_name) return into_pyerr(target_name.error());
//     /* call the core with the lock released: touch no Python object inside */
//     auto path = py::without_gil([&] { return dag->shortest_path(*source_name, *target_name); });
//     /* build the result */
//     if (!path) return into_pyerr(path.error());
//     return node_id_list(dag->graph(), *path).release();
//   }
//
//   const py::BlockRegistrar kPathsBlock{
//       "DAG",
//       {.methods = {py::method<shortest_path>(
//            "shortest_path", "shortest_path($self, source, target)\n--\n\nFind the ...")}}};
//
//   }  // namespace
//   }  // namespace torvex::binding
//
// Rules of the road:
//   - Entry points return a new reference, or null with a Python error set. Never let a Python
//     error and a successful return meet; never touch a Python object inside without_gil.
//   - Methods without parameters take `PyObject* f(PyObject* self)` (METH_NOARGS); static
//     methods use py::static_method, class methods py::class_method (self is the class).
//   - Optional parameters default to null; py::is_absent(arg) is true for null and None.
//   - Core errors become exceptions with into_pyerr (exceptions.hpp), after the lock is back.
//   - Internal invariant failures: py::panic("text") (throws; the boundary raises it).
//   - Long loops call interrupt::poll() (core/src/interrupt.hpp) where an allocation could fail
//     as well: a signal handler that raises stops the call with its exception.
//   - Holding Python objects across calls back into Python: keep a py::Ref to each of them.
//
// A frozen result class with read-only attributes (its own file, e.g. scheduling.cpp):
//
//   struct ScheduledNodeValue { py::Ref name; double start = 0; };
//   struct PyScheduledNode {
//     using Value = ScheduledNodeValue;             // moved into each object
//     static constexpr bool kFrozen = true;          // no borrow flag
//     static constexpr const char* kName = "ScheduledNode";
//   };
//   PyObject* scheduled_node_name(PyObject* self) {
//     return py::new_ref(py::value_of<PyScheduledNode>(self).name.get());
//   }
//   const py::ClassRegistrar<PyScheduledNode> kClass{{.doc = ""}};  // no constructor from Python
//   const py::BlockRegistrar kBlock{
//       "ScheduledNode",
//       {.getters = {py::getter<scheduled_node_name>("name")},
//        .slots = {py::slot<Py_tp_repr, scheduled_node_repr>()}}};
//   // creating one: py::Ref obj = py::Ref::steal(py::make<PyScheduledNode>(std::move(value)));
//
// A non-frozen class (kFrozen = false) gets a borrow flag; its methods take py::Shared<C> or
// py::Exclusive<C> on self instead of value_of<C>. Classes cannot be subclassed and have no
// instance __dict__ or weak-reference slot; a class without a Py_tp_new slot raises
// "No constructor defined for {}".
#pragma once

#include "framework/args.hpp"
#include "framework/classes.hpp"
#include "framework/convert.hpp"
#include "framework/failure.hpp"
#include "framework/gil.hpp"
#include "framework/object.hpp"
#include "framework/python.hpp"
#include "framework/ref.hpp"
