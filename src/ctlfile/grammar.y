/* The control-file grammar: which statements exist, their arguments, and
   the blocks they may stand in. Actions only call the named statement
   functions of actions.hpp and commands.hpp; a false result aborts the
   parse. Block statements open their context in a mid-rule action before
   the '{', so the body's statements see it. */

%code top {
/* GCC 12 mistakes the parser's stack relocation for freeing its initial
   stack array, which the relocation never does. */
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wfree-nonheap-object"
#endif
#include <cstdarg>
#include <cstdio>
/* Trace lines are written in the classic yacc form; see ctl_trace_printf. */
static void ctl_trace_printf(FILE* f, const char* format, ...);
#define YYFPRINTF ctl_trace_printf
}

%code requires {
#include <string>
struct CtlReader;
/// Where a token or a statement ends: its line and the name of its file.
struct CtlPos {
  int line = 0;
  const std::string* file = nullptr;
};
/// A number and whether its digits were all octal (no 8 or 9, which make
/// the lexer read it as decimal).
struct CtlNumber {
  int value;
  bool octal_digits;
};
}

%code provides {
/// The next token of the control file and where it ends.
int yylex(YYSTYPE* lval, CtlPos* lloc, CtlReader& rd);
/// Reports a parse error through the reader's message format.
void yyerror(const CtlPos* lloc, CtlReader& rd, const char* msg);
}

%code {
#include <cstring>

#include "ctlfile/actions.hpp"
#include "ctlfile/commands.hpp"
#include "ctlfile/reader.hpp"

namespace {
const std::string no_text;
}

/* Before each action: a statement's messages name the line where it ends,
   not that of the token after it that the parser may have read already. */
#define YYLLOC_DEFAULT(Current, Rhs, N)                      \
  do {                                                       \
    (Current) = (N) ? YYRHSLOC(Rhs, N) : YYRHSLOC(Rhs, 0);   \
    ctl_statement_at(rd, (Current).line, (Current).file);    \
  } while (0)
}

%define api.pure full
%define api.token.prefix {TOK_}
%define parse.error custom
%define parse.trace
%define lr.default-reduction consistent
%locations
%define api.location.type {CtlPos}
%param {CtlReader& rd}

%union {
  int num;
  const std::string* str;
  CtlNumber number;
}

/* The names are the ones syntax errors show; the order fixes the codes. */
%token YYEOF 0 "$end"
%token TRUETOKEN FALSETOKEN CLIENT SERVER SSOPRIVATE EXPORT OWNER GROUP MODE ACCESS
%token EXPORTLINKS EXPORTOK SETPHASE EXPPHASE REGPHASE NONE SSOONLY LINKOK REQUIRES
%token VERBATIM DEPENDENCY UPGRADES REMOVE REPLACES SUBPACKAGE ADDEXPORT REMOVEANY
%token EXPORTALL DEFINE BACKEND CONVERT MANDIR EXCEPT TARGET INCLUDE INCLUDES FLAGS
%token VENDOR PRINT EXEC SHCTOKEN SCRIPT SYMLINK EXISTS FILETOKEN DIRECTORY PREPARE
%token ALLFILES ALLDIRS PACKAGETOKEN COMPONENT AUTO_COMPRESS_TEXINFO
%token AUTO_FORMAT_MANSOURCE COMPRESS_TEXINFO FORMAT_MANSOURCE AUTO_STRIP ENDIF ERROR
%token WARNING SET
%token <str> STRING
%token <number> NUMBER
%token IFDEF IFNDEF IFEQ IFNEQ ELSE WANT CREATE PATHMATCH EVAL
%token ';' ',' '(' ')' '{' '}'

%type <num> boolean access_type phase a_phase optional_eval optional_xtra_bool_true
%type <num> optional_xtra_bool_false optional_create optional_pathmatch file_or_dir_syml
%type <str> optional_xtra_string

%%

prodfile:
    %empty
  | prodfile prodfile_function
  ;

prodfile_function:
    want_function
  | set_function
  | prep_function
  | allfiles_function
  | alldirs_function
  | product_functions
  | package_function
  | component_function
  | global_functions
  ;

product_functions:
    requires_function
  | vendor_function
  | verbatim_function
  ;

global_functions:
    print_function
  | exec_function
  | shell_function
  | script_function
  | define_function
  | ifdef_function
  | ifndef_function
  | ifeq_function
  | ifneq_function
  | endif_function
  | else_function
  | error_function
  | warning_function
  | backend_function
  | mandir_function
  | include_function
  ;

/* Argument classes. */

boolean: TRUETOKEN { $$ = 1; } | FALSETOKEN { $$ = 0; } ;
access_type: CLIENT { $$ = ACCESS_CLIENT; } | SERVER { $$ = ACCESS_SHARED; } ;
phase: EXPPHASE { $$ = PHASE_NORMAL; } | REGPHASE { $$ = PHASE_EARLY; } | NONE { $$ = PHASE_NONE; } ;
a_phase: EXPPHASE { $$ = PHASE_NORMAL; } | REGPHASE { $$ = PHASE_EARLY; } ;
lineend: %empty | ';' ;
optional_eval: %empty { $$ = 0; } | ',' EVAL { $$ = 1; } ;
optional_xtra_bool_true: %empty { $$ = 1; } | ',' boolean { $$ = $2; } ;
optional_xtra_bool_false: %empty { $$ = 0; } | ',' boolean { $$ = $2; } ;
optional_create: %empty { $$ = 0; } | CREATE { $$ = 1; } ;
optional_pathmatch: %empty { $$ = 0; } | ',' PATHMATCH { $$ = 1; } ;
optional_xtra_string: %empty { $$ = &no_text; } | ',' STRING { $$ = $2; } ;
file_or_dir_syml: FILETOKEN { $$ = 0; } | DIRECTORY { $$ = 1; } ;

want_value:
    NUMBER { act_want_value(rd, 1, $1.value, 0, 0); }
  | NUMBER ',' NUMBER { act_want_value(rd, 2, $1.value, $3.value, 0); }
  | NUMBER ',' NUMBER ',' NUMBER { act_want_value(rd, 3, $1.value, $3.value, $5.value); }
  ;

/* Settings and conditionals: both passes. */

define_function:
    DEFINE '(' STRING ',' STRING optional_eval ')' lineend { act_define(rd, *$3, *$5, $6); }
  ;
ifdef_function: IFDEF '(' STRING ')' { act_ifdef(rd, *$3, 1); } ;
ifndef_function: IFNDEF '(' STRING ')' { act_ifdef(rd, *$3, 0); } ;
ifeq_function: IFEQ '(' STRING ',' STRING ')' { act_ifeq(rd, *$3, *$5, 1); } ;
ifneq_function: IFNEQ '(' STRING ',' STRING ')' { act_ifeq(rd, *$3, *$5, 0); } ;
else_function: ELSE { if (condelse(rd)) YYABORT; } ;
endif_function: ENDIF { if (condend(rd)) YYABORT; } ;
want_function:
    WANT '(' want_value ')' lineend { act_want(rd); }
  | WANT '(' STRING ',' want_value ')' lineend { act_want_backend(rd, *$3); }
  ;
error_function: ERROR '(' STRING ')' lineend { act_error(rd, *$3); } ;
warning_function: WARNING '(' STRING ')' lineend { act_warning(rd, *$3); } ;
backend_function: BACKEND '(' STRING ')' lineend { act_backend(rd, *$3); } ;
set_function:
    SET '(' STRING ',' STRING ')' lineend { act_set(rd, *$3, *$5); }
  | SET '(' STRING ',' NUMBER ')' lineend { act_set_number(rd, *$3, $5.value); }
  ;
include_function: INCLUDE '(' STRING ')' ';' { act_include(rd, *$3); } ;

/* Commands. */

print_function: PRINT '(' STRING ')' lineend { act_print(rd, *$3); } ;
exec_function: EXEC '(' STRING ')' lineend { act_exec(rd, *$3); } ;
shell_function: SHCTOKEN '(' STRING ')' lineend { act_sh(rd, *$3); } ;
script_function:
    SCRIPT '(' STRING { if (!act_script_delimiter(rd, *$3)) YYABORT; }
    ',' STRING ')' lineend { act_script(rd, *$3, *$6); }
  ;

/* Product-level statements. */

vendor_function: VENDOR '(' STRING ')' lineend { act_vendor(rd, *$3); } ;
verbatim_function: VERBATIM '(' STRING ')' lineend { act_verbatim(rd, *$3); } ;
mandir_function: MANDIR '(' STRING ')' lineend { act_mandir(rd, *$3); } ;
requires_function:
    REQUIRES '(' STRING optional_xtra_string ')' lineend { act_relation(rd, rel::requires_, *$3, *$4); }
  ;
dependency_function:
    DEPENDENCY '(' STRING optional_xtra_string ')' lineend { act_relation(rd, rel::dependency, *$3, *$4); }
  ;
upgrades_function:
    UPGRADES '(' STRING optional_xtra_string ')' lineend { act_relation(rd, rel::upgrades, *$3, *$4); }
  ;
replaces_function:
    REPLACES '(' STRING optional_xtra_string ')' lineend { act_relation(rd, rel::replaces, *$3, *$4); }
  ;
subpackage_function:
    SUBPACKAGE '(' STRING optional_xtra_string ')' lineend { act_relation(rd, rel::subpackage, *$3, *$4); }
  ;
remove_function: REMOVE '(' STRING ')' lineend { act_remove(rd, *$3); } ;
removeany_function:
    REMOVEANY '(' STRING optional_pathmatch ')' lineend { act_removeany(rd, *$3, $4, false); }
  | REMOVEANY '(' STRING optional_pathmatch ')' { act_removeany(rd, *$3, $4, true); }
    '{' except_body '}' { act_removeany_end(rd); }
  ;
except_body: except_function | except_body except_function ;
except_function: EXCEPT '(' STRING optional_pathmatch ')' lineend { act_except(rd, *$3, $4); } ;
target_function:
    TARGET '(' STRING optional_xtra_bool_false ')' lineend { act_target(rd, *$3, $4); }
  ;

/* Attribute statements. */

export_function: EXPORT '(' phase ')' lineend { act_export(rd, $3); } ;
owner_function: OWNER '(' STRING ')' lineend { act_owner(rd, *$3); } ;
group_function: GROUP '(' STRING ')' lineend { act_group(rd, *$3); } ;
mode_function: MODE '(' NUMBER ')' lineend { act_mode(rd, $3.value, $3.octal_digits); } ;
access_function: ACCESS '(' access_type ')' lineend { act_access(rd, $3); } ;
exportlinks_function: EXPORTLINKS '(' ')' lineend { act_attrflag(rd, af::EXPORTLINKS); } ;
exportok_function: EXPORTOK '(' ')' lineend { act_attrflag(rd, af::EXPORTOK); } ;
linkok_function: LINKOK '(' ')' lineend { act_attrflag(rd, af::LINKOK); } ;
ssoprivate_function: SSOPRIVATE '(' ')' lineend { act_ssoprivate(rd); } ;
flags_function: FLAGS '(' STRING ')' lineend { act_flags(rd, *$3); } ;
includes_function: INCLUDES '(' STRING ')' lineend { if (!act_includes(rd, *$3)) YYABORT; } ;
addexport_function: ADDEXPORT '(' STRING ',' a_phase ')' lineend { act_addexport(rd, *$3, $5); } ;
convert_function: CONVERT '(' STRING ',' a_phase ')' lineend { act_convert(rd, *$3, $5); } ;
exportall_function:
    EXPORTALL '(' STRING ',' a_phase optional_xtra_bool_true ')' lineend
      { if (!act_exportall(rd, *$3, $5, $6, false)) YYABORT; }
  | EXPORTALL '(' STRING ',' a_phase optional_xtra_bool_true ')'
      { if (!act_exportall(rd, *$3, $5, $6, true)) YYABORT; }
    '{' except_body '}' { act_exportall_end(rd); }
  ;

/* Prep phases. */

auto_texinfo_function: AUTO_COMPRESS_TEXINFO '(' ')' lineend { act_auto_texinfo(rd); } ;
auto_mansource_function: AUTO_FORMAT_MANSOURCE '(' ')' lineend { act_auto_mansource(rd); } ;
compress_texinfo_function: COMPRESS_TEXINFO '(' STRING ')' lineend { act_compress_texinfo(rd, *$3); } ;
mansource_function: FORMAT_MANSOURCE '(' STRING ')' lineend { act_format_mansource(rd, *$3); } ;
autostrip_function:
    AUTO_STRIP '(' boolean ',' boolean optional_xtra_string ')' lineend { act_autostrip(rd, $3, $5, *$6); }
  ;
exists_function: EXISTS '(' STRING ',' boolean ')' lineend { act_exists(rd, *$3, $5); } ;

prep_function:
    PREPARE '(' STRING ')' { act_prep_open(rd, *$3); } '{' prep_function_body '}' { act_prep_close(rd); }
  ;
prep_function_body: %empty | prep_function_body prep_statement ;
prep_statement:
    global_functions
  | auto_texinfo_function
  | auto_mansource_function
  | compress_texinfo_function
  | mansource_function
  | exists_function
  | remove_function
  | removeany_function
  | autostrip_function
  ;

/* Packages, components and their entries. */

package_function:
    PACKAGETOKEN '(' STRING ',' STRING ',' STRING optional_xtra_string ')'
      { act_package_open(rd, *$3, *$5, *$7, *$8); }
    '{' package_function_body '}' { act_package_close(rd); }
  ;
package_function_body: %empty | package_function_body package_statement ;
package_statement:
    global_functions
  | file_function
  | dir_function
  | symlink_function
  | remove_function
  | removeany_function
  | requires_function
  | dependency_function
  | upgrades_function
  | replaces_function
  | subpackage_function
  | verbatim_function
  | allfiles_function
  | alldirs_function
  | export_function
  | access_function
  | target_function
  ;

component_function:
    COMPONENT '(' STRING ',' STRING ',' STRING optional_xtra_string ')'
      { if (!act_component_open(rd, *$3, *$5, *$7, *$8)) YYABORT; }
    '{' component_function_body '}' { act_component_close(rd); }
  ;
component_function_body: %empty | component_function_body component_statement ;
component_statement:
    global_functions
  | replaces_function
  | upgrades_function
  | requires_function
  | dependency_function
  | subpackage_function
  | verbatim_function
  ;

file_function:
    optional_create FILETOKEN '(' STRING ')' { act_entry_open(rd, *$4, $1, EntryKind::file); }
    '{' file_body '}' { act_entry_close(rd); }
  ;
allfiles_function:
    ALLFILES '(' STRING optional_pathmatch ')'
      { if (!act_pattern_open(rd, *$3, $4, EntryKind::file_pattern)) YYABORT; }
    '{' file_body '}' { act_entry_close(rd); }
  ;
dir_function:
    optional_create DIRECTORY '(' STRING ')' { act_entry_open(rd, *$4, $1, EntryKind::dir); }
    '{' dir_body '}' { act_entry_close(rd); }
  ;
alldirs_function:
    ALLDIRS '(' STRING optional_pathmatch ')'
      { if (!act_pattern_open(rd, *$3, $4, EntryKind::dir_pattern)) YYABORT; }
    '{' dir_body '}' { act_entry_close(rd); }
  ;
symlink_function:
    optional_create SYMLINK '(' file_or_dir_syml ',' STRING optional_xtra_string ')' lineend
      { if (!act_symlink_open(rd, $1, $4, *$6, *$7)) YYABORT; }
    '{' syml_body '}' { act_entry_close(rd); }
  ;

common_functions:
    export_function
  | owner_function
  | group_function
  | mode_function
  | addexport_function
  | access_function
  | flags_function
  | exportlinks_function
  | exportok_function
  | ssoprivate_function
  | except_function
  ;
file_body: file_statement | file_body file_statement ;
file_statement:
    common_functions
  | convert_function
  | linkok_function
  | includes_function
  | global_functions
  ;
dir_body: dir_statement | dir_body dir_statement ;
dir_statement: common_functions | exportall_function | global_functions ;
syml_body: %empty | syml_body syml_statement ;
syml_statement:
    export_function
  | addexport_function
  | access_function
  | flags_function
  | exportok_function
  | global_functions
  ;

%%

void yyerror(const CtlPos*, CtlReader& rd, const char* msg) {
  ctl_live_position(rd);
  ctl_yyerror(rd, msg);
}

/* "syntax error, unexpected X, expecting A or B": the expected tokens are
   listed only when there are at most four. */
static int yyreport_syntax_error(const yypcontext_t* ctx, CtlReader& rd) {
  auto name = [](yysymbol_kind_t k) {
    return k == YYSYMBOL_YYUNDEF ? "$undefined" : yysymbol_name(k);
  };
  ctl_live_position(rd);  // the offending token's line
  yysymbol_kind_t tok = yypcontext_token(ctx);
  if (tok == YYSYMBOL_YYEMPTY) {
    ctl_yyerror(rd, "syntax error");
    return 0;
  }
  std::string msg = std::string("syntax error, unexpected ") + name(tok);
  yysymbol_kind_t expected[4];
  int n = yypcontext_expected_tokens(ctx, expected, 4);
  for (int i = 0; i < n; ++i) msg += std::string(i ? " or " : ", expecting ") + name(expected[i]);
  ctl_yyerror(rd, msg.c_str());
  return 0;
}

int ctl_run_parser(CtlReader& rd, bool trace) {
  yydebug = trace;
  rd.trace = ParseTrace{};
  return yyparse(rd);
}

/* The trace printer: passes everything through except two lines, which
   keep the classic form "Reading a token: " and one line per reduction,
   "Reducing stack by rule N (line L), a b c -> lhs". Bison prints some
   trace lines where the parser's parameter is out of reach, so the
   printer keeps its place in the one reader, `ctl`, which every pass
   reads with. */
static void ctl_trace_printf(FILE* f, const char* format, ...) {
  ParseTrace& trace_state = ctl.trace;
  va_list ap;
  va_start(ap, format);
  if (std::strcmp(format, "Reading a token\n") == 0) {
    std::fputs("Reading a token: ", f);
  } else if (std::strcmp(format, "Reducing stack by rule %d (line %d):\n") == 0) {
    int rule = va_arg(ap, int);
    int line = va_arg(ap, int);
    std::fprintf(f, "Reducing stack by rule %d (line %lu), ", rule, static_cast<unsigned long>(line));
    trace_state.rhs_left = yyr2[rule + 1];
    trace_state.lhs = yysymbol_name(static_cast<yysymbol_kind_t>(yyr1[rule + 1]));
    trace_state.mode = ParseTrace::Mode::right_hand_side;
    if (trace_state.rhs_left == 0) {
      std::fprintf(f, "-> %s\n", trace_state.lhs);
      trace_state.mode = ParseTrace::Mode::pass_through;
    }
  } else if (trace_state.mode == ParseTrace::Mode::right_hand_side) {
    if (std::strcmp(format, "%s %s (") == 0) {
      va_arg(ap, const char*);
      std::fprintf(f, "%s ", va_arg(ap, const char*));
    } else if (std::strcmp(format, "\n") == 0 && --trace_state.rhs_left == 0) {
      std::fprintf(f, "-> %s\n", trace_state.lhs);
      trace_state.mode = ParseTrace::Mode::pass_through;
    }
  } else if (std::strcmp(format, ": ") == 0) {
    // follows each symbol's (empty) location
  } else if (trace_state.mode == ParseTrace::Mode::bison_lhs) {
    if (std::strcmp(format, "\n") == 0) trace_state.mode = ParseTrace::Mode::pass_through;
  } else if (std::strcmp(format, "%s ") == 0) {
    const char* title = va_arg(ap, const char*);
    if (std::strcmp(title, "-> $$ =") == 0)
      trace_state.mode = ParseTrace::Mode::bison_lhs;
    else
      std::fprintf(f, "%s ", title);
  } else {
    std::vfprintf(f, format, ap);
  }
  va_end(ap);
}
