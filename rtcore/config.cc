// Configuration values: set in the program, else the environment, else the runtime
// configuration file named by RT_CONFIG, else the caller's default. An empty value counts
// as not given, so "NAME=" in the environment lets the file's value through.
#include <cctype>
#include <cstdlib>
#include <new>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "ixkit/libs/rtcore.h"
#include "rtcore/internal.h"

namespace {

struct ConfigState {
  std::unordered_map<std::string, long> set;
  bool file_read = false;
  std::unordered_map<std::string, std::string> file;
  // Every text handed out, so that returned pointers stay valid for the run.
  std::unordered_set<std::string> handed_out;
};

ConfigState& state() {
  static ConfigState* s = new ConfigState;
  return *s;
}

// Lines "NAME VALUE"; blank lines and lines whose first visible character is '#' are
// comments. The value runs to the end of the line without its trailing blanks; a later
// line for the same name wins.
void read_file(ConfigState& s) {
  s.file_read = true;
  s.file.clear();
  const char* name = getenv("RT_CONFIG");
  if (!name || !*name) return;
  FILE* file = rt_fopen(name, "r", 0);
  if (!file) return;
  std::string line;
  while (rtcore::read_line(file, line)) {
    size_t start = 0;
    while (start < line.size() && isspace(static_cast<unsigned char>(line[start]))) ++start;
    if (start == line.size() || line[start] == '#') continue;
    size_t end = start;
    while (end < line.size() && !isspace(static_cast<unsigned char>(line[end]))) ++end;
    size_t value = end;
    while (value < line.size() && isspace(static_cast<unsigned char>(line[value]))) ++value;
    size_t last = line.size();
    while (last > value && isspace(static_cast<unsigned char>(line[last - 1]))) --last;
    if (last > value) s.file[line.substr(start, end - start)] = line.substr(value, last - value);
  }
  rt_fclose(file);
}

// The environment's text, else the file's; null when neither gives one.
const char* lookup(const char* name) {
  if (!name || !*name) return nullptr;
  const char* text = getenv(name);
  if (text && *text) return text;
  ConfigState& s = state();
  if (!s.file_read) read_file(s);
  auto found = s.file.find(name);
  return found == s.file.end() ? nullptr : found->second.c_str();
}

}  // namespace

// Decimal like the C library's conversion: leading blanks, a sign, the leading digits;
// a text without digits reads as 0, one out of range as the nearest limit.
long rt_config_int(const char* name, long dflt) {
  if (!name) return dflt;
  try {
    ConfigState& s = state();
    auto found = s.set.find(name);
    if (found != s.set.end()) return found->second;
    const char* text = lookup(name);
    return text ? strtol(text, nullptr, 10) : dflt;
  } catch (const std::bad_alloc&) {
    return dflt;
  }
}

const char* rt_config_text(const char* name) {
  try {
    const char* text = lookup(name);
    if (!text) return nullptr;
    return state().handed_out.insert(text).first->c_str();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void rt_config_set(const char* name, int, long value) {
  if (!name || !*name) return;
  try {
    state().set[name] = value;
  } catch (const std::bad_alloc&) {
  }
}

void rt_config_unset(const char* name) {
  if (name) state().set.erase(name);
}

void rt_config_reset() {
  ConfigState& s = state();
  s.set.clear();
  s.file.clear();
  s.file_read = false;
}
