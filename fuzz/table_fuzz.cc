// libFuzzer target: the reader of translation table files (-gen). The input is the file.
// Every file must give a table, without a crash, a hang or a sanitizer report, in which
// every byte value has a position and the positions used run from 0 without a gap: each
// character takes the next position or, after "&", the last one again.
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_files.h"
#include "ixkit/gen/gen.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::start("table_fuzz");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string name = fuzz::g_dir + "/table";
  fuzz::put_file(name, data, size);
  uint8_t* table = read_translation_table(name.c_str());
  if (table == nullptr) abort();
  bool used[256] = {};
  int highest = 0;
  for (int c = 0; c < 256; ++c) {
    used[table[c]] = true;
    if (table[c] > highest) highest = table[c];
  }
  for (int p = 0; p <= highest; ++p) {
    if (!used[p]) abort();
  }
  rt_free(table, "fuzz", __LINE__, 0);
  return 0;
}
