// libFuzzer target: the Kelvra library on damaged files. The input is a file's bytes: four
// bytes give the length of data segment 0, the rest is index segment 0. Every open, read,
// walk and change must end with a result code, never with a crash, a hang or a sanitizer
// report.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"

namespace {

std::string g_dir;

void put_file(const std::string& path, const uint8_t* p, size_t n) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) abort();
  if (n && write(fd, p, n) != static_cast<ssize_t>(n)) abort();
  close(fd);
}

// Reads every key forwards and backwards, a bounded number of records each way.
void read_all(KFile* f) {
  std::vector<uint8_t> rec(f->max_record_size + 16, 0);
  char text[300];
  for (int code = -5; code <= f->key_count; code++) k5_info(f, code, text);
  for (int k = 0; k < f->key_count && k < 4; k++) {
    memset(rec.data(), 0, rec.size());
    if (k5_start(f, rec.data(), k, 0, K_START_NOT_LESS)) {
      for (int i = 0; i < 2000 && k5_next(f, rec.data()) > 0; i++) {
      }
    }
    memset(rec.data(), 0xFF, rec.size());
    if (k5_start(f, rec.data(), k, 0, K_START_NOT_GREATER)) {
      for (int i = 0; i < 2000 && k5_previous(f, rec.data()) > 0; i++) {
      }
    }
  }
  ki_dump(f);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char tmpl[] = "/tmp/kelvra_fuzz.XXXXXX";
  if (!mkdtemp(tmpl)) abort();
  g_dir = tmpl;
  if (chdir(tmpl) != 0) abort();
  rt_init(-1, nullptr, nullptr);
  FILE* null = fopen("/dev/null", "w");
  rt_set_stdio(stdin, null, null);
  k5_init_cfg();
  k5_init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  uint32_t data_size = static_cast<uint32_t>(data[0]) << 16 | data[1] << 8 | data[2];
  int flags = data[3];
  data += 4;
  size -= 4;
  if (data_size > size) data_size = static_cast<uint32_t>(size);
  std::string name = g_dir + "/f";
  put_file(name, data, data_size);
  put_file(name + ".x0", data + data_size, size - data_size);
  bKForceOpen = flags & 1;
  k_ixkit = (flags >> 1) & 1;
  k_open_no_index = (flags >> 2) & 1;
  rt_config_set("K_OPEN_STRICT", 0, (flags >> 3) & 1);
  if (KFile* f = k5_open(name.c_str(), K_MODE_READ, "0,0,0")) {
    read_all(f);
    k5_close(f);
  }
  if (flags & 16) {
    // Changes to a damaged file must fail cleanly too.
    if (KFile* f = k5_open(name.c_str(), (flags & 32) ? K_MODE_FAST_FILL : K_MODE_WRITE, "0,0,0")) {
      std::vector<uint8_t> rec(f->max_record_size, 'A');
      for (int i = 0; i < 20; i++) {
        rec[i % rec.size()] = static_cast<uint8_t>('0' + i);
        k5_write(f, rec.data(), 0);
        k5_rewrite(f, rec.data(), 0);
        if (i % 3 == 0) k5_delete(f, rec.data());
      }
      k5_close(f);
    }
  }
  k5_exit(0);
  return 0;
}
