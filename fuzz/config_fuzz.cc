// libFuzzer target: the reader of the runtime configuration file (RT_CONFIG). The input is
// the file, every '/' made '_' so that a file it names (the message catalogue) lies in the
// scratch directory, where the catalogue "m" is. The values the program reads are taken
// from it, the library is configured by them, and a small file is made, filled (through the
// fast fill when the sort memory is small), read and removed under them. Every file must
// give values without a crash, a hang or a sanitizer report, and a value read twice must
// read the same both times.
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/fuzz_files.h"

namespace {

// Every value the program and the libraries read from the configuration.
const char* const kNames[] = {"K_VERSION",     "K_BUFFERS",     "MAX_FILES",      "K_SEGMENT_SIZE",
                              "K_SORT_MEMORY", "K_OPEN_STRICT", "RT_LEAK_REPORT", "RT_MESSAGES"};

// Makes, fills, reads and removes a small file with the library as configured.
void use_library() {
  k5_init_cfg();
  const char* name = "k";
  if (!k5_make(name, "config", "1,0,0,1,0", "40,10,2", "1,0,8,0,1,1,4,8", nullptr)) return;
  // The fast fill reserves room for its keys by the sort memory: only a small one is used,
  // as every reservation costs the address sanitizer a pass over its shadow.
  const bool fast = rt_config_int("K_SORT_MEMORY", 64L << 20) <= 1 << 20;
  if (KFile* f = k5_open(name, fast ? K_MODE_FAST_FILL : K_MODE_FILL, "0,0,0")) {
    char record[41];
    for (int i = 0; i < 60; ++i) {
      snprintf(record, sizeof record, "%08d%04d----------------------------", (i * 37) % 50, i % 9);
      k5_write(f, record, 40);
    }
    k5_close(f);
  }
  if (KFile* f = k5_open(name, K_MODE_READ, "0,0,0")) {
    char record[41] = {};
    if (k5_start(f, record, 1, 0, 0)) {
      for (int i = 0; i < 100 && k5_next(f, record) > 0; ++i) {
      }
    }
    k5_close(f);
  }
  k5_remove(name);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::start("config_fuzz");
  for (const char* name : kNames) unsetenv(name);
  // The fault plan of the runtime's file calls is read at its first call: before the
  // configuration names one, so that the file calls here never fail on purpose.
  unsetenv("RT_FAULT");
  unsetenv("RT_FAULT_COUNT");
  rt_close(rt_open("m", RT_OPEN_READ));
  const char catalogue[] = "943 Wirklich? \n998 Satzlaenge = %d\n";
  fuzz::put_file(fuzz::g_dir + "/m", reinterpret_cast<const uint8_t*>(catalogue),
                 sizeof catalogue - 1);
  setenv("RT_CONFIG", (fuzz::g_dir + "/config").c_str(), 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::put_file(fuzz::g_dir + "/config",
                 fuzz::inside(std::string(reinterpret_cast<const char*>(data), size)));
  rt_config_reset();
  for (const char* name : kNames) {
    const char* text = rt_config_text(name);
    const long value = rt_config_int(name, -1);
    const char* again = rt_config_text(name);
    if ((text == nullptr) != (again == nullptr) || (text && strcmp(text, again) != 0)) abort();
    if (rt_config_int(name, -1) != value) abort();
  }
  rt_message(998, 0, "Record size = %d\n");
  use_library();
  // Catalogues read are released; the libraries' output stays discarded.
  rt_shutdown();
  rt_set_stdio(stdin, fuzz::null_stream(), fuzz::null_stream());
  return 0;
}
