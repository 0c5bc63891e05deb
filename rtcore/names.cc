// File names: removal, path parts, temporary names and added extensions.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "ixkit/libs/rtcore.h"

namespace {

bool is_separator(char c) {
  return c == '/' || c == '\\';
}

// Counts the temporary names made by this process, so that each call gives a new one.
unsigned long g_temp_serial = 0;

// Names tried before rt_temp_name gives up.
constexpr int kTempTries = 1000;

// A name is free when nothing, not even a dangling link, carries it.
bool name_free(const char* name) {
  struct stat info;
  return lstat(name, &info) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

}  // namespace

// Removes a file (never a directory).
int rt_remove(const char* name) {
  if (!name) {
    errno = EINVAL;
    return -1;
  }
  return rt_os_unlink(name);
}

const char* rt_path_base(const char* path) {
  if (!path) return nullptr;
  const char* base = path;
  for (const char* p = path; *p; ++p) {
    if (is_separator(*p)) base = p + 1;
  }
  return base;
}

void rt_path_append(char* directory, const char* name) {
  if (!directory || !name) return;
  std::string tail = name;  // name may lie within directory's area
  size_t length = strlen(directory);
  if (length > 0 && !is_separator(directory[length - 1])) directory[length++] = '/';
  memcpy(directory + length, tail.c_str(), tail.size() + 1);
}

// The name is directory, a separator when needed, prefix, the process number, '_' and a
// serial number; serial numbers are tried until one gives a name that does not exist.
int rt_temp_name(const char* directory, const char* prefix, int, char* out, int capacity) {
  if (!out || capacity < 1) return 0;
  std::string path = directory ? directory : "";  // out may be directory's area
  if (!path.empty() && !is_separator(path.back())) path += '/';
  path += prefix ? prefix : "";
  path += std::to_string(static_cast<long>(getpid()));
  path += '_';
  size_t stem = path.size();
  for (int tries = 0; tries < kTempTries; ++tries) {
    path.resize(stem);
    path += std::to_string(++g_temp_serial);
    if (path.size() >= static_cast<size_t>(capacity)) break;  // longer serials fit no better
    if (name_free(path.c_str())) {
      memcpy(out, path.c_str(), path.size() + 1);
      return 1;
    }
  }
  out[0] = '\0';
  return 0;
}

void rt_name_with_extension(char* out, const char* base, const char* extension) {
  if (!out) return;
  std::string name = base ? base : "";  // out may be base's area
  name += '.';
  name += extension ? extension : "";
  memcpy(out, name.c_str(), name.size() + 1);
}
