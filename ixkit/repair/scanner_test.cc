// The raw record scanner on byte images made by hand: block links, segment ends, header
// layouts, compression, scrambling, free records and chains that loop.
#include "ixkit/repair/scanner.h"

#include <string>
#include <utility>
#include <vector>

#include "ixkit/describe/header.h"
#include "tests/unit/scratch.h"

namespace {

using namespace std::string_literals;

std::string be(uint32_t value, int width) {
  std::string bytes(width, '\0');
  for (int i = width; i-- > 0; value >>= 8) bytes[i] = static_cast<char>(value);
  return bytes;
}
std::string le(uint32_t value, int width) {
  std::string bytes = be(value, width);
  return {bytes.rbegin(), bytes.rend()};
}
// Record headers as each version stores them; 0x8000 in a version-3 length means plain.
std::string v2(uint32_t stored, uint32_t length, char mark = 0x7E) {
  return le(stored, 2) + le(length, 2) + le(0, 4) + mark;
}
std::string v3(uint32_t stored, uint32_t length) {
  return be(stored, 2) + be(length, 2);
}
std::string v5(uint32_t stored, uint32_t length, int flags, uint32_t link_or_seed = 0) {
  return be(stored, 4) + be(length, 4) + static_cast<char>(flags) + be(link_or_seed, 4) + be(0, 2);
}
std::string scramble(std::string text, uint32_t seed) {
  for (size_t i = 0; i < text.size(); i++)
    text[i] = static_cast<char>(text[i] + (seed + 7 * i) % 256);
  return text;
}

class Scanner : public Scratch {
 protected:
  void TearDown() override {
    release_expansion_buffer();
    Scratch::TearDown();
  }
  // The header facts the scanner works from: 512-byte blocks, 1024-byte segments, record
  // headers of 9 bytes in version 2, 4 in versions 3 and 4, 15 in version 5.
  void use(int version, uint32_t max_record, bool seed = false) {
    file_header = KHeaderRecord{};
    file_header.version = static_cast<int16_t>(version);
    file_header.segment_size = 1024;
    raw_header_size = version == 2 ? 9 : version == 5 ? 15 : 4;
    header_block_bytes = 512;
    scan_limits = ScanLimits{max_record, 1, 0, 0};
    per_record_seed = seed;
    release_expansion_buffer();
    allocate_expansion_buffer();
  }
};

enum { kExpand = 1, kUnscramble = 2, kSeed = 4, kMax10 = 8 };

// Each image is 1536 zero bytes with the pieces put in; reads start at start. The text and
// the position are those after the first read; the maximum record size is 4000 unless 10.
TEST_F(Scanner, RecordsOfCraftedImages) {
  const std::string plain = "Scrambled record", v5_300 = v5(16, 16, RECORD_PLAIN, 300);
  const struct {
    const char* what;
    int version, flags;
    int64_t start;
    std::vector<std::pair<size_t, std::string>> pieces;
    std::vector<int> results;
    std::string text;
    int64_t end;
  } cases[] = {
      // clang-format off
      {"v3 header split across a block link (holding the continuation - 1)", 3, 0, 506,
       {{506, "\0\5"s}, {508, be(1023, 4)}, {1024, "\x80\5HELLO"s}}, {5}, "HELLO", 1031},
      {"v2 chain ends at link 1", 2, 0, 491, {{491, v2(8, 8) + "RECORD_8" + le(1, 4)}},
       {8, RAW_END}, "RECORD_8", 508},
      {"v3 chain ends at link 0", 3, 0, 496, {{496, v3(8, 0x8008) + "RECORD_8"}},
       {8, RAW_END}, "RECORD_8", 508},
      {"v4 header at segment size - header size", 4, 0, 1020, {{1020, v3(0, 0x8005)}},
       {RAW_END}, "", 1024},
      {"v4 header one byte further", 4, 0, 1021, {}, {RAW_SEGMENT_END}, "", 1021},
      {"v3 zero header", 3, 0, 600, {}, {RAW_END}, "", 604},
      {"v5 zero header", 5, 0, 600, {}, {RAW_SEGMENT_END}, "", 615},
      {"v3 compression", 3, kExpand, 100, {{100, v3(5, 5) + "\xFD\x05\x41\xFA\xFE"}},
       {7}, "     A\xFE", 109},
      {"v2 compression", 2, kExpand, 100, {{100, v2(6, 6, 0) + "\xFD\x05\x41\xFE\x2A\x03"}},
       {6}, "\xFD\x05\x41***", 115},
      {"run up to the maximum", 3, kExpand | kMax10, 100, {{100, v3(3, 3) + "\xFE\x41\x0A"}},
       {10}, "AAAAAAAAAA", 107},
      {"run overflow", 3, kExpand | kMax10, 100, {{100, v3(3, 3) + "\xFE\x41\x0B"}},
       {RAW_BROKEN}, "", 107},
      {"v3 deleted", 3, 0, 100, {{100, v3(6, 0)}}, {RAW_DELETED}, "", 110},
      {"v5 deleted, then abandoned (lengths not looked at)", 5, 0, 100,
       {{100, v5(40, 0, RECORD_DELETED)}, {155, v5(40, 99999, RECORD_ABANDONED)}},
       {RAW_DELETED, RAW_ABANDONED}, "", 155},
      {"scrambled, flag on", 5, kUnscramble | kSeed, 100, {{100, v5_300 + scramble(plain, 300)}},
       {16}, plain, 131},
      {"scrambled, flag off", 5, kSeed, 100, {{100, v5_300 + scramble(plain, 300)}},
       {16}, scramble(plain, 300), 131},
      {"no per-record seed: the key starts at 0", 5, kUnscramble, 100,
       {{100, v5_300 + scramble(plain, 0)}}, {16}, plain, 131},
      {"block chain 0 -> 2 -> 1 -> 2 loops", 3, 0, 500, {{500, v3(2100, 0x8000 | 2100)},
       {508, be(1023, 4)}, {1532, be(511, 4)}, {1020, be(1023, 4)}}, {RAW_BROKEN}, "", -1},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    use(c.version, c.flags & kMax10 ? 10 : 4000, c.flags & kSeed);
    std::string image(1536, '\0');
    for (const auto& [at, bytes] : c.pieces) image.replace(at, bytes.size(), bytes);
    const int fd = raw_open(put("image", image).c_str(), 0, 0);
    std::vector<uint8_t> buffer(record_buffer_size());
    int64_t position = c.start;
    for (size_t i = 0; i < c.results.size(); ++i) {
      const int result =
          read_raw_record(fd, buffer.data(), &position, c.flags & kExpand, c.flags & kUnscramble);
      EXPECT_EQ(result, c.results[i]) << "read " << i;
      if (i > 0) continue;
      EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + std::max(result, 0)), c.text);
      EXPECT_EQ(position, c.end < 0 ? position : c.end);
    }
    raw_close(fd);
  }
}

// A chain of free records (version 4: the link in the first 6 data bytes) that comes back to
// a member ends with CHAIN_LOOP once every member was read.
TEST_F(Scanner, LoopingChainEnds) {
  use(4, 100);
  std::string image(1024, '\0');
  for (uint32_t at = 600; at <= 680; at += 20) {
    image.replace(at, 10, v3(10, 0) + be(at == 680 ? 640 : at + 20, 4) + be(0, 2));
  }
  file_header.deleted_head = 600;
  const std::string name = put("chain", image);  // the walk keeps the name
  ChainWalk walk;
  chain_start(&walk, name.c_str());
  uint8_t bytes[32];
  RecordHeaderView view;
  int result, members = 0;
  while ((result = chain_read(&walk, bytes, &view)) == 1) ASSERT_LT(++members, 100);
  chain_close(&walk);
  EXPECT_EQ(result, CHAIN_LOOP);
  EXPECT_GE(members, 5);
  EXPECT_LE(members, 10);
}

}  // namespace
