#include "binding/args.hpp"

#include <cstring>
#include <string>
#include <vector>

namespace vx {
namespace {

std::string full_name(const Signature& sig) { return std::string(sig.function) + "()"; }

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'".
void append_name_list(std::string& msg, const std::vector<std::string>& names) {
  const size_t n = names.size();
  for (size_t i = 0; i < n; ++i) {
    if (i != 0) {
      if (n > 2) msg += ',';
      msg += (i == n - 1) ? " and " : " ";
    }
    msg += '\'';
    msg += names[i];
    msg += '\'';
  }
}

Error type_error(std::string msg) { return Error::make(PyExc_TypeError, std::move(msg)); }

Error too_many_positional(const Signature& sig, Py_ssize_t given) {
  const char* was = given == 1 ? "was" : "were";
  std::string msg = full_name(sig);
  if (sig.required_positional != sig.positional) {
    msg += " takes from " + std::to_string(sig.required_positional) + " to " + std::to_string(sig.positional);
  } else {
    msg += " takes " + std::to_string(sig.positional);
  }
  msg += " positional arguments but " + std::to_string(given) + " " + was + " given";
  return type_error(std::move(msg));
}

Error missing(const Signature& sig, const char* kind, const std::vector<std::string>& names) {
  std::string msg = full_name(sig) + " missing " + std::to_string(names.size()) + " required " + kind + " " +
                    (names.size() == 1 ? "argument" : "arguments") + ": ";
  append_name_list(msg, names);
  return type_error(std::move(msg));
}

// The interpreter's own words for a keyword that is not a str.
Error keyword_not_a_string() { return type_error("keywords must be strings"); }

// A call whose keywords are not all str objects is refused before anything
// else is looked at, whatever else is wrong with it, as the interpreter does
// when it unpacks such a dict for a vectorcall callable (every method of the
// module): constructors and methods then report the same, and the message
// does not depend on the dict's order. Such a dict reaches a constructor
// from C, but from Python code as well: Token(**{1: 2}) is passed on as it is.
Void check_keyword_types(PyObject* kwargs) {
  Py_ssize_t pos = 0;
  PyObject* key;
  PyObject* value;
  while (PyDict_Next(kwargs, &pos, &key, &value)) {
    if (!PyUnicode_Check(key)) return keyword_not_a_string();
  }
  return ok();
}

// The same for the keyword names of a vectorcall. The protocol wants str
// objects there, but nothing stops a C caller from passing anything else.
Void check_keyword_name_types(PyObject* kwnames) {
  const Py_ssize_t n = PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t k = 0; k < n; ++k) {
    if (!PyUnicode_Check(PyTuple_GET_ITEM(kwnames, k))) return keyword_not_a_string();
  }
  return ok();
}

// `name` is a str (checked before any keyword is placed).
Error keyword_error(const Signature& sig, const char* what, PyObject* name) {
  // The keyword's text may hold anything a str can hold: format it with the
  // interpreter so nothing is lost.
  Ref text = Ref::steal(PyUnicode_FromFormat("%s %s '%U'", full_name(sig).c_str(), what, name));
  if (!text) return Error::pending();
  Ref exc = Ref::steal(PyObject_CallOneArg(PyExc_TypeError, text.get()));
  if (!exc) return Error::pending();
  return Error::from_object(std::move(exc));
}

// `name` is a str (checked before any keyword is placed). Parameter names
// are ASCII; a keyword that is not ASCII text cannot be one of them.
int find_param(const Signature& sig, PyObject* name, int from, int to) {
  if (!PyUnicode_IS_ASCII(name)) return -1;
  const auto length = static_cast<size_t>(PyUnicode_GET_LENGTH(name));
  const void* text = PyUnicode_DATA(name);
  for (int i = from; i < to; ++i) {
    if (sig.name_lengths[i] == length && std::memcmp(text, sig.names[i], length) == 0) return i;
  }
  return -1;
}

// Places one keyword argument; shared by both call forms.
Void place_keyword(const Signature& sig, PyObject* name, PyObject* value, PyObject** out,
                   std::vector<std::string>& positional_only_hits) {
  int i = find_param(sig, name, sig.positional, sig.count);
  if (i < 0) i = find_param(sig, name, 0, sig.positional);
  if (i < 0) return keyword_error(sig, "got an unexpected keyword argument", name);
  if (i < sig.positional_only) {
    positional_only_hits.emplace_back(sig.names[i]);
    return ok();
  }
  if (out[i]) return keyword_error(sig, "got multiple values for argument", name);
  out[i] = value;
  return ok();
}

Void finish(const Signature& sig, Py_ssize_t nargs, PyObject** out, const std::vector<std::string>& positional_only_hits) {
  if (!positional_only_hits.empty()) {
    std::string msg = full_name(sig) + " got some positional-only arguments passed as keyword arguments: ";
    append_name_list(msg, positional_only_hits);
    return type_error(std::move(msg));
  }
  if (nargs < sig.required_positional) {
    std::vector<std::string> absent;
    for (int i = 0; i < sig.required_positional; ++i) {
      if (!out[i]) absent.emplace_back(sig.names[i]);
    }
    if (!absent.empty()) return missing(sig, "positional", absent);
  }
  std::vector<std::string> absent;
  for (int i = sig.positional; i < sig.count; ++i) {
    if ((sig.required_keyword_only >> (i - sig.positional)) & 1u && !out[i]) absent.emplace_back(sig.names[i]);
  }
  if (!absent.empty()) return missing(sig, "keyword", absent);
  return ok();
}

}  // namespace

Void bind_args(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out) {
  for (int i = 0; i < sig.count; ++i) out[i] = nullptr;
  if (kwnames) VX_CHECK(check_keyword_name_types(kwnames));
  if (nargs > sig.positional) return too_many_positional(sig, nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
  std::vector<std::string> positional_only_hits;
  if (kwnames) {
    const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < nkw; ++k) {
      VX_CHECK(place_keyword(sig, PyTuple_GET_ITEM(kwnames, k), args[nargs + k], out, positional_only_hits));
    }
  }
  return finish(sig, nargs, out, positional_only_hits);
}

Void bind_args(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out, uint32_t* owned) {
  for (int i = 0; i < sig.count; ++i) out[i] = nullptr;
  if (kwargs) VX_CHECK(check_keyword_types(kwargs));
  const Py_ssize_t nargs = args ? PyTuple_GET_SIZE(args) : 0;
  if (nargs > sig.positional) return too_many_positional(sig, nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = PyTuple_GET_ITEM(args, i);
  std::vector<std::string> positional_only_hits;
  if (kwargs) {
    Py_ssize_t pos = 0;
    PyObject* key;
    PyObject* value;
    // No Python code runs while the dict is read; each value placed gets a
    // reference of its own, which the caller's arguments release.
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      VX_CHECK(place_keyword(sig, key, value, out, positional_only_hits));
    }
    for (int i = static_cast<int>(nargs); i < sig.count; ++i) {
      if (out[i]) {
        Py_INCREF(out[i]);
        *owned |= 1u << i;
      }
    }
  }
  return finish(sig, nargs, out, positional_only_hits);
}

}  // namespace vx
