#include "parser/py_token_intake.hpp"

#include <cstring>
#include <limits>

#include "binding/convert.hpp"
#include "binding/names.hpp"
#include "binding/objects.hpp"
#include "binding/strings.hpp"
#include "lexer/py_token.hpp"
#include "parser/py_token_cursor.hpp"

namespace vx {
namespace {

// An optional unsigned attribute: no value when missing, the converted value
// when present (a present value that fails to convert is an error, never a
// default).
Result<std::optional<uint64_t>> optional_u64(PyObject* token, PyObject* name) {
  VX_TRY(Ref v, get_optional_attr(token, name));
  if (!v) return std::optional<uint64_t>();
  VX_TRY(uint64_t n, to_u64(v.get(), ""));
  return std::optional<uint64_t>(n);
}

Void symbol_from_attributes(PyObject* token, PyParsedSymbol& sym) {
  VX_TRY(Ref type, get_optional_attr(token, names::type()));
  if (type) {
    VX_TRY(sym.sym_type, to_shared_text(type.get(), ""));
  } else {
    VX_TRY(Ref text, checked(PyObject_Str(token)));
    sym.sym_type = std::make_shared<const std::string>(lossy_utf8(text.get()));
  }
  VX_TRY(Ref value, get_optional_attr(token, names::value()));
  sym.value = value ? std::move(value) : Ref::borrow(token);
  VX_TRY(auto lineno, optional_u64(token, names::lineno()));
  sym.lineno = sym.endlineno = lineno.value_or(1);
  VX_TRY(auto lexpos, optional_u64(token, names::lexpos()));
  if (!lexpos) {
    VX_TRY(lexpos, optional_u64(token, names::index()));
  }
  sym.lexpos = lexpos.value_or(0);
  VX_TRY(auto end, optional_u64(token, names::end()));
  if (end) {
    sym.endlexpos = *end;
  } else {
    VX_TRY(Ref text, checked(PyObject_Str(sym.value.get())));
    const auto length = static_cast<uint64_t>(PyUnicode_GET_LENGTH(text.get()));
    if (sym.lexpos > std::numeric_limits<uint64_t>::max() - length) {
      return Error::make(PyExc_OverflowError, "token end exceeds the counter range");
    }
    sym.endlexpos = sym.lexpos + length;
  }
  return ok();
}

// A native Token, field by field: its line number is also the end line, its
// owner is not read.
Void store_token_fields(Result<TokenFields> fields, PyParsedSymbol& out) {
  VX_TRY(TokenFields f, std::move(fields));
  out.sym_type = std::move(f.type);
  out.value = std::move(f.value);
  out.lineno = out.endlineno = f.lineno;
  out.lexpos = f.lexpos;
  out.endlexpos = f.end;
  return ok();
}

}  // namespace

Void symbol_from_token(PyObject* token, PyParsedSymbol& out) {
  if (is_parsed_symbol(token)) {
    auto& o = unbox<ParsedSymbolObject>(token);
    if (o.borrow.try_shared()) {
      PyParsedSymbol copy = [&] {
        SharedGuard guard(&o.borrow);
        return o.sym.clone_symbol();
      }();
      // Storing releases the record `out` held, which may run Python code:
      // only once the symbol's access is given back, so that it may write to it.
      out = std::move(copy);
      return ok();
    }
  } else if (is_token(token)) {
    return store_token_fields(read_token(token), out);
  }
  return symbol_from_attributes(token, out);
}

Void end_marker(PyParsedSymbol& out) {
  static const auto name = std::make_shared<const std::string>("$end");
  PyObject* value = PyUnicode_New(4, 127);  // a fresh str every time
  if (!value) return Error::pending();
  std::memcpy(PyUnicode_1BYTE_DATA(value), "$end", 4);
  out = PyParsedSymbol::at_start(name, Ref::steal(value));
  return ok();
}

Result<TokenSource> TokenSource::select(PyObject* token_stream) {
  TokenSource src;
  if (is_token_cursor(token_stream)) {
    auto& cursor = unbox<PyTokenCursor>(token_stream);
    cursor.thread.check(PyTokenCursor::kNativeName);
    if (cursor.borrow.try_shared()) {
      src.object_ = Ref::borrow(token_stream);
      src.cursor_ = &cursor;
      src.cursor_access_.emplace(&cursor.borrow);
      return src;
    }
  }
  VX_TRY(src.object_, checked(PyObject_GetIter(token_stream)));
  return src;
}

Void TokenSource::next_symbol(PyParsedSymbol& out) {
  if (stream_ended_) return end_marker(out);
  Ref item;
  if (cursor_) {
    VX_TRY(item, cursor_next_item(*cursor_));
  } else {
    item = Ref::steal(PyIter_Next(object_.get()));
    if (!item && PyErr_Occurred()) return Error::pending();
  }
  if (!item) {
    stream_ended_ = true;
    return end_marker(out);
  }
  // take_token lets the token go before the store releases what `out` held.
  if (is_token(item.get())) return store_token_fields(take_token(std::move(item)), out);
  return symbol_from_token(item.get(), out);
}

}  // namespace vx
