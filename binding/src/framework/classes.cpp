// Class registries and type-object construction.
#include "framework/classes.hpp"

#include <functional>
#include <map>
#include <set>

#include "framework/ref.hpp"

namespace torvex::py {
namespace {

// tp_new of every class that Python may not construct.
PyObject* refuse_new(PyTypeObject* type, PyObject* /*args*/, PyObject* /*kwargs*/) {
  Ref name = Ref::steal(PyType_GetName(type));
  if (!name)
    return nullptr;
  PyErr_Format(PyExc_TypeError, "No constructor defined for %U", name.get());
  return nullptr;
}

// Re-raises the pending error as the cause of "An error occurred while initializing class {}".
std::nullptr_t initialization_error(const std::string& name) {
  Ref cause = Ref::steal(PyErr_GetRaisedException());
  raise(PyExc_RuntimeError, "An error occurred while initializing class " + name);
  if (cause) {
    Ref error = Ref::steal(PyErr_GetRaisedException());
    PyException_SetCause(error.get(), cause.release());
    PyErr_SetRaisedException(error.release());
  }
  return nullptr;
}

}  // namespace

ClassDef& class_def(std::string_view name) {
  // Leaked on purpose: type objects point into these tables until the process ends.
  static auto* registry = new std::map<std::string, ClassDef, std::less<>>();
  auto it = registry->find(name);
  if (it == registry->end())
    it = registry->emplace(std::string(name), ClassDef(std::string(name))).first;
  return it->second;
}

void ClassDef::define(Py_ssize_t basicsize, destructor dealloc, ClassInfo info,
                      CollectorSlots collector) {
  // Runs at load time, where throwing would end the process: a second definition is reported
  // when the type is built.
  if (dealloc_ != nullptr) {
    defined_twice_ = true;
    return;
  }
  basicsize_ = basicsize;
  dealloc_ = dealloc;
  info_ = info;
  collector_ = collector;
}

void ClassDef::add_block(MethodBlock block) {
  blocks_.push_back(std::move(block));
}

PyTypeObject* ClassDef::type() {
  if (type_ == nullptr)
    type_ = build();
  return type_;
}

PyTypeObject* ClassDef::build() {
  if (dealloc_ == nullptr || defined_twice_) {
    raise(PyExc_RuntimeError, dealloc_ == nullptr ? "no layout registered" : "defined twice");
    return initialization_error(name_);
  }

  methods_.clear();
  getters_.clear();
  slots_.clear();
  // Collect the members of every block; a name defined twice is a programming error.
  std::set<std::string_view> names;
  auto claim = [&](const char* member) {
    if (!names.insert(member).second)
      panic("member defined twice in class " + name_ + ": " + member);
  };
  bool has_new = false;
  for (const MethodBlock& block : blocks_) {
    for (const PyMethodDef& def : block.methods) {
      claim(def.ml_name);
      methods_.push_back(def);
    }
    for (const PyGetSetDef& def : block.getters) {
      claim(def.name);
      getters_.push_back(def);
    }
    for (const PyType_Slot& def : block.slots) {
      has_new = has_new || def.slot == Py_tp_new;
      slots_.push_back(def);
    }
  }
  methods_.push_back({nullptr, nullptr, 0, nullptr});
  getters_.push_back({nullptr, nullptr, nullptr, nullptr, nullptr});

  // Docstring layout "Name(signature)\n--\n\nbody" gives __text_signature__.
  const std::string body = info_.doc != nullptr ? info_.doc : "";
  if (info_.text_signature != nullptr) {
    doc_ = name_ + info_.text_signature + "\n--\n\n" + body;
  } else {
    doc_ = body;
  }
  if (!doc_.empty())
    slots_.push_back({Py_tp_doc, const_cast<char*>(doc_.c_str())});
  slots_.push_back({Py_tp_dealloc, reinterpret_cast<void*>(dealloc_)});
  slots_.push_back({Py_tp_methods, methods_.data()});
  slots_.push_back({Py_tp_getset, getters_.data()});
  if (!has_new)
    slots_.push_back({Py_tp_new, reinterpret_cast<void*>(&Guarded<&refuse_new>::call)});
  unsigned int flags = Py_TPFLAGS_DEFAULT;
  if (collector_.traverse != nullptr) {
    flags |= Py_TPFLAGS_HAVE_GC;  // the allocator and tp_free follow from the flag
    slots_.push_back({Py_tp_traverse, reinterpret_cast<void*>(collector_.traverse)});
    if (collector_.clear != nullptr)
      slots_.push_back({Py_tp_clear, reinterpret_cast<void*>(collector_.clear)});
  }
  slots_.push_back({0, nullptr});

  // The dotted name gives the class its __module__; __name__ and __qualname__ stay bare.
  qualified_name_ = "torvex._internal." + name_;
  PyType_Spec spec{qualified_name_.c_str(), static_cast<int>(basicsize_), 0, flags, slots_.data()};
  PyObject* type = PyType_FromSpec(&spec);
  if (type == nullptr)
    return initialization_error(name_);
  // A signature with an empty body would leave __doc__ as "", where None is meant.
  if (body.empty() && PyObject_SetAttrString(type, "__doc__", Py_None) < 0) {
    Ref::steal(type);
    return initialization_error(name_);
  }
  return reinterpret_cast<PyTypeObject*>(type);
}

}  // namespace torvex::py
