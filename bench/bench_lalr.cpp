// Benchmark of the LALR(1) table construction.
//
// Grammars:
//   vexc        - a realistic grammar of a C-like language (declarations,
//                 structs, enums, statements, expressions whose binary
//                 operators are settled by precedence declarations)
//   gen-N       - generated grammars of about N productions: independent
//                 blocks of a small statement/expression language, each with
//                 its own keyword, sharing the operator tokens, all reachable
//                 from one unit list
//
// For each grammar: productions, states, LR(0) items (all states' closure
// items), shift/reduce and reduce/reduce conflicts settled, the best and median time of LRTable::build on
// a fresh copy of the grammar (FIRST and FOLLOW included, as in a first
// build), the time of building the compact ParserTables from the record,
// and the memory the build allocates: its peak, and what the finished record
// keeps.
//
// Usage: bench_lalr [min_seconds_per_grammar]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "grammar/grammar.hpp"
#include "lr_table/lr_table.hpp"

// ---------------------------------------------------------------------------
// Allocation accounting (current and peak bytes), for the memory figures.

namespace {
std::atomic<size_t> g_current{0};
std::atomic<size_t> g_peak{0};

void note_alloc(size_t n) {
  const size_t now = g_current.fetch_add(n) + n;
  size_t peak = g_peak.load();
  while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
  }
}
}  // namespace

void* operator new(size_t n) {
  void* p = std::malloc(n + 16);
  if (p == nullptr) throw std::bad_alloc();
  *static_cast<size_t*>(p) = n;
  note_alloc(n);
  return static_cast<char*>(p) + 16;
}
void operator delete(void* p) noexcept {
  if (p == nullptr) return;
  char* base = static_cast<char*>(p) - 16;
  g_current.fetch_sub(*reinterpret_cast<size_t*>(base));
  std::free(base);
}
void operator delete(void* p, size_t) noexcept { operator delete(p); }

namespace {

using vx::Grammar;
using vx::LRTable;
using vx::PrecedenceGroup;

struct GrammarText {
  std::string name;
  std::vector<PrecedenceGroup> precedence;
  std::string rules;  // "head : a b | c ; ..." with %prec NAME
};

std::vector<std::string> words(const std::string& s) {
  std::istringstream in(s);
  std::vector<std::string> out;
  std::string w;
  while (in >> w) out.push_back(w);
  return out;
}

// Unquoted symbols that head no rule are declared as terminals.
Grammar make_grammar(const GrammarText& text) {
  const auto w = words(text.rules);
  std::set<std::string> heads;
  for (size_t i = 0; i + 1 < w.size(); ++i)
    if (w[i + 1] == ":") heads.insert(w[i]);
  std::set<std::string> terminals;
  for (size_t i = 0; i < w.size(); ++i) {
    const std::string& s = w[i];
    if (s == ":" || s == "|" || s == ";" || s == "%prec" || (i > 0 && w[i - 1] == "%prec")) continue;
    if (i + 1 < w.size() && w[i + 1] == ":") continue;
    if (!vx::is_quoted_symbol(s) && !heads.count(s)) terminals.insert(s);
  }
  const std::vector<std::string> term_list(terminals.begin(), terminals.end());
  Grammar g(term_list);
  if (!g.set_precedence(text.precedence).ok()) std::abort();
  size_t i = 0;
  while (i < w.size()) {
    if (w[i] == ";") {
      ++i;
      continue;
    }
    const std::string head = w[i];
    i += 2;
    for (;;) {
      std::vector<std::string> syms;
      std::string prec;
      for (; i < w.size() && w[i] != "|" && w[i] != ";"; ++i) {
        if (w[i] == "%prec") {
          prec = w[++i];
        } else {
          syms.push_back(w[i]);
        }
      }
      auto r = prec.empty() ? g.add_production(head, syms, i)
                            : g.add_production(head, syms, i, std::string_view(prec));
      if (!r.ok()) {
        std::fprintf(stderr, "%s: %s\n", text.name.c_str(), r.error().message.c_str());
        std::abort();
      }
      if (i < w.size() && w[i] == "|") {
        ++i;
        continue;
      }
      break;
    }
  }
  if (!g.set_start().ok()) std::abort();
  return g;
}

std::vector<PrecedenceGroup> c_like_precedence() {
  return {
      {"right", {"'='", "PLUS_ASSIGN", "MINUS_ASSIGN", "STAR_ASSIGN", "SLASH_ASSIGN"}},
      {"right", {"'?'", "':'"}},
      {"left", {"OROR"}},
      {"left", {"ANDAND"}},
      {"left", {"'|'"}},
      {"left", {"'^'"}},
      {"left", {"'&'"}},
      {"nonassoc", {"EQ", "NE"}},
      {"nonassoc", {"'<'", "'>'", "LE", "GE"}},
      {"left", {"SHL", "SHR"}},
      {"left", {"'+'", "'-'"}},
      {"left", {"'*'", "'/'", "'%'"}},
      {"right", {"UNARY", "'!'", "'~'", "INC", "DEC"}},
      {"left", {"'('", "'['", "'.'", "ARROW"}},
  };
}

GrammarText vexc_grammar() {
  GrammarText t{"vexc", c_like_precedence(), R"(
unit : unit external_decl | external_decl ;
external_decl : function_def | declaration | struct_decl ';' | enum_decl ';' | typedef_decl | import_decl ;
import_decl : IMPORT qualified_name ';' | IMPORT qualified_name AS IDENT ';' | FROM qualified_name IMPORT import_list ';' ;
import_list : import_list ',' IDENT | IDENT | '*' ;
qualified_name : qualified_name '.' IDENT | IDENT ;
typedef_decl : TYPEDEF type_spec IDENT ';' ;
function_def : decl_specs declarator compound_stmt | decl_specs declarator ';' ;
decl_specs : storage_class type_spec | type_spec | qualifiers type_spec | storage_class qualifiers type_spec ;
storage_class : STATIC | EXTERN | INLINE ;
qualifiers : qualifiers qualifier | qualifier ;
qualifier : CONST | VOLATILE ;
type_spec : VOID | INT | FLOAT | BOOL | CHAR | STRING | TYPE_NAME | struct_ref
          | type_spec '*' | type_spec '[' ']' | type_spec '[' INT_LIT ']' | FN '(' type_list ')' ARROW type_spec ;
type_list : | type_list1 ;
type_list1 : type_list1 ',' type_spec | type_spec ;
struct_ref : STRUCT IDENT | ENUM IDENT ;
struct_decl : STRUCT IDENT '{' field_list '}' | STRUCT IDENT '{' '}' ;
field_list : field_list field | field ;
field : type_spec IDENT ';' | type_spec IDENT '[' expr ']' ';' | type_spec IDENT ':' INT_LIT ';' ;
enum_decl : ENUM IDENT '{' enumerator_list '}' | ENUM IDENT '{' enumerator_list ',' '}' ;
enumerator_list : enumerator_list ',' enumerator | enumerator ;
enumerator : IDENT | IDENT '=' expr ;
declarator : IDENT '(' param_list ')' | IDENT '(' ')' | IDENT '(' VOID ')' ;
param_list : param_list ',' param | param | param_list ',' ELLIPSIS ;
param : type_spec IDENT | type_spec | type_spec IDENT '=' assign_expr ;
declaration : decl_specs init_list ';' | VAR init_list ';' | LET IDENT '=' expr ';' | LET IDENT ':' type_spec '=' expr ';' ;
init_list : init_list ',' init_decl | init_decl ;
init_decl : IDENT | IDENT '=' initializer | IDENT '[' expr ']' | IDENT '[' ']' '=' initializer ;
initializer : assign_expr | '{' init_items '}' | '{' init_items ',' '}' | '{' '}' ;
init_items : init_items ',' initializer | initializer | '.' IDENT '=' initializer ;
compound_stmt : '{' '}' | '{' block_items '}' ;
block_items : block_items block_item | block_item ;
block_item : declaration | stmt ;
stmt : expr_stmt | compound_stmt | selection_stmt | iteration_stmt | jump_stmt | labeled_stmt | try_stmt ;
expr_stmt : ';' | expr ';' ;
selection_stmt : IF '(' expr ')' stmt | IF '(' expr ')' stmt ELSE stmt
               | SWITCH '(' expr ')' '{' case_list '}' | SWITCH '(' expr ')' '{' '}' ;
case_list : case_list case_clause | case_clause ;
case_clause : CASE expr ':' block_items | CASE expr ':' | DEFAULT ':' block_items | DEFAULT ':' ;
iteration_stmt : WHILE '(' expr ')' stmt | DO stmt WHILE '(' expr ')' ';'
               | FOR '(' for_init ';' opt_expr ';' opt_expr ')' stmt | FOR '(' VAR IDENT IN expr ')' stmt ;
for_init : | expr | decl_specs init_list | VAR init_list ;
opt_expr : | expr ;
jump_stmt : RETURN ';' | RETURN expr ';' | BREAK ';' | CONTINUE ';' | GOTO IDENT ';' | THROW expr ';' ;
labeled_stmt : IDENT ':' stmt ;
try_stmt : TRY compound_stmt catch_list | TRY compound_stmt catch_list FINALLY compound_stmt
         | TRY compound_stmt FINALLY compound_stmt ;
catch_list : catch_list catch_clause | catch_clause ;
catch_clause : CATCH '(' type_spec IDENT ')' compound_stmt | CATCH compound_stmt ;
expr : expr ',' assign_expr | assign_expr ;
assign_expr : binary | unary assign_op assign_expr | binary '?' expr ':' assign_expr ;
assign_op : '=' | PLUS_ASSIGN | MINUS_ASSIGN | STAR_ASSIGN | SLASH_ASSIGN ;
binary : binary OROR binary | binary ANDAND binary | binary '|' binary | binary '^' binary | binary '&' binary
       | binary EQ binary | binary NE binary | binary '<' binary | binary '>' binary | binary LE binary
       | binary GE binary | binary SHL binary | binary SHR binary | binary '+' binary | binary '-' binary
       | binary '*' binary | binary '/' binary | binary '%' binary | cast ;
cast : unary | '(' type_spec ')' cast ;
unary : postfix | INC unary | DEC unary | '-' cast %prec UNARY | '+' cast %prec UNARY | '!' cast | '~' cast
      | '*' cast %prec UNARY | '&' cast %prec UNARY | SIZEOF unary | SIZEOF '(' type_spec ')'
      | NEW type_spec | NEW type_spec '(' ')' | NEW type_spec '(' args ')' ;
postfix : primary | postfix '[' expr ']' | postfix '(' ')' | postfix '(' args ')' | postfix '.' IDENT
        | postfix ARROW IDENT | postfix INC | postfix DEC ;
args : args ',' assign_expr | assign_expr ;
primary : IDENT | INT_LIT | FLOAT_LIT | STRING_LIT | CHAR_LIT | TRUE | FALSE | NULL | THIS | '(' expr ')'
        | lambda | '[' ']' | '[' args ']' | '{' map_items '}' ;
map_items : map_items ',' map_item | map_item ;
map_item : STRING_LIT ':' assign_expr | IDENT ':' assign_expr ;
lambda : FN '(' ')' compound_stmt | FN '(' param_list ')' compound_stmt | FN '(' param_list ')' ARROW assign_expr ;
)"};
  return t;
}

// Blocks of about 30 productions each; block i has its own nonterminals and
// keyword, and shares the operators.
GrammarText generated_grammar(int target) {
  GrammarText t{"gen-" + std::to_string(target),
                {{"right", {"'='"}}, {"left", {"OROR"}}, {"left", {"ANDAND"}}, {"nonassoc", {"EQ", "'<'"}},
                 {"left", {"'+'", "'-'"}}, {"left", {"'*'", "'/'"}}, {"right", {"UNARY"}}},
                ""};
  std::string r = "program : program unit ';' | unit ';' ;\n";
  const int per_block = 31;
  const int blocks = std::max(1, (target - 2) / (per_block + 1));
  std::string units = "unit :";
  for (int b = 0; b < blocks; ++b) units += (b ? " | s" : " s") + std::to_string(b);
  r += units + " ;\n";
  for (int b = 0; b < blocks; ++b) {
    const std::string i = std::to_string(b);
    const std::string kw = "KW" + i;
    r += "s" + i + " : " + kw + " e" + i + " | " + kw + " '{' l" + i + " '}' | " + kw + " IF '(' e" + i + " ')' s" + i +
         " | " + kw + " IF '(' e" + i + " ')' s" + i + " ELSE s" + i + " | " + kw + " WHILE e" + i + " DO s" + i +
         " | " + kw + " IDENT '=' e" + i + " | " + kw + " RETURN o" + i + " ;\n";
    r += "l" + i + " : | l" + i + " s" + i + " ';' ;\n";
    r += "o" + i + " : | e" + i + " ;\n";
    r += "e" + i + " : e" + i + " '+' e" + i + " | e" + i + " '-' e" + i + " | e" + i + " '*' e" + i + " | e" + i +
         " '/' e" + i + " | e" + i + " EQ e" + i + " | e" + i + " '<' e" + i + " | e" + i + " ANDAND e" + i + " | e" + i +
         " OROR e" + i + " | '-' e" + i + " %prec UNARY | '(' e" + i + " ')' | p" + i + " ;\n";
    r += "p" + i + " : IDENT | NUM | p" + i + " '(' a" + i + " ')' | p" + i + " '[' e" + i + " ']' | p" + i +
         " '.' IDENT | " + kw + " ;\n";
    r += "a" + i + " : | a" + i + "l ;\n";
    r += "a" + i + "l : a" + i + "l ',' e" + i + " | e" + i + " ;\n";
  }
  t.rules = r;
  return t;
}

struct Figures {
  double best_ms, median_ms, tables_ms;
  size_t states, items, sr, rr, peak_bytes, kept_bytes;
};

Figures measure(const Grammar& g, double min_seconds) {
  Figures f{};
  std::vector<double> times;
  auto started = std::chrono::steady_clock::now();
  do {
    Grammar copy = g;
    const size_t before = g_current.load();
    g_peak.store(before);
    const auto t0 = std::chrono::steady_clock::now();
    LRTable table = LRTable::build(copy);
    const auto t1 = std::chrono::steady_clock::now();
    times.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    if (times.size() == 1) {
      f.peak_bytes = g_peak.load() - before;
      f.states = table.num_states();
      f.items = table.num_items();
      f.sr = table.sr_conflicts().size();
      f.rr = table.rr_conflicts().size();
      // What the record keeps: allocated now, less the grammar's caches.
      const size_t with_table = g_current.load();
      Grammar caches_only = g;
      const size_t c0 = g_current.load();
      caches_only.compute_follow();
      const size_t caches = g_current.load() - c0;
      f.kept_bytes = with_table - before - caches;
      const auto p0 = std::chrono::steady_clock::now();
      auto pt = table.make_parser_tables();
      const auto p1 = std::chrono::steady_clock::now();
      f.tables_ms = std::chrono::duration<double, std::milli>(p1 - p0).count();
    }
  } while (times.size() < 5 ||
           std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() < min_seconds);
  std::sort(times.begin(), times.end());
  f.best_ms = times.front();
  f.median_ms = times[times.size() / 2];
  return f;
}

}  // namespace

// bench_lalr [MIN_SECONDS] [--json]: a table, or with --json one JSON object
// per grammar and line.
int main(int argc, char** argv) {
  double min_seconds = 0.5;
  bool json = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--json") {
      json = true;
    } else {
      min_seconds = std::atof(argv[i]);
    }
  }
  std::vector<GrammarText> grammars = {vexc_grammar()};
  for (int n : {250, 500, 1000, 2000, 4000}) grammars.push_back(generated_grammar(n));

  if (!json) {
    std::printf("%-10s %6s %7s %8s %9s %9s %9s %9s %10s %10s %8s %8s\n", "grammar", "prods", "states", "items",
                "sr/rr", "best ms", "median ms", "tables ms", "peak KiB", "kept KiB", "us/kitem", "B/item");
  }
  double prev_ms = 0;
  size_t prev_items = 0;
  for (const auto& text : grammars) {
    const Grammar g = make_grammar(text);
    const Figures f = measure(g, min_seconds);
    if (json) {
      std::printf("{\"grammar\": \"%s\", \"productions\": %zu, \"states\": %zu, \"items\": %zu, "
                  "\"best_ms\": %.4f, \"median_ms\": %.4f, \"tables_ms\": %.4f, \"kept_bytes\": %zu}\n",
                  text.name.c_str(), g.num_productions(), f.states, f.items, f.best_ms, f.median_ms, f.tables_ms,
                  f.kept_bytes);
      continue;
    }
    const std::string conflicts = std::to_string(f.sr) + "/" + std::to_string(f.rr);
    std::printf("%-10s %6zu %7zu %8zu %9s %9.3f %9.3f %9.3f %10.1f %10.1f %8.1f %8.1f", text.name.c_str(),
                g.num_productions(), f.states, f.items, conflicts.c_str(), f.best_ms, f.median_ms, f.tables_ms,
                f.peak_bytes / 1024.0, f.kept_bytes / 1024.0, 1000.0 * f.median_ms / (f.items / 1000.0),
                static_cast<double>(f.kept_bytes) / f.items);
    if (prev_items != 0 && text.name.rfind("gen-", 0) == 0) {
      std::printf("   x%.2f time for x%.2f items", f.median_ms / prev_ms,
                  static_cast<double>(f.items) / prev_items);
    }
    std::printf("\n");
    if (text.name.rfind("gen-", 0) == 0) {
      prev_ms = f.median_ms;
      prev_items = f.items;
    }
  }
  return 0;
}
