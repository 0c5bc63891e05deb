// The pieces of -convert that a run cannot show byte for byte: the expansion of compressed
// HV/COBOL-85 records at every edge of the control-byte ranges, and the texts a conversion
// description makes a file from.
#include <cstring>
#include <string>

#include "ixkit/convert/convert.h"
#include "ixkit/convert/hvc.h"
#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"
#include "tests/unit/scratch.h"

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

class MakeConverted : public LibraryScratch {
 protected:
  void TearDown() override {
    compression_factor = 1;
    LibraryScratch::TearDown();
  }
  // The library's texts -1, -2, -3 and of every key of the file made from d.
  std::string made(ConvertDescription& d, int choice) {
    const std::string name = path("new");
    if (!make_converted_file(name.c_str(), &d, choice)) return "refused";
    KFile* f = k5_open(name.c_str(), K_MODE_READ, "0,0,0");
    std::string texts;
    char text[K_KEY_TEXT_SIZE];
    for (int code : {-1, -2, -3, 0, 1}) {
      if (k5_info(f, code, text)) texts += std::string(text) + "|";
    }
    k5_close(f);
    return texts;
  }
};

// Storage text from the choice and the factor, sizes with the minimum defaulting to the
// maximum, and keys of several segments with their duplicates flags.
TEST_F(MakeConverted, Texts) {
  ConvertDescription d = {};
  snprintf(d.comment, sizeof d.comment, "Converted");
  d.record_size = 60;
  d.key_count = 2;
  d.segments[0] = 2;
  d.segment_size[0][0] = 4, d.segment_offset[0][0] = 26;
  d.segment_size[0][1] = 6, d.segment_offset[0][1] = 0;
  d.segments[1] = 1;
  d.duplicates[1] = 1;
  d.segment_size[1][0] = 10, d.segment_offset[1][0] = 30;
  const std::string keys = "02,0,004,0000000026,006,0000000000|01,1,010,0000000030|";
  compression_factor = 50;
  EXPECT_EQ(made(d, 1), "60,60,2|2,0,0,50,0|Converted|" + keys);
  EXPECT_EQ(made(d, 0), "60,60,2|2,0,0,0,0|Converted|" + keys);
  d.min_record_size = 10;
  EXPECT_EQ(made(d, -1), "60,10,2|2,0,0,0,0|Converted|" + keys);
}

}  // namespace
