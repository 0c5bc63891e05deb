// libFuzzer targets of the three foreign readers, one program each, chosen when it is built
// with -DFOREIGN= one of the format codes of ixkit/convert/convert.h:
//   FORMAT_CISAM    the input's two parts are name.idx and name.dat
//   FORMAT_HVC      its first part is the file (the second is not read)
//   FORMAT_TOLVANE  its parts are name.idx and the data file name
// The fourth byte of the input chooses the format version made (3, 4 or 5) and the
// compression choice (-1, 0 or +1). Every file must end with a message or a converted file,
// never with a crash, a hang or a sanitizer report.
#include <cstring>

#include "fuzz/fuzz_files.h"
#include "ixkit/convert/convert.h"
#include "ixkit/front/state.h"

#ifndef FOREIGN
#error "build with -DFOREIGN=FORMAT_CISAM, FORMAT_HVC or FORMAT_TOLVANE"
#endif

namespace {

struct Target {
  void (*convert)(const char* name, int choice, ConvertDescription* d);
  const char *name, *first, *second;  // the file's name, the extensions of the two parts
};

Target target() {
  switch (FOREIGN) {
    case FORMAT_CISAM:
      return {convert_cisam, "c", ".idx", ".dat"};
    case FORMAT_HVC:
      return {convert_hvc, "h", "", ".rest"};
    default:
      return {convert_tolvane, "t", ".idx", ""};
  }
}

ConvertDescription description;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::start_filling("foreign_fuzz");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Target t = target();
  const std::string base = fuzz::g_dir + "/" + t.name;
  int flags = 0;
  if (!fuzz::put_parts(data, size, &flags, base + t.first, base + t.second)) return 0;
  memset(&description, 0, sizeof description);
  rt_config_set("K_VERSION", 0, 3 + flags % 3);
  t.convert(base.c_str(), (flags / 3) % 3 - 1, &description);
  k5_exit(0);
  return 0;
}
