// libFuzzer target: the rejected-records file. The input after its first byte is a flat
// file in the portable variable framing; it is loaded (-load -bv, or -bvx) into a new file
// whose one-byte primary key refuses most records as duplicates, so that they go to the
// rejected-records file, which is then loaded the same way into a second new file. The
// first byte chooses the maximum record size: up to 65535 the file has 2-byte prefixes,
// above 4-byte ones (x). Every record stored as rejected must come back from the file.
#include <cstdlib>
#include <string>

#include "fuzz/flat_load.h"
#include "fuzz/fuzz_files.h"
#include "ixkit/front/state.h"

namespace {

const uint32_t kRecordSizes[4] = {3, 300, 65535, 70000};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::start_filling("rejects_fuzz");
  unsetenv("C_SEQ_DEFAULT_BLOCK_SIZE");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint32_t max_size = kRecordSizes[data[0] & 3];
  const LoadOptions options = {.b = true, .v = true, .x = max_size > 65535};
  const bool packed = data[0] & 4;
  const std::string source = fuzz::g_dir + "/flat", rejects = source + ".rej",
                    again = rejects + ".rej", first = fuzz::g_dir + "/k1",
                    second = fuzz::g_dir + "/k2";
  fuzz::put_file(source, data + 1, size - 1);
  if (!fuzz::make_flat_destination(first, 5, max_size, packed) ||
      !fuzz::make_flat_destination(second, 5, max_size, packed)) {
    abort();
  }
  const fuzz::LoadResult loaded = fuzz::load_flat(source, first, options);
  if (loaded.written < 0 || !loaded.closed) abort();
  if (loaded.rejected > 0) {
    const fuzz::LoadResult back = fuzz::load_flat(rejects, second, options);
    if (back.written != loaded.rejected || !back.closed) abort();
    if (fuzz::record_count(second) != back.written - back.rejected) abort();
  }
  k5_exit(0);
  k5_remove(first.c_str());
  k5_remove(second.c_str());
  unlink(rejects.c_str());
  unlink(again.c_str());
  return 0;
}
