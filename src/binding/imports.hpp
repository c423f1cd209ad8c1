// Python modules and objects the core reaches by name.
//
// import_attr looks the module up at every call, so a module replaced in
// sys.modules is honoured and a missing one is imported; WatchedAttr gives
// the same answers without the look-ups while nothing they read changed;
// the collections.abc classes are imported once and kept.
#pragma once

#include <initializer_list>

#include "binding/error.hpp"

namespace vx {

// The module `module` as a new reference, taken from sys.modules when it is
// loaded there, imported otherwise (as the import statement does). Late in
// the interpreter's shutdown, once sys.modules is gone, this fails with the
// interpreter's exception, as the import statement does then.
[[nodiscard]] Result<Ref> import_module(const char* module);
// `module.attr` as a new reference. Like the import statement, it takes the
// module from sys.modules when it is loaded there, and runs the full import
// only when it is not.
[[nodiscard]] Result<Ref> import_attr(const char* module, const char* attr);
// `module.attr` exactly as import_attr gives it, kept between calls while
// nothing it was read through has changed: the module's entry in
// sys.modules, the module's class (a plain module, whose attribute is its
// dict's entry) and that entry. Dict watchers drop the kept object as soon
// as either dict changes at that key, and a refill during which either dict
// changed at all serves its own call only; anything the cache cannot vouch for
// (a module missing, not a plain module or without that entry in its dict,
// another interpreter, a free-threaded build) takes import_attr's path at
// every call. `module` and `attr` must be string literals.
class WatchedAttr {
 public:
  constexpr WatchedAttr(const char* module, const char* attr) noexcept : module_(module), attr_(attr) {}
  WatchedAttr(const WatchedAttr&) = delete;
  WatchedAttr& operator=(const WatchedAttr&) = delete;

  [[nodiscard]] Result<Ref> get();
  // The kept object (borrowed) when get() would give it without a look-up;
  // nullptr otherwise. Imports nothing and never fails.
  [[nodiscard]] PyObject* peek() noexcept;

  // Called by the dict watcher (before `dict` changes at `key`; a null key
  // for a change of the whole dict).
  void notice(PyObject* dict, PyObject* key) noexcept;

 private:
  [[nodiscard]] Result<Ref> refill();

  const char* module_;
  const char* attr_;
  bool valid_ = false;
  PyObject* modules_ = nullptr;      // the sys.modules dict read (borrowed; identity only)
  PyObject* module_dict_ = nullptr;  // the module's dict (borrowed from module_)
  PyObject* module_obj_ = nullptr;   // strong, kept until replaced
  PyObject* value_ = nullptr;        // strong, kept until replaced
};

// collections.abc.Sequence (borrowed, kept).
[[nodiscard]] Result<PyObject*> abc_sequence();

// The exception that `module.cls(*args)` makes, to be raised as it is (an
// object that is no exception gives TypeError), or the failure of the
// import or the call.
[[nodiscard]] Error package_exception(const char* module, const char* cls, std::initializer_list<PyObject*> args);

}  // namespace vx
