// The -zero command: clears the user count that openers which never closed left behind.
#include <cstdint>

#include "ixkit/describe/describe.h"
#include "ixkit/describe/header_patch.h"
#include "ixkit/front/commands.h"
#include "ixkit/front/file_words.h"
#include "ixkit/libs/kelvra5.h"

namespace {

// Version 2: the user count at bytes 126 and 127 of the first 144 bytes written back.
constexpr int kV2UserCount = 126;
constexpr int kV2ZeroBytes = 144;

int clear_two_bytes(uint8_t* block, void* context) {
  const int at = *static_cast<const int*>(context);
  block[at] = 0;
  block[at + 1] = 0;
  return 1;
}

void zero_each(const char* name, void*) {
  zero_file(name);
}

}  // namespace

void zero_command(int count, char** words) {
  const int first = read_quiet_options(count, words);
  for_each_file(count, words, first, 100, zero_each, nullptr);
}

void zero_file(const char* name) {
  LibraryFacts facts;
  if (!library_facts(name, K_MODE_SHARED, &facts)) return;
  int at = kV2UserCount;
  int bytes = kV2ZeroBytes;
  if (facts.version != 2) {
    at = header_field(name, facts.version, KF_USER_COUNT, 2);
    bytes = header_field(name, facts.version, KF_ZERO_BYTES, 0);
    if (at < 0 || bytes < 0) return;
  }
  patch_header(name, 0, bytes, clear_two_bytes, &at);
}
