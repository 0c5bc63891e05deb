// Shared by the fuzz targets: a scratch directory with the runtime and the library started
// quietly, answers for the console, file names that stay inside the scratch directory, and
// an input of two files. The first three bytes of such an input give the length of the
// first file, the fourth is the target's own, and the rest is the first file followed by
// the second: data segment 0 and index segment 0 of a Kelvra file, the two files of a
// foreign one, or a parameter file and a translation table.
#ifndef FUZZ_FUZZ_FILES_H
#define FUZZ_FUZZ_FILES_H

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "ixkit/front/state.h"
#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"

namespace fuzz {

inline std::string g_dir;

// Where the libraries' output goes.
inline FILE* null_stream() {
  static FILE* null = fopen("/dev/null", "w");
  if (!null) abort();
  return null;
}

// Makes the scratch directory (named after prefix, in $TMPDIR or /tmp) the working directory,
// where ki_dump writes, and starts the libraries, their output and what the program prints
// with the C library sent to /dev/null (libFuzzer reports on standard error). A run that
// ends normally removes the directory; one that fails leaves it as the last input left it.
inline void start(const char* prefix) {
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + ".XXXXXX";
  if (!mkdtemp(pattern.data())) abort();
  g_dir = pattern;
  if (chdir(g_dir.c_str()) != 0) abort();
  atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(g_dir, ignored);
  });
  rt_init(-1, nullptr, nullptr);
  if (!freopen("/dev/null", "w", stdout)) abort();
  rt_set_stdio(stdin, null_stream(), null_stream());
  k5_init_cfg();
  k5_init();
}

// start for a target that fills new files: quiet, and a small key memory for the fast
// fill, which reserves room for its keys by it (small files need little, and every
// reservation costs the address sanitizer a pass over its shadow).
inline void start_filling(const char* prefix) {
  start(prefix);
  quiet = 1;
  rt_config_set("K_SORT_MEMORY", 0, 1 << 20);
}

// Gives the console (the runtime's standard input) the lines of answers, read from the
// start. A last answer "n" keeps every question from meeting the end of the input, which
// ends the run.
inline void answer(const std::string& answers) {
  static std::string text;
  static FILE* console = nullptr;
  if (console) fclose(console);
  text = answers;
  console = fmemopen(text.data(), text.size(), "r");
  if (!console) abort();
  rt_set_stdio(console, null_stream(), null_stream());
}

inline void put_file(const std::string& path, const uint8_t* p, size_t n) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) abort();
  if (n && write(fd, p, n) != static_cast<ssize_t>(n)) abort();
  close(fd);
}

inline void put_file(const std::string& path, const std::string& bytes) {
  put_file(path, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// The text with every '/' made '_': file names taken from it stay inside the working
// directory.
inline std::string inside(std::string text) {
  std::replace(text.begin(), text.end(), '/', '_');
  return text;
}

// An empty directory path, made anew (whatever an earlier input left there is removed).
inline void fresh_directory(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
  if (!std::filesystem::create_directory(path, ignored)) abort();
}

// The two parts of an input and its fourth byte.
struct Parts {
  std::string first, second;
  int flags;
};

// Cuts the input into its parts: false when it is too short.
inline bool split_parts(const uint8_t* data, size_t size, Parts* parts) {
  if (size < 5) return false;
  uint32_t first_size = static_cast<uint32_t>(data[0]) << 16 | data[1] << 8 | data[2];
  parts->flags = data[3];
  data += 4;
  size -= 4;
  if (first_size > size) first_size = static_cast<uint32_t>(size);
  parts->first.assign(reinterpret_cast<const char*>(data), first_size);
  parts->second.assign(reinterpret_cast<const char*>(data) + first_size, size - first_size);
  return true;
}

// Writes the input's two parts to the files first and second: false when the input is too
// short. flags, when not null, receives the fourth byte.
inline bool put_parts(const uint8_t* data, size_t size, int* flags, const std::string& first,
                      const std::string& second) {
  Parts parts;
  if (!split_parts(data, size, &parts)) return false;
  if (flags) *flags = parts.flags;
  put_file(first, parts.first);
  put_file(second, parts.second);
  return true;
}

// Writes the input's two segments; the file's name, or "" when the input is too short.
inline std::string put_input(const uint8_t* data, size_t size, int* flags) {
  std::string name = g_dir + "/f";
  return put_parts(data, size, flags, name, name + ".x0") ? name : "";
}

}  // namespace fuzz

#endif  // FUZZ_FUZZ_FILES_H
