// The expansion of compressed HV/COBOL-85 records at every edge of the control-byte ranges,
// which a run shows only through whole files.
#include "ixkit/convert/hvc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct Expansion {
  std::string stored;
  int result;
  std::string expanded;  // of a 70-byte record, before spaces pad it
};

TEST(HvcExpand, ControlByteRanges) {
  const std::string zero(1, '\0'), q26 = "\xFFq";
  const Expansion cases[] = {
      {"\x03"
       "ABC\x85",
       1, "ABC*******"},
      {"\xE8x", 1, "xxx"},
      {"\xD4", 1, zero + zero},
      {"\xE7", 1, std::string(21, '\0')},
      {"\xC0", 1, "##"},
      {"\xD3", 1, std::string(21, '#')},
      {"\x80", 1, "**"},
      {"\xBF", 1, std::string(65, '*')},
      {q26, 1, std::string(26, 'q')},
      {"\x7F" + std::string(127, 'L'), -1, ""},  // 127 bytes: more than the record holds
      {zero + "\x01z", 1, "z"},                  // a literal of no bytes
      {"", 1, ""},
      {"\x05"
       "ab",
       -1, ""},          // fewer stored bytes than the item says
      {"\xE8", -1, ""},  // the repeated byte is missing
      {q26 + q26 + "\xF7q", 1, std::string(70, 'q')},
      {q26 + q26 + "\xF8q", -1, ""},                       // 71 bytes
      {q26 + q26 + "\xF7q\x80", 0, std::string(70, 'q')},  // full, with an item left
  };
  for (const Expansion& c : cases) {
    uint8_t out[70];
    memset(out, ' ', sizeof out);
    int result = hvc_expand(reinterpret_cast<const uint8_t*>(c.stored.data()),
                            static_cast<uint32_t>(c.stored.size()), out, sizeof out, '*', '#');
    EXPECT_EQ(result, c.result) << testing::PrintToString(c.stored);
    std::string want = c.expanded;
    want.resize(sizeof out, ' ');
    if (result >= 0) {
      EXPECT_EQ(std::string(reinterpret_cast<char*>(out), sizeof out), want)
          << testing::PrintToString(c.stored);
    }
  }
}

}  // namespace
