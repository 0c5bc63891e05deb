// libFuzzer target: ixkit's own readers of damaged files. The input is laid out as for
// kelvra_fuzz; the file is reported (-info -x -k), sized and checked (-check -fx), which runs
// the program's header reader and raw record scanner beside the library.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ixkit/describe/describe.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"
#include "ixkit/repair/check.h"

namespace {

std::string g_dir;

void put_file(const std::string& path, const uint8_t* p, size_t n) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) abort();
  if (n && write(fd, p, n) != static_cast<ssize_t>(n)) abort();
  close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char tmpl[] = "/tmp/ixkit_fuzz.XXXXXX";
  if (!mkdtemp(tmpl)) abort();
  g_dir = tmpl;
  rt_init(-1, nullptr, nullptr);
  FILE* null = fopen("/dev/null", "w");
  rt_set_stdio(stdin, null, null);
  k5_init_cfg();
  k5_init();
  bKForceOpen = 1;
  quiet = 1;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  uint32_t data_size = static_cast<uint32_t>(data[0]) << 16 | data[1] << 8 | data[2];
  data += 4;
  size -= 4;
  if (data_size > size) data_size = static_cast<uint32_t>(size);
  std::string name = g_dir + "/f";
  put_file(name, data, data_size);
  put_file(name + ".x0", data + data_size, size - data_size);
  info_file(name.c_str(), 1, 0, 1);
  size_file(name.c_str(), 0);
  check_file(name.c_str(), 2, -1);
  k5_exit(0);
  return 0;
}
