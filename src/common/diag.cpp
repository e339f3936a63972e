// Provisional reporters: the real word-wrapping layout replaces jputs.
#include "common/diag.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>

Diagnostics diag;

void exit_run(int status) { throw run_exit{status}; }

std::string vstrprintf(const char* format, va_list ap) {
  va_list ap2;
  va_copy(ap2, ap);
  int n = std::vsnprintf(nullptr, 0, format, ap2);
  va_end(ap2);
  std::string s(n > 0 ? n : 0, '\0');
  if (n > 0) std::vsnprintf(s.data(), n + 1, format, ap);
  return s;
}

std::string strprintf(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string s = vstrprintf(format, ap);
  va_end(ap);
  return s;
}

int jputs(int col, int, FILE* stream, const std::string& text) {
  std::fputs(text.c_str(), stream);
  return text.empty() || text.back() == '\n' ? 1 : col + int(text.size());
}

int jprintf(int col, int indent, FILE* stream, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string s = vstrprintf(format, ap);
  va_end(ap);
  return jputs(col, indent, stream, s);
}

namespace {

void report(int kind, const char* prefix, int* counter, const char* format, va_list ap) {
  bool cont = format[0] == CONT_MARK;
  std::string text = vstrprintf(cont ? format + 1 : format, ap);
  int col;
  if (!cont) {
    if (diag.lasttype != kind) std::fputc('\n', stderr);
    std::fputs(prefix, stderr);
    col = int(std::strlen(prefix));
    if (counter) ++*counter;
  } else {
    col = diag.kindcol[kind];
  }
  diag.kindcol[kind] = jputs(col, 4, stderr, text);
  diag.lasttype = kind;
}

}  // namespace

void error(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  report(0, "ERROR:", &diag.errors, format, ap);
  va_end(ap);
}

void warning(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  report(1, "WARNING:", &diag.warnings, format, ap);
  va_end(ap);
}

void info(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  report(2, "INFO:", nullptr, format, ap);
  va_end(ap);
}

void fatal(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string text = vstrprintf(format, ap);
  va_end(ap);
  std::fputs("\nFATAL:", stderr);
  jputs(6, 4, stderr, text);
  exit_run(1);
}

bool debug_on(int level) { return diag.dbgfile && level <= diag.dbglevel; }

void debug(int level, const char* format, ...) {
  if (!debug_on(level)) return;
  va_list ap;
  va_start(ap, format);
  std::vfprintf(diag.dbgfile, format, ap);
  va_end(ap);
  std::fflush(diag.dbgfile);
}

void close_debug() {
  if (diag.dbgfile) std::fclose(diag.dbgfile);
  diag.dbgfile = nullptr;
}

void set_debug(int level, const char* path) {
  close_debug();
  diag.dbgfile = std::fopen(path, "w");
  if (!diag.dbgfile) {
    error("unable to open debug file `%s' for writing.\n", path);
    exit_run(1);
  }
  diag.dbglevel = level;
}

void perror_label(const char* label) {
  int e = errno;
  std::fprintf(stderr, "%s: %s\n", label, std::strerror(e));
}
