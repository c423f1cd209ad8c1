#include "binding/imports.hpp"

#include <array>
#include <atomic>
#include <utility>

#include "binding/objects.hpp"

namespace vx {
namespace {

// The interned string of a name that callers pass as a string literal, kept
// for the life of the process and found again by the literal's address, so
// a lookup at each use neither allocates nor hashes; nullptr with the error
// pending. Past the table's size a name is made afresh at each use.
Ref literal_name(const char* text) {
  static constexpr size_t kSlots = 32;
  static std::array<std::atomic<const char*>, kSlots> keys{};
  static std::array<std::atomic<PyObject*>, kSlots> values{};
  for (size_t i = 0; i < kSlots; ++i) {
    const char* key = keys[i].load(std::memory_order_acquire);
    if (key == nullptr) {
      Ref fresh = Ref::steal(PyUnicode_InternFromString(text));
      if (!fresh) return fresh;
      const char* expected = nullptr;
      if (keys[i].compare_exchange_strong(expected, text, std::memory_order_acq_rel)) {
        values[i].store(fresh.share().release(), std::memory_order_release);  // kept for good
        return fresh;
      }
      key = expected;  // taken meanwhile: look at what it holds
    }
    if (key == text) {
      if (PyObject* v = values[i].load(std::memory_order_acquire)) return Ref::borrow(v);
      break;  // being filled right now
    }
  }
  return Ref::steal(PyUnicode_FromString(text));
}

// Imports once and publishes the first object stored; a concurrent first use
// on another thread (possible while the import runs Python code) may import
// too, and then keeps the published one.
Result<PyObject*> cached(std::atomic<PyObject*>& cell, const char* module, const char* attr) {
  if (PyObject* p = cell.load(std::memory_order_acquire)) return p;
  VX_TRY(Ref fresh, import_attr(module, attr));
  return publish_once(cell, fresh.release());
}

// The module named `name` as sys.modules holds it (a new reference), or an
// empty Ref when it is not loaded there or sys.modules holds None for it.
// Like the import statement, it waits for a module that another thread is
// still initialising. Late in the interpreter's shutdown, when there is no
// sys.modules any more, this is the interpreter's RuntimeError, where
// PyImport_GetModuleDict would end the process.
Result<Ref> loaded_module(PyObject* name) {
  Ref mod = Ref::steal(PyImport_GetModule(name));
  if (!mod) {
    if (PyErr_Occurred()) return Error::pending();
    return Ref();
  }
  if (mod.get() == Py_None) return Ref();
  return mod;
}

// The full import of `name`, which reports a None entry in sys.modules.
Result<Ref> import_now(PyObject* name) { return checked(PyImport_Import(name)); }

#ifndef Py_GIL_DISABLED
// The one dict watcher of the WatchedAttr caches, registered in the first
// interpreter that fills one (a cache serves that interpreter only). The
// watchers run under the interpreter's lock, as every use of the caches.
constexpr size_t kMaxWatched = 4;
std::array<WatchedAttr*, kMaxWatched> g_watched{};
size_t g_watched_count = 0;
int g_watcher = -1;
PyInterpreterState* g_watcher_interp = nullptr;
bool g_watching_ended = false;  // the watched sys.modules died: no cache is filled again
PyObject* g_modules_watched = nullptr;  // identity only
// Bumped by every event of a watched dict, whatever it changes: a refill
// keeps what it read only when nothing changed while it read.
uint64_t g_dict_events = 0;

int on_dict_event(PyDict_WatchEvent event, PyObject* dict, PyObject* key, PyObject*) {
  ++g_dict_events;
  const bool whole = event == PyDict_EVENT_CLEARED || event == PyDict_EVENT_DEALLOCATED || event == PyDict_EVENT_CLONED;
  if (event == PyDict_EVENT_DEALLOCATED && dict == g_modules_watched) g_watching_ended = true;
  for (size_t i = 0; i < g_watched_count; ++i) g_watched[i]->notice(dict, whole ? nullptr : key);
  return 0;
}

// The watcher of this interpreter, registering it on first use; -1 when
// caches cannot be watched here.
int watcher_for(PyInterpreterState* interp) {
  if (g_watching_ended) return -1;
  if (g_watcher_interp == nullptr) {
    const int id = PyDict_AddWatcher(on_dict_event);
    if (id < 0) {
      PyErr_Clear();  // every watcher taken: the caches stay empty
      g_watching_ended = true;
      return -1;
    }
    g_watcher = id;
    g_watcher_interp = interp;
  }
  return g_watcher_interp == interp ? g_watcher : -1;
}

// True when `key` (a dict key about to change) may be `name`: any key but
// an exact str of other text, whose equality cannot be a surprise.
bool may_be_key(PyObject* key, const char* name) noexcept {
  return key == nullptr || !PyUnicode_CheckExact(key) || PyUnicode_EqualToUTF8(key, name);
}

// Makes `cache` one of those the watcher tells; false when they are too many.
bool enlist(WatchedAttr* cache) noexcept {
  for (size_t i = 0; i < g_watched_count; ++i) {
    if (g_watched[i] == cache) return true;
  }
  if (g_watched_count == kMaxWatched) return false;
  g_watched[g_watched_count++] = cache;
  return true;
}
#endif

}  // namespace

Result<Ref> WatchedAttr::get() {
#ifndef Py_GIL_DISABLED
  if (PyObject* kept = peek()) return Ref::borrow(kept);
  return refill();
#else
  return import_attr(module_, attr_);
#endif
}

PyObject* WatchedAttr::peek() noexcept {
#ifndef Py_GIL_DISABLED
  // Only the watcher's interpreter fills the cache, and its sys.modules is
  // the dict watched until the interpreter clears it at its end (which
  // drops the kept object), so the interpreter tells that the kept object
  // was read through this sys.modules, without asking for the dict itself.
  if (valid_ && PyInterpreterState_Get() == g_watcher_interp && Py_IS_TYPE(module_obj_, &PyModule_Type))
    return value_;
#endif
  return nullptr;
}

void WatchedAttr::notice(PyObject* dict, PyObject* key) noexcept {
#ifndef Py_GIL_DISABLED
  if (!valid_) return;
  if ((dict == modules_ && may_be_key(key, module_)) || (dict == module_dict_ && may_be_key(key, attr_)))
    valid_ = false;
#else
  (void)dict;
  (void)key;
#endif
}

Result<Ref> WatchedAttr::refill() {
#ifndef Py_GIL_DISABLED
  // import_attr's steps, one by one, so that what it read is known: a
  // plain module's attribute is its dict's entry (neither the module class
  // nor object defines the name), so that one look-up stands for the
  // attribute read.
  valid_ = false;
  Ref module_name = literal_name(module_);
  if (!module_name) return Error::pending();
  Ref attr_name = literal_name(attr_);
  if (!attr_name) return Error::pending();
  VX_TRY(Ref mod, loaded_module(module_name.get()));
  if (!mod) {
    VX_TRY(Ref imported, import_now(module_name.get()));
    return get_attr(imported.get(), attr_name.get());
  }
  if (!Py_IS_TYPE(mod.get(), &PyModule_Type)) return get_attr(mod.get(), attr_name.get());

  const int id = watcher_for(PyInterpreterState_Get());
  if (id < 0 || !enlist(this)) return get_attr(mod.get(), attr_name.get());
  // sys.modules exists: the look-up above found the module in it.
  PyObject* modules = PyImport_GetModuleDict();
  PyObject* dict = PyModule_GetDict(mod.get());
  if (module_dict_ != nullptr && module_dict_ != dict) (void)PyDict_Unwatch(id, module_dict_);
  module_dict_ = nullptr;
  if (PyDict_Watch(id, modules) < 0 || PyDict_Watch(id, dict) < 0) {
    PyErr_Clear();
    return get_attr(mod.get(), attr_name.get());
  }

  // Both dicts are watched from here on: read them again, and keep what was
  // read only if no event came meanwhile. The look-ups can run Python code
  // (a key's __eq__), and that code can change either dict.
  const uint64_t events = g_dict_events;
  PyObject* found = nullptr;
  if (PyDict_GetItemRef(modules, module_name.get(), &found) < 0) return Error::pending();
  Ref again = Ref::steal(found);
  if (again.get() != mod.get()) return import_attr(module_, attr_);  // replaced since: the plain way
  PyObject* entry = nullptr;
  if (PyDict_GetItemRef(dict, attr_name.get(), &entry) < 0) return Error::pending();
  Ref value = Ref::steal(entry);
  if (!value) return get_attr(mod.get(), attr_name.get());  // the module's __getattr__, or the error
  if (g_dict_events != events) return value;  // good for this call, not kept

  // The objects replaced are released last: that may run Python code.
  Ref old_module = Ref::steal(std::exchange(module_obj_, mod.share().release()));
  Ref old_value = Ref::steal(std::exchange(value_, value.share().release()));
  modules_ = modules;
  g_modules_watched = modules;
  module_dict_ = dict;
  valid_ = true;
  return value;
#else
  return import_attr(module_, attr_);
#endif
}

Result<Ref> import_module(const char* module) {
  Ref module_name = literal_name(module);
  if (!module_name) return Error::pending();
  // The loaded module first, as the import statement does; the full import
  // only when it is not loaded (or sys.modules holds None for it, which the
  // import reports).
  VX_TRY(Ref mod, loaded_module(module_name.get()));
  if (mod) return mod;
  return import_now(module_name.get());
}

Result<Ref> import_attr(const char* module, const char* attr) {
  VX_TRY(Ref mod, import_module(module));
  Ref attr_name = literal_name(attr);
  if (!attr_name) return Error::pending();
  Ref obj = Ref::steal(PyObject_GetAttr(mod.get(), attr_name.get()));
  if (!obj) return Error::pending();
  return obj;
}

Error package_exception(const char* module, const char* cls, std::initializer_list<PyObject*> args) {
  Result<Ref> klass = import_attr(module, cls);
  if (!klass.ok()) return std::move(klass).error();
  Ref made = Ref::steal(PyObject_Vectorcall(klass->get(), std::data(args), args.size(), nullptr));
  if (!made) return Error::pending();
  return Error::from_returned(std::move(made));
}

Result<PyObject*> abc_sequence() {
  static std::atomic<PyObject*> cell{nullptr};
  return cached(cell, "collections.abc", "Sequence");
}

}  // namespace vx
