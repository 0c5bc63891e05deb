// Shared by the fuzz targets: a scratch directory with the runtime and the library started
// quietly, and an input of two files. The first three bytes of the input give the length of
// the first file, the fourth is the target's own, and the rest is the first file followed by
// the second: data segment 0 and index segment 0 of a Kelvra file, or the two files of a
// foreign one.
#ifndef FUZZ_FUZZ_FILES_H
#define FUZZ_FUZZ_FILES_H

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"

namespace fuzz {

inline std::string g_dir;

// Makes the scratch directory (named after prefix, in $TMPDIR or /tmp) the working directory,
// where ki_dump writes, and starts the libraries, their output sent to /dev/null.
inline void start(const char* prefix) {
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + ".XXXXXX";
  if (!mkdtemp(pattern.data())) abort();
  g_dir = pattern;
  if (chdir(g_dir.c_str()) != 0) abort();
  rt_init(-1, nullptr, nullptr);
  FILE* null = fopen("/dev/null", "w");
  rt_set_stdio(stdin, null, null);
  k5_init_cfg();
  k5_init();
}

inline void put_file(const std::string& path, const uint8_t* p, size_t n) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) abort();
  if (n && write(fd, p, n) != static_cast<ssize_t>(n)) abort();
  close(fd);
}

// Writes the input's two parts to the files first and second: false when the input is too
// short. flags, when not null, receives the fourth byte.
inline bool put_parts(const uint8_t* data, size_t size, int* flags, const std::string& first,
                      const std::string& second) {
  if (size < 5) return false;
  uint32_t first_size = static_cast<uint32_t>(data[0]) << 16 | data[1] << 8 | data[2];
  if (flags) *flags = data[3];
  data += 4;
  size -= 4;
  if (first_size > size) first_size = static_cast<uint32_t>(size);
  put_file(first, data, first_size);
  put_file(second, data + first_size, size - first_size);
  return true;
}

// Writes the input's two segments; the file's name, or "" when the input is too short.
inline std::string put_input(const uint8_t* data, size_t size, int* flags) {
  std::string name = g_dir + "/f";
  return put_parts(data, size, flags, name, name + ".x0") ? name : "";
}

}  // namespace fuzz

#endif  // FUZZ_FUZZ_FILES_H
