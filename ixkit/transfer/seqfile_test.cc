// The flat-file layer: the block size the environment asks for, reading up to the end, the
// two record readers of -load; and the key value word of -extract.
#include "ixkit/transfer/seqfile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "ixkit/transfer/extract.h"
#include "tests/unit/scratch.h"

namespace {

TEST(SeqFile, BlockSizeFromTheEnvironmentValue) {
  const std::pair<const char*, uint64_t> cases[] = {{nullptr, 4096},
                                                    {"5000", 8192},
                                                    {"1", 1},
                                                    {"3", 4},
                                                    {"0", 0},
                                                    {"-7", 0},
                                                    {"letters", 0},
                                                    {"1073741823", 1u << 30},
                                                    {"1073741825", 1u << 30},
                                                    {"99999999999999999999", 1u << 30}};
  for (auto [value, size] : cases)
    EXPECT_EQ(seq_block_size(value), size) << (value ? value : "unset");
}

class SeqFileTest : public Scratch {
 protected:
  void TearDown() override {
    unsetenv("C_SEQ_DEFAULT_BLOCK_SIZE");
    Scratch::TearDown();
  }
  int open(const std::string& bytes) { return seq_open(put("in", bytes).c_str(), SEQ_READ, 1); }
};

// Asking for 10 bytes when 6 remain gives 6, then 0, through a buffer of any size or none.
TEST_F(SeqFileTest, ReadingUpToTheEnd) {
  for (const char* block : {"4", "4096", "0"}) {
    setenv("C_SEQ_DEFAULT_BLOCK_SIZE", block, 1);
    const int fd = open("0123456789abcdef");
    ASSERT_GE(fd, 0);
    EXPECT_EQ(seq_buffer.active ? seq_buffer.block_size : 0, std::stoul(block));
    char buffer[10];
    EXPECT_EQ(seq_read(fd, buffer, 10), 10) << block;
    EXPECT_EQ(seq_read(fd, buffer, 10), 6) << block;
    EXPECT_EQ(std::string(buffer, 6), "abcdef") << block;
    EXPECT_EQ(seq_read(fd, buffer, 10), 0) << block;
    seq_close(fd);
  }
}

// Portable prefixes are big-endian (2 bytes, 4 when wide), native ones 4 bytes in machine
// order. A length of 0 ends the input, a short last record is dropped, and a prefix above the
// record size R is not read.
TEST_F(SeqFileTest, RecordReaders) {
  uint8_t record[17] = {};
  const uint32_t five = 5;
  const std::string native(reinterpret_cast<const char*>(&five), 4);
  const struct {
    std::string bytes;
    bool native;
    int wide;
    uint32_t max;
    long first;
    std::string text;
  } cases[] = {{std::string("\0\3abc\0\0\0\4more", 13), false, 0, 16, 3, "abc"},
               {std::string("\0\0\0\2hi\0\0\0\x09short", 15), false, 1, 16, 2, "hi"},
               {native + "hello" + native + "abc", true, 1, 16, 5, "hello"},
               {std::string("\0\x09"
                            "123456789",
                            11),
                false, 0, 8, SEQ_RECORD_TOO_LONG, ""}};
  for (const auto& c : cases) {
    const int fd = open(c.bytes);
    memset(record, 0, sizeof record);
    auto next = [&] {
      return c.native ? read_native_record(fd, record, 1, c.wide, c.max)
                      : read_portable_record(fd, record, 1, c.wide, c.max);
    };
    EXPECT_EQ(next(), c.first) << c.text;
    EXPECT_EQ(reinterpret_cast<char*>(record), c.text);  // nothing stored when too long
    EXPECT_EQ(c.first > 0 ? next() : 0, 0) << c.text;    // then the end
    seq_close(fd);
  }
}

// A file that gives no bytes at all is refused at the open with the system's reason; a read
// that fails later is no end of the input: the readers say so.
TEST_F(SeqFileTest, ReadFailures) {
  ASSERT_EQ(mkdir(path("dir").c_str(), 0777), 0);
  errno = 0;
  EXPECT_EQ(seq_open(path("dir").c_str(), SEQ_READ, 1), -1);
  EXPECT_EQ(errno, EISDIR);
  const int fd = ::open(path("dir").c_str(), O_RDONLY);  // a descriptor whose reads fail
  ASSERT_GE(fd, 0);
  uint8_t record[8];
  EXPECT_EQ(read_portable_record(fd, record, 0, 0, 8), SEQ_READ_FAILED);
  EXPECT_EQ(read_portable_record(fd, record, 1, 1, 8), SEQ_READ_FAILED);
  EXPECT_EQ(read_native_record(fd, record, 1, 0, 8), SEQ_READ_FAILED);
  EXPECT_EQ(seq_read(fd, record, 8), -1);
  close(fd);
}

// A leading quote of either kind is dropped with its partner; a backslash makes the next
// character literal; at most 250 bytes are kept.
TEST(KeyValue, QuotesAndBackslashes) {
  const std::pair<std::string, std::string> cases[] = {
      {"ABC", "ABC"},         {"'AB C'", "AB C"},
      {"\"AB'C\"", "AB'C"},   {"'AB'C'D", "ABC'D"},
      {"A'B", "A'B"},         {"'A\\'B'", "A'B"},
      {"A\\\\B\\C", "A\\BC"}, {std::string(300, 'k'), std::string(250, 'k')}};
  for (const auto& [word, value] : cases) {
    char area[KEY_VALUE_AREA] = {};
    copy_key_value(area, word.c_str());
    EXPECT_EQ(std::string(area, strnlen(area, KEY_VALUE_AREA)), value) << word;
  }
}

}  // namespace
