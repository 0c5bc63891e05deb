// libFuzzer target: ixkit's own readers of damaged files laid out as fuzz/fuzz_files.h
// says. The file is reported (-info -x -k), sized and checked (-check -fx), which runs the
// program's header reader and raw record scanner beside the library.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_files.h"
#include "ixkit/describe/describe.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"
#include "ixkit/repair/check.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::start("ixkit_fuzz");
  bKForceOpen = 1;
  quiet = 1;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string name = fuzz::put_input(data, size, nullptr);
  if (name.empty()) return 0;
  info_file(name.c_str(), 1, 0, 1);
  size_file(name.c_str(), 0);
  check_file(name.c_str(), 2, -1);
  k5_exit(0);
  return 0;
}
