// libFuzzer target: -load's readers of flat files in every framing, through the block
// buffer at several block sizes, into a new Kelvra file. The first byte of the input
// chooses the framing (low 3 bits) and the writer (option letters l, r and s, bits 3 to 5)
// and compression (bit 6); the second the maximum record size (low 3 bits), the format
// version (bits 3 and 4) and the block size (bits 5 to 7); the rest is the flat file.
// Every file must load without a crash, a hang or a sanitizer report, and without r or s
// the records in the file must be those loaded less those rejected.
#include <cstdlib>
#include <string>

#include "fuzz/flat_load.h"
#include "fuzz/fuzz_files.h"
#include "ixkit/front/state.h"

namespace {

// The option letters b, d, t, v, x of each framing.
const LoadOptions kFramings[8] = {
    {},                                 // fixed, native reader
    {.b = true},                        // fixed, portable reader
    {.d = true},                        // fixed, unbuffered, zero records skipped
    {.v = true},                        // native variable
    {.b = true, .v = true},             // portable variable, 2-byte prefix
    {.b = true, .v = true, .x = true},  // portable variable, 4-byte prefix
    {.t = true},                        // lines
    {.t = true, .v = true},             // lines (v changes nothing)
};
// l, r and s as -load allows them (r with s is refused).
const LoadOptions kWriters[6] = {
    {}, {.s = true}, {.r = true}, {.l = true}, {.l = true, .r = true}, {.l = true, .s = true}};
const uint32_t kRecordSizes[8] = {1, 3, 16, 100, 255, 4095, 65535, 70000};
const char* const kBlockSizes[8] = {nullptr, "1", "3", "16", "5000", "0", "-7", "x"};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::start_filling("flat_fuzz");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int first = data[0], second = data[1];
  LoadOptions options = kFramings[first & 7];
  const LoadOptions& writer = kWriters[(first >> 3 & 7) % 6];
  options.l = writer.l;
  options.r = writer.r;
  options.s = writer.s;
  const uint32_t max_size = kRecordSizes[second & 7];
  const int version = 2 + (second >> 3 & 3);
  if (const char* block = kBlockSizes[second >> 5]) {
    setenv("C_SEQ_DEFAULT_BLOCK_SIZE", block, 1);
  } else {
    unsetenv("C_SEQ_DEFAULT_BLOCK_SIZE");
  }

  const std::string source = fuzz::g_dir + "/flat", destination = fuzz::g_dir + "/k";
  fuzz::put_file(source, data + 2, size - 2);
  if (!fuzz::make_flat_destination(destination, version, max_size, first & 64)) return 0;
  const fuzz::LoadResult result = fuzz::load_flat(source, destination, options);
  if (result.written < 0) abort();  // the files were just made
  if (result.closed && !options.r && !options.s &&
      fuzz::record_count(destination) != result.written - result.rejected) {
    abort();
  }
  k5_exit(0);
  k5_remove(destination.c_str());
  unlink((source + ".rej").c_str());
  return 0;
}
