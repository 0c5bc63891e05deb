// libFuzzer target: -gen's reader of parameter files, with the translation tables its lines
// name. The input is two files as fuzz/fuzz_files.h lays them out: the parameter file, and
// the file T in the directory where the files are made, for lines that name T as their
// table; the fourth byte chooses the format version of new files (2 to 5). Every '/' of the
// parameter file is made '_', so that every file it names lies in that directory, which is
// made empty for each input. An input with a file name longer than 200 bytes is not run:
// an empty flat file that cannot be made ends the run, as -gen is meant to.
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_files.h"
#include "ixkit/front/state.h"
#include "ixkit/gen/gen.h"

namespace {

// Whether every line's text before its first comma (where the file name lies) is at most
// 200 bytes long.
bool short_names(const std::string& text) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    size_t comma = text.find(',', start);
    if (comma < end && comma - start > 200) return false;
    start = end + 1;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::start("gen_fuzz");
  quiet = 1;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string parameters = fuzz::g_dir + "/p", directory = fuzz::g_dir + "/d";
  fuzz::fresh_directory(directory);
  fuzz::Parts parts;
  if (!fuzz::split_parts(data, size, &parts)) return 0;
  const std::string lines = fuzz::inside(parts.first);
  if (!short_names(lines)) return 0;
  fuzz::put_file(parameters, lines);
  fuzz::put_file(directory + "/T", parts.second);
  rt_config_set("K_VERSION", 0, 2 + parts.flags % 4);
  gen_parameter_file(parameters.c_str(), directory.c_str());
  if (fuzz::g_dir != std::filesystem::current_path()) abort();  // the directory is restored
  k5_exit(0);
  return 0;
}
