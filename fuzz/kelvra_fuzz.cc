// libFuzzer target: the Kelvra library on damaged files laid out as fuzz/fuzz_files.h says;
// the fourth byte chooses the open flags and whether to change the file. Every open, read,
// walk and change must end with a result code, never with a crash, a hang or a sanitizer
// report.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_files.h"

namespace {

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
  fuzz::start("kelvra_fuzz");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int flags = 0;
  std::string name = fuzz::put_input(data, size, &flags);
  if (name.empty()) return 0;
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
