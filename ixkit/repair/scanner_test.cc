// The raw record scanner on byte images made by hand: block links, segment ends, header
// layouts, compression, scrambling and the chains of free records.
#include "ixkit/repair/scanner.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ixkit/describe/header.h"
#include "ixkit/libs/rtcore.h"

namespace {

using Bytes = std::vector<uint8_t>;

void put(Bytes& image, size_t at, uint32_t value, int width, bool big_endian) {
  if (image.size() < at + width) image.resize(at + width, 0);
  for (int i = 0; i < width; i++) {
    int shift = 8 * (big_endian ? width - 1 - i : i);
    image[at + i] = static_cast<uint8_t>(value >> shift);
  }
}

void put_bytes(Bytes& image, size_t at, const std::string& bytes) {
  if (image.size() < at + bytes.size()) image.resize(at + bytes.size(), 0);
  memcpy(image.data() + at, bytes.data(), bytes.size());
}

// Record headers as each version stores them.
void v2_header(Bytes& image, size_t at, uint32_t stored, uint32_t length, uint32_t seed,
               uint8_t mark) {
  put(image, at, stored, 2, false);
  put(image, at + 2, length, 2, false);
  put(image, at + 4, seed, 4, false);
  put(image, at + 8, mark, 1, false);
}

void v3_header(Bytes& image, size_t at, uint32_t stored, uint32_t length, bool plain) {
  put(image, at, stored, 2, true);
  put(image, at + 2, length | (plain ? 0x8000 : 0), 2, true);
}

void v5_header(Bytes& image, size_t at, uint32_t stored, uint32_t length, uint8_t flags,
               uint32_t link, uint16_t segment) {
  put(image, at, stored, 4, true);
  put(image, at + 4, length, 4, true);
  put(image, at + 8, flags, 1, true);
  put(image, at + 9, link, 4, true);
  put(image, at + 13, segment, 2, true);
}

class Scanner : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/ixkit_scanner.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    name_ = dir_ + "/file";
    file_header = KHeaderRecord{};
    scan_limits = ScanLimits{100, 1, 0, 0};
    per_record_seed = 0;
  }
  void TearDown() override {
    if (descriptor_ >= 0) raw_close(descriptor_);
    release_expansion_buffer();
    std::string command = "rm -rf '" + dir_ + "'";
    if (system(command.c_str()) != 0) ADD_FAILURE() << "could not remove " << dir_;
  }

  // The header facts the scanner works from.
  void use_version(int version, int header_size, uint16_t block_bytes = 512) {
    file_header.version = static_cast<int16_t>(version);
    raw_header_size = header_size;
    header_block_bytes = block_bytes;
    file_header.segment_size = 1024;
  }

  void write_image(const std::string& name, const Bytes& image) {
    FILE* f = fopen(name.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(fwrite(image.data(), 1, image.size(), f), image.size());
    fclose(f);
  }

  // Writes the image and opens it for raw reading.
  void open_image(const Bytes& image) {
    write_image(name_, image);
    descriptor_ = raw_open(name_.c_str(), 0, 0666);
    ASSERT_GE(descriptor_, 0);
  }

  // Reads the record at position; the text of a live record lands in text().
  int read(int64_t* position, bool expand = false, bool unscramble_data = false) {
    if (expand && expansion_buffer == nullptr) allocate_expansion_buffer();
    buffer_.assign(record_buffer_size(), 0);
    int result = read_raw_record(descriptor_, buffer_.data(), position, expand, unscramble_data);
    text_.assign(reinterpret_cast<char*>(buffer_.data()), result > 0 ? result : 0);
    return result;
  }
  const std::string& text() const { return text_; }

  std::string dir_, name_, text_;
  int descriptor_ = -1;
  Bytes buffer_;
};

TEST_F(Scanner, RawReadServesOneDescriptorFromItsBuffer) {
  use_version(5, 15);
  Bytes image(10000);
  for (size_t i = 0; i < image.size(); i++) image[i] = static_cast<uint8_t>(i * 13);
  open_image(image);
  uint8_t got[5000];
  raw_seek(descriptor_, 4000);
  ASSERT_EQ(raw_read(descriptor_, got, 5000), 5000) << "a request across two buffer fills";
  EXPECT_EQ(memcmp(got, image.data() + 4000, 5000), 0);
  EXPECT_EQ(raw_reader.buffer_start % 512, 0);
  EXPECT_EQ(raw_read(descriptor_, got, 5000), 1000) << "the end of the file shortens the count";
  const int64_t start = raw_reader.buffer_start;
  const int32_t count = raw_reader.buffer_count;
  EXPECT_EQ(raw_read(descriptor_ + 100, got, 1), -1) << "not the current descriptor";
  EXPECT_EQ(raw_reader.buffer_start, start) << "a refused request leaves the buffer alone";
  EXPECT_EQ(raw_reader.buffer_count, count);
  raw_seek(descriptor_, 3);
  ASSERT_EQ(raw_read(descriptor_, got, 2), 2);
  EXPECT_EQ(got[0], image[3]);
  EXPECT_EQ(raw_reader.buffer_start, 0) << "refilled from the 512-byte boundary below";
}

TEST_F(Scanner, Version3HeaderSplitAcrossABlockLink) {
  use_version(3, 4);
  Bytes image(1536, 0);
  // The header's first two bytes end block 0; the link (version 3 keeps the continuation
  // - 1) leads to the other two at 1024.
  Bytes header;
  v3_header(header, 0, 5, 5, true);
  image[506] = header[0];
  image[507] = header[1];
  put(image, 508, 1024 - 1, 4, true);
  image[1024] = header[2];
  image[1025] = header[3];
  put_bytes(image, 1026, "HELLO");
  open_image(image);
  int64_t position = 506;
  EXPECT_EQ(read(&position), 5);
  EXPECT_EQ(text(), "HELLO");
  EXPECT_EQ(position, 1031);
}

TEST_F(Scanner, Version2LinkHoldsTheContinuationItself) {
  use_version(2, 9);
  Bytes image(1536, 0);
  v2_header(image, 490, 20, 20, 0, 0x7E);  // the data runs 499..507, then on at 1024
  put(image, 508, 1024, 4, false);
  put_bytes(image, 499, "ABCDEFGHI");
  put_bytes(image, 1024, "JKLMNOPQRST");
  open_image(image);
  int64_t position = 490;
  EXPECT_EQ(read(&position), 20);
  EXPECT_EQ(text(), "ABCDEFGHIJKLMNOPQRST");
  EXPECT_EQ(position, 1035);
}

TEST_F(Scanner, ChainEndsAtLinkOneInVersion2AndLinkZeroInVersion3) {
  for (int version : {2, 3}) {
    SCOPED_TRACE(version);
    use_version(version, version == 2 ? 9 : 4);
    Bytes image(1024, 0);
    put(image, 508, version == 2 ? 1 : 0, 4, version == 3);
    // A record that ends right at the link: the next header is read past the link.
    if (version == 2) {
      v2_header(image, 491, 8, 8, 0, 0x7E);
    } else {
      v3_header(image, 496, 8, 8, true);
    }
    put_bytes(image, 500, "RECORD_8");
    open_image(image);
    int64_t position = 500 - raw_header_size;
    EXPECT_EQ(read(&position), 8);
    EXPECT_EQ(position, 508) << "the record ends where the link starts";
    EXPECT_EQ(read(&position), RAW_END);
    raw_close(descriptor_);
    descriptor_ = -1;
  }
}

TEST_F(Scanner, BrokenOrLoopingBlockChainIsBrokenNotTheEnd) {
  use_version(3, 4);
  Bytes image(1536, 0);
  v3_header(image, 500, 20, 20, true);
  put(image, 508, 700 - 1, 4, true);  // a continuation inside a block
  open_image(image);
  int64_t position = 500;
  EXPECT_EQ(read(&position), RAW_BROKEN);

  // Block 0 leads to block 2, and blocks 2 and 1 name each other: the records never end.
  // Records of 4 + 123 bytes fill each block up to its link.
  scan_limits.max_record_size = 200;
  Bytes loop(1536, 0);
  put(loop, 508, 1024 - 1, 4, true);
  put(loop, 1532, 512 - 1, 4, true);
  put(loop, 1020, 1024 - 1, 4, true);
  for (size_t block : {0, 512, 1024}) {
    for (size_t at = block == 0 ? 127 : block; at < block + 508; at += 127) {
      v3_header(loop, at, 123, 123, true);
    }
  }
  raw_close(descriptor_);
  open_image(loop);
  position = 127;
  int result;
  int records = 0;
  while ((result = read(&position)) > 0) ASSERT_LT(++records, 1000);
  EXPECT_EQ(result, RAW_BROKEN);
  EXPECT_GE(records, 11) << "every block was read before the loop was noticed";
}

TEST_F(Scanner, Version4SegmentEndsWhereNoHeaderFits) {
  use_version(4, 4);
  Bytes image(1024, 0);
  v3_header(image, 1020, 0, 5, true);  // stored size 0 with a data length: the end
  open_image(image);
  int64_t position = 1020;  // segment size - header size: still read
  EXPECT_EQ(read(&position), RAW_END);
  EXPECT_EQ(position, 1024);
  position = 1021;
  EXPECT_EQ(read(&position), RAW_SEGMENT_END);
  EXPECT_EQ(position, 1021) << "nothing read";
}

TEST_F(Scanner, ZeroHeaderEndsTheSegmentInVersion5AndTheRecordsInVersion3) {
  use_version(5, 15);
  open_image(Bytes(1024, 0));
  int64_t position = 600;
  EXPECT_EQ(read(&position), RAW_SEGMENT_END);
  EXPECT_EQ(position, 615);
  raw_close(descriptor_);
  use_version(3, 4);
  open_image(Bytes(1024, 0));
  position = 600;
  EXPECT_EQ(read(&position), RAW_END);
}

TEST_F(Scanner, ExpansionCodesOfVersion3AndVersion2) {
  use_version(3, 4);
  Bytes image(1024, 0);
  v3_header(image, 100, 5, 5, false);
  put_bytes(image, 104, "\xFD\x05\x41\xFA\xFE");
  open_image(image);
  int64_t position = 100;
  EXPECT_EQ(read(&position, true), 7);
  EXPECT_EQ(text(), std::string("     A\xFE", 7));
  position = 100;
  EXPECT_EQ(read(&position, false), 5) << "without expansion the stored bytes are the record";

  raw_close(descriptor_);
  use_version(2, 9);
  Bytes v2(1024, 0);
  v2_header(v2, 100, 6, 6, 0, 0);
  put_bytes(v2, 109, "\xFD\x05\x41\xFE\x2A\x03");
  open_image(v2);
  position = 100;
  EXPECT_EQ(read(&position, true), 6);
  EXPECT_EQ(text(), "\xFD\x05\x41***");
}

TEST_F(Scanner, ExpansionRefusesOverflowAndDataEndingInsideACode) {
  use_version(3, 4);
  scan_limits.max_record_size = 10;
  allocate_expansion_buffer();
  uint8_t out[16];
  auto expand = [&](const std::string& stored) {
    memcpy(expansion_buffer, stored.data(), stored.size());
    return expand_record(out, static_cast<uint32_t>(stored.size()));
  };
  EXPECT_EQ(expand(std::string("\xFE\x41\x0A", 3)), 10u) << "a run up to the maximum fits";
  EXPECT_EQ(expand(std::string("\xFE\x41\x0B", 3)), 0u);
  EXPECT_EQ(expand(std::string("123456789\xFB\x02", 11)), 0u);
  EXPECT_EQ(expand("0123456789X"), 0u) << "a literal past the maximum";
  EXPECT_EQ(expand(std::string("AB\xFE\x41", 4)), 0u) << "data ends inside a run";
  EXPECT_EQ(expand(std::string("AB\xFA", 3)), 0u) << "data ends inside an escape";
  EXPECT_EQ(expand(std::string("\xFC\x03\xFB\x02", 4)), 5u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 5), std::string("000\0\0", 5));

  // Through the record reader a sound header with an overflowing run is broken.
  Bytes image(1024, 0);
  v3_header(image, 100, 3, 3, false);
  put_bytes(image, 104, "\xFE\x41\x0B");
  open_image(image);
  int64_t position = 100;
  EXPECT_EQ(read(&position, true), RAW_BROKEN);
}

TEST_F(Scanner, DeletedAndAbandonedRecords) {
  use_version(3, 4);
  Bytes image(1024, 0);
  v3_header(image, 100, 6, 0, false);  // data length 0: deleted
  open_image(image);
  int64_t position = 100;
  EXPECT_EQ(read(&position), RAW_DELETED);
  EXPECT_EQ(position, 110);

  raw_close(descriptor_);
  use_version(5, 15);
  Bytes v5(1024, 0);
  v5_header(v5, 100, 40, 0, RECORD_DELETED, 0, 0);      // length 0 is not looked at
  v5_header(v5, 155, 40, 999, RECORD_ABANDONED, 0, 0);  // nor a length above the maximum
  open_image(v5);
  position = 100;
  EXPECT_EQ(read(&position), RAW_DELETED);
  EXPECT_EQ(position, 155);
  EXPECT_EQ(read(&position), RAW_ABANDONED);
  EXPECT_EQ(position, 210);
}

TEST_F(Scanner, BadHeadersAndLengths) {
  use_version(5, 15);
  scan_limits = ScanLimits{20, 10, 0, 0};
  Bytes image(1024, 0);
  v5_header(image, 100, 21, 21, RECORD_PLAIN, 0, 0);  // slot above the maximum
  v5_header(image, 200, 20, 0, RECORD_PLAIN, 0, 0);   // live with no data
  v5_header(image, 300, 8, 12, RECORD_PLAIN, 0, 0);   // more data than the slot
  v5_header(image, 400, 5, 5, RECORD_PLAIN, 0, 0);    // below the minimum
  v5_header(image, 500, 15, 15, RECORD_PLAIN, 0, 0);  // slot past the end of the file
  open_image(Bytes(image.begin(), image.begin() + 520));
  for (int at : {100, 200, 300}) {
    int64_t position = at;
    EXPECT_EQ(read(&position), RAW_BROKEN) << "at " << at;
  }
  int64_t position = 400;
  EXPECT_EQ(read(&position), RAW_BAD);
  EXPECT_EQ(position, 420) << "a bad record is skipped whole";
  position = 500;
  EXPECT_EQ(read(&position), RAW_BROKEN);
}

TEST_F(Scanner, UnscramblingFollowsTheFlagAndTheSeed) {
  const std::string plain = "Scrambled record";
  auto scrambled = [&](uint32_t seed) {
    std::string s = plain;
    for (size_t i = 0; i < s.size(); i++) s[i] = static_cast<char>(s[i] + ((seed + 7 * i) % 256));
    return s;
  };
  use_version(5, 15);
  per_record_seed = 1;
  Bytes image(1024, 0);
  v5_header(image, 100, 16, 16, RECORD_PLAIN, 300, 0);
  put_bytes(image, 115, scrambled(300));
  open_image(image);
  int64_t position = 100;
  EXPECT_EQ(read(&position, false, true), 16);
  EXPECT_EQ(text(), plain);
  position = 100;
  EXPECT_EQ(read(&position, false, false), 16);
  EXPECT_EQ(text(), scrambled(300)) << "with the encryption flag off the seed is ignored";

  per_record_seed = 0;  // the seed bytes are not a seed: the key starts at 0
  raw_close(descriptor_);
  put_bytes(image, 115, scrambled(0));
  open_image(image);
  position = 100;
  EXPECT_EQ(read(&position, false, true), 16);
  EXPECT_EQ(text(), plain);

  // Version 3 keeps the seed in header bytes 4 to 7 when the header has 8 bytes; the
  // scrambling covers the stored bytes before expansion.
  raw_close(descriptor_);
  use_version(3, 8);
  Bytes v3(1024, 0);
  std::string stored = std::string("\xFD\x04", 2) + "abc";
  std::string s = stored;
  for (size_t i = 0; i < s.size(); i++) s[i] = static_cast<char>(s[i] + ((77 + 7 * i) % 256));
  v3_header(v3, 100, 5, 5, false);
  put(v3, 104, 77, 4, true);
  put_bytes(v3, 108, s);
  open_image(v3);
  position = 100;
  EXPECT_EQ(read(&position, true, true), 7);
  EXPECT_EQ(text(), "    abc");
}

// Writes a data segment of n records of 10 bytes starting at first, ending with a zero header.
Bytes segment_image(size_t first, int n, char letter) {
  Bytes image(first, 0);
  size_t at = first;
  for (int i = 0; i < n; i++, at += 25) {
    v5_header(image, at, 10, 10, RECORD_PLAIN, 0, 0);
    put_bytes(image, at + 15, std::string(10, letter));
  }
  image.resize(at + 15, 0);
  return image;
}

TEST_F(Scanner, SegmentWalkGoesOnAt512OfEachFurtherSegment) {
  use_version(5, 15);
  file_header.first_record = 600;
  file_header.first_record_segment = 0;
  file_header.end_segment = 2;
  write_image(name_, segment_image(600, 3, 'a'));
  write_image(ki_segment_name(name_.c_str(), K_SEGMENT_DATA, 1), segment_image(512, 2, 'b'));
  write_image(ki_segment_name(name_.c_str(), K_SEGMENT_DATA, 2), segment_image(512, 1, 'c'));
  // A segment beyond the last one counts for nothing.
  write_image(ki_segment_name(name_.c_str(), K_SEGMENT_DATA, 3), segment_image(512, 4, 'd'));
  SegmentWalk walk;
  ASSERT_EQ(walk_start(&walk, name_.c_str()), 1);
  std::string letters;
  uint8_t buffer[100];
  int result;
  while ((result = walk_next(&walk, buffer, 0, 0)) > 0) letters += static_cast<char>(buffer[0]);
  EXPECT_EQ(result, RAW_END);
  EXPECT_EQ(letters, "aaabbc");
  walk_close(&walk);

  file_header.end_segment = 5;  // segment 4 is missing
  ASSERT_EQ(walk_start(&walk, name_.c_str()), 1);
  while ((result = walk_next(&walk, buffer, 0, 0)) > 0) {
  }
  EXPECT_EQ(result, WALK_OPEN_FAILED);
  const std::string failed = walk.segment_name;  // ki_segment_name reuses its area
  EXPECT_EQ(failed, ki_segment_name(name_.c_str(), K_SEGMENT_DATA, 4));
  walk_close(&walk);
}

TEST_F(Scanner, ChainWalkTakesTheAbandonedChainAfterTheDeletedOne) {
  use_version(5, 15);
  Bytes image(1024, 0);
  v5_header(image, 600, 10, 10, RECORD_DELETED, 700, 0);
  v5_header(image, 700, 10, 10, RECORD_DELETED, 0, 0);
  v5_header(image, 800, 10, 10, RECORD_ABANDONED, 0, 0);
  write_image(name_, image);
  file_header.deleted_head = 600;
  file_header.abandoned_head = 800;
  ChainWalk walk;
  chain_start(&walk, name_.c_str());
  uint8_t bytes[32];
  RecordHeaderView view;
  std::string seen;
  int result;
  while ((result = chain_read(&walk, bytes, &view)) == 1) {
    seen += std::to_string(walk.data_position) + (walk.abandoned ? "a " : "d ");
  }
  EXPECT_EQ(result, 0);
  EXPECT_EQ(seen, "615d 715d 815a ");
  chain_close(&walk);

  // With an empty deleted chain the abandoned chain is still walked.
  file_header.deleted_head = 0;
  chain_start(&walk, name_.c_str());
  seen.clear();
  while ((result = chain_read(&walk, bytes, &view)) == 1) seen += walk.abandoned ? "a" : "d";
  EXPECT_EQ(seen, "a");
  chain_close(&walk);
}

TEST_F(Scanner, ChainsThatLoopEnd) {
  use_version(4, 4);
  // Version 4 keeps the link in the first 6 data bytes: position, then segment.
  Bytes image(1024, 0);
  const uint32_t members[] = {600, 620, 640, 660, 680};
  for (size_t i = 0; i < 5; i++) {
    v3_header(image, members[i], 10, 0, false);
    put(image, members[i] + 4, i + 1 < 5 ? members[i + 1] : 640, 4, true);  // 680 -> 640
    put(image, members[i] + 8, 0, 2, true);
  }
  write_image(name_, image);
  file_header.deleted_head = 600;
  ChainWalk walk;
  chain_start(&walk, name_.c_str());
  uint8_t bytes[32];
  RecordHeaderView view;
  int result;
  int members_read = 0;
  while ((result = chain_read(&walk, bytes, &view)) == 1) ASSERT_LT(++members_read, 100);
  EXPECT_EQ(result, CHAIN_LOOP);
  EXPECT_LE(members_read, 10) << "found within twice the chain's length";
  chain_close(&walk);

  // A member that links to itself.
  put(image, 600 + 4, 600, 4, true);
  write_image(name_, image);
  chain_start(&walk, name_.c_str());
  EXPECT_EQ(chain_read(&walk, bytes, &view), 1);
  EXPECT_EQ(chain_read(&walk, bytes, &view), CHAIN_LOOP);
  chain_close(&walk);
}

}  // namespace
