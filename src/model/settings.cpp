#include "model/settings.hpp"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "common/diag.hpp"

Options opts;

void reset_settings() { opts = Options{}; }

bool parse_int(const char* text, long long& value) {
  if (!text || !*text) return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(text, &end, 0);
  if (errno == ERANGE || *end != '\0') return false;
  value = v;
  return true;
}

int opt_setint_1(int, int, char**, void* target) {
  *static_cast<int*>(target) = 1;
  return 0;
}

namespace {

bool store_int(void* target, long long v) {
  if (v < INT_MIN || v > INT_MAX) return false;
  *static_cast<int*>(target) = static_cast<int>(v);
  return true;
}

bool store_int64(void* target, long long v) {
  *static_cast<std::int64_t*>(target) = v;
  return true;
}

// A handler reading its argument word with `store`.
int set_from_word(int letter, char** args, void* target, bool (*store)(void*, long long)) {
  long long v;
  if (!parse_int(args[0], v) || !store(target, v)) {
    error("invalid integer value `%s' specified to option -%c\n", args[0], letter);
    return -1;
  }
  return 1;
}

// A setter reading the control file's value with `store`.
int set_from_value(const char* value, void* target, bool (*store)(void*, long long)) {
  long long v;
  if (!parse_int(value, v)) return 1;
  return store(target, v) ? 0 : 1;
}

}  // namespace

int opt_setint(int letter, int, char** args, void* target) {
  return set_from_word(letter, args, target, store_int);
}

int opt_setint64(int letter, int, char** args, void* target) {
  return set_from_word(letter, args, target, store_int64);
}

int opt_setstr(int, int, char** args, void* target) {
  *static_cast<optstr*>(target) = std::string(args[0]);
  return 1;
}

int opt_setstrval(int, const char* value, void* target) {
  *static_cast<optstr*>(target) = std::string(value ? value : "");
  return 0;
}

int opt_setintval(int, const char* value, void* target) {
  return set_from_value(value, target, store_int);
}

int opt_setint64val(int, const char* value, void* target) {
  return set_from_value(value, target, store_int64);
}

const option* find_option(option_table table, const char* name) {
  for (const option& o : table)
    if (o.name && std::strcmp(o.name, name) == 0) return &o;
  return nullptr;
}

set_result set_option(const option* row, const char* value) {
  if (!row || !row->setter) return set_result::unknown;
  if (row->setter(option_letter(*row), value, row->target) != 0) return set_result::invalid_value;
  return set_result::done;
}
