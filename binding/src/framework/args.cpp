// Matching call arguments to parameters, with the fixed TypeError texts.
#include "framework/args.hpp"

#include <string>
#include <vector>

#include "framework/failure.hpp"
#include "framework/ref.hpp"

namespace torvex::py::detail {
namespace {

class Matcher {
 public:
  Matcher(const char* full_name, const Param* params, std::size_t count, PyObject** out)
      : full_name_(full_name), params_(params), count_(count), out_(out) {}

  bool positional(PyObject* const* args, Py_ssize_t nargs) {
    if (static_cast<std::size_t>(nargs) > count_)
      return too_many_positional(nargs);
    for (std::size_t i = 0; i < count_; ++i) {
      out_[i] = i < static_cast<std::size_t>(nargs) ? args[i] : nullptr;
    }
    return true;
  }

  bool keyword(PyObject* name, PyObject* value) {
    for (std::size_t i = 0; i < count_; ++i) {
      if (PyUnicode_CompareWithASCIIString(name, params_[i].name) != 0)
        continue;
      if (out_[i] != nullptr) {
        return fail(" got multiple values for argument '" + text_of(name) + "'");
      }
      out_[i] = value;
      return true;
    }
    return fail(" got an unexpected keyword argument '" + text_of(name) + "'");
  }

  bool check_required() {
    std::vector<const char*> missing;
    for (std::size_t i = 0; i < count_ && params_[i].required; ++i) {
      if (out_[i] == nullptr)
        missing.push_back(params_[i].name);
    }
    if (missing.empty())
      return true;
    std::string text = " missing " + std::to_string(missing.size()) + " required positional ";
    text += missing.size() == 1 ? "argument: " : "arguments: ";
    // 'a' / 'a' and 'b' / 'a', 'b', and 'c'
    for (std::size_t i = 0; i < missing.size(); ++i) {
      if (i != 0) {
        if (missing.size() > 2)
          text += ",";
        text += i + 1 == missing.size() ? " and " : " ";
      }
      text += "'";
      text += missing[i];
      text += "'";
    }
    return fail(text);
  }

 private:
  bool too_many_positional(Py_ssize_t given) {
    std::size_t required = 0;
    while (required < count_ && params_[required].required)
      ++required;
    std::string text = " takes ";
    if (required != count_)
      text += "from " + std::to_string(required) + " to ";
    text += std::to_string(count_) + " positional arguments but " + std::to_string(given);
    text += given == 1 ? " was given" : " were given";
    return fail(text);
  }

  bool fail(const std::string& rest) {
    type_error(std::string(full_name_) + rest);
    return false;
  }

  static std::string text_of(PyObject* obj) {
    Ref text = Ref::steal(PyObject_Str(obj));
    Py_ssize_t size = 0;
    const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text.get(), &size) : nullptr;
    if (utf8 == nullptr) {
      PyErr_Clear();
      return "?";
    }
    return std::string(utf8, static_cast<std::size_t>(size));
  }

  const char* full_name_;
  const Param* params_;
  std::size_t count_;
  PyObject** out_;
};

}  // namespace

bool parse_fastcall(const char* full_name, const Param* params, std::size_t count,
                    PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out) {
  Matcher matcher(full_name, params, count, out);
  nargs = PyVectorcall_NARGS(static_cast<std::size_t>(nargs));
  if (!matcher.positional(args, nargs))
    return false;
  if (kwnames != nullptr) {
    const Py_ssize_t nkw = PyTuple_Size(kwnames);
    for (Py_ssize_t k = 0; k < nkw; ++k) {
      if (!matcher.keyword(PyTuple_GetItem(kwnames, k), args[nargs + k]))
        return false;
    }
  }
  return matcher.check_required();
}

bool parse_tuple_dict(const char* full_name, const Param* params, std::size_t count, PyObject* args,
                      PyObject* kwargs, PyObject** out) {
  Matcher matcher(full_name, params, count, out);
  const Py_ssize_t nargs = args != nullptr ? PyTuple_Size(args) : 0;
  if (static_cast<std::size_t>(nargs) > count) {
    // Too many: report before looking at the items.
    return matcher.positional(nullptr, nargs);
  }
  std::vector<PyObject*> positional(static_cast<std::size_t>(nargs));
  for (Py_ssize_t i = 0; i < nargs; ++i)
    positional[i] = PyTuple_GetItem(args, i);
  if (!matcher.positional(positional.data(), nargs))
    return false;
  if (kwargs != nullptr) {
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      if (!matcher.keyword(key, value))
        return false;
    }
  }
  return matcher.check_required();
}

}  // namespace torvex::py::detail
