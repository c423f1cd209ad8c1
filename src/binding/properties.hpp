// Getters and setters of records that carry a borrow flag.
//
// A record type R has a member `BorrowFlag borrow`. Getters read under shared
// access. Setters convert the new value first, then write under exclusive
// access; a replaced Python object is released during the write, while the
// record is still held, so a finaliser it runs cannot see a half-made record.
#pragma once

#include "binding/borrow.hpp"
#include "binding/boundary.hpp"
#include "binding/convert.hpp"
#include "binding/type_def.hpp"

namespace vx {

template <class R, class Read>
PyObject* get_property(PyObject* self, Read&& read) {
  return boundary([&]() -> Result<Ref> {
    R& r = unbox<R>(self);
    VX_TRY(auto guard, borrow_shared(r.borrow));
    return read(r);
  });
}

template <class R, class Convert, class Write>
int set_property(PyObject* self, PyObject* v, Convert&& convert, Write&& write) {
  return boundary_int([&]() -> Void {
    if (!v) return no_deleter();
    VX_TRY(auto native, convert(v));
    R& r = unbox<R>(self);
    VX_TRY(auto guard, borrow_exclusive(r.borrow));
    write(r, std::move(native));
    return ok();
  });
}

// Converters for set_property.
inline auto text_arg(const char* note) {
  return [note](PyObject* v) { return to_shared_text(v, note); };
}
inline auto u64_arg(const char* note) {
  return [note](PyObject* v) { return to_u64(v, note); };
}
inline Result<Ref> object_arg(PyObject* v) { return Ref::borrow(v); }

// Clears Python references under exclusive access, releasing them only after
// the access is given back. A refused access changes nothing.
template <class R, class Take>
int clear_record(PyObject* self, Take&& take) {
  R& r = unbox<R>(self);
  if (!r.borrow.try_exclusive()) return 0;
  ExclusiveGuard guard(&r.borrow);
  auto taken = take(r);
  guard.release();
  return 0;  // `taken` dies here, after the access is given back
}

}  // namespace vx

// A read/write unsigned 64-bit field `field` of record R, through the
// getter and setter templates `get` and `set` of R's kind of record.
#define VX_U64_FIELD(get, set, R, getter, setter, field, note)                         \
  PyObject* getter(PyObject* self, void*) {                                           \
    return get<R>(self, [](R& r) { return ::vx::py_int(r.field); });                  \
  }                                                                                   \
  int setter(PyObject* self, PyObject* v, void*) {                                    \
    return set<R>(self, v, ::vx::u64_arg(note), [](R& r, uint64_t n) { r.field = n; }); \
  }

// The same for a record that carries a borrow flag.
#define VX_U64_PROPERTY(R, getter, setter, field, note) \
  VX_U64_FIELD(::vx::get_property, ::vx::set_property, R, getter, setter, field, note)
