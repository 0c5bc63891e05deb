// The flat-file layer: block sizes, buffered reading and writing, the record readers; and
// the key value word of -extract.
#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "ixkit/transfer/extract.h"
#include "ixkit/transfer/seqfile.h"

namespace {

class SeqFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/ixkit_seqfile.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    unsetenv("C_SEQ_DEFAULT_BLOCK_SIZE");
  }
  void TearDown() override {
    unsetenv("C_SEQ_DEFAULT_BLOCK_SIZE");
    std::string command = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(system(command.c_str()), 0);
  }
  std::string path(const char* name) const { return dir_ + "/" + name; }
  void write(const char* name, const std::string& bytes) const {
    std::ofstream(path(name), std::ios::binary) << bytes;
  }
  std::string read(const char* name) const {
    std::ifstream in(path(name), std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }
  std::string dir_;
};

TEST(SeqBlockSize, FollowsTheEnvironmentValue) {
  EXPECT_EQ(seq_block_size(nullptr), 4096u);
  EXPECT_EQ(seq_block_size("5000"), 8192u);
  EXPECT_EQ(seq_block_size("4096"), 4096u);
  EXPECT_EQ(seq_block_size("1"), 1u);
  EXPECT_EQ(seq_block_size("3"), 4u);
  EXPECT_EQ(seq_block_size("0"), 0u) << "unbuffered";
  EXPECT_EQ(seq_block_size("-7"), 0u);
  EXPECT_EQ(seq_block_size("letters"), 0u);
  EXPECT_EQ(seq_block_size("1073741823"), 1073741824u);
  EXPECT_EQ(seq_block_size("1073741824"), 1073741824u);
  EXPECT_EQ(seq_block_size("99999999999999999999"), 1073741824u);
}

TEST_F(SeqFileTest, OpenTakesTheBlockSizeFromTheEnvironment) {
  write("in", "abc");
  int fd = seq_open(path("in").c_str(), SEQ_READ, 1);
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(seq_buffer.active);
  EXPECT_EQ(seq_buffer.block_size, 4096u);
  seq_close(fd);
  EXPECT_FALSE(seq_buffer.active);

  setenv("C_SEQ_DEFAULT_BLOCK_SIZE", "5000", 1);
  fd = seq_open(path("in").c_str(), SEQ_READ, 1);
  EXPECT_EQ(seq_buffer.block_size, 8192u);
  seq_close(fd);

  setenv("C_SEQ_DEFAULT_BLOCK_SIZE", "0", 1);
  fd = seq_open(path("in").c_str(), SEQ_READ, 1);
  ASSERT_GE(fd, 0);
  EXPECT_FALSE(seq_buffer.active);
  seq_close(fd);

  unsetenv("C_SEQ_DEFAULT_BLOCK_SIZE");
  fd = seq_open(path("in").c_str(), SEQ_READ, 0);
  EXPECT_FALSE(seq_buffer.active) << "the caller asked for no buffer";
  seq_close(fd);

  EXPECT_EQ(seq_open(path("missing").c_str(), SEQ_READ, 1), -1);
  EXPECT_FALSE(seq_buffer.active);
}

TEST_F(SeqFileTest, ReadStraddlingTheEndReturnsWhatIsLeftThenZero) {
  for (const char* block : {"4", "1", "4096", "0"}) {
    setenv("C_SEQ_DEFAULT_BLOCK_SIZE", block, 1);
    write("in", "0123456789abcdef");  // 16 bytes
    int fd = seq_open(path("in").c_str(), SEQ_READ, 1);
    ASSERT_GE(fd, 0);
    char buf[32] = {};
    EXPECT_EQ(seq_read(fd, buf, 0), 0) << block;
    EXPECT_EQ(seq_read(fd, buf, 10), 10) << block;
    EXPECT_EQ(std::string(buf, 10), "0123456789");
    EXPECT_EQ(seq_read(fd, buf, 10), 6) << block;
    EXPECT_EQ(std::string(buf, 6), "abcdef");
    EXPECT_EQ(seq_read(fd, buf, 10), 0) << block;
    seq_close(fd);
  }
}

TEST_F(SeqFileTest, WritesWaitForTheFlushAndKeepEveryByte) {
  std::string data;
  for (int i = 0; i < 10000; ++i) data += static_cast<char>(i * 7);
  for (const char* block : {"1", "8", "4096", "0"}) {
    setenv("C_SEQ_DEFAULT_BLOCK_SIZE", block, 1);
    int fd = seq_open(path("out").c_str(), SEQ_WRITE, 1);
    ASSERT_GE(fd, 0);
    // Pieces of uneven sizes, some larger than a block.
    size_t at = 0;
    for (size_t piece = 1; at < data.size(); piece = piece * 3 % 1000 + 1) {
      size_t n = std::min(piece, data.size() - at);
      ASSERT_EQ(seq_write(fd, data.data() + at, n), static_cast<long>(n));
      at += n;
    }
    if (std::string(block) == "4096") {
      EXPECT_EQ(read("out").size(), 8192u) << "the last block waits for the flush";
    }
    EXPECT_EQ(seq_flush(fd), 0);
    EXPECT_EQ(seq_close(fd), 0);
    EXPECT_EQ(read("out"), data) << block;
  }
}

TEST_F(SeqFileTest, AFailedBlockWriteIsReported) {
  setenv("C_SEQ_DEFAULT_BLOCK_SIZE", "4", 1);
  write("in", "");
  // A descriptor open for reading only: every block write fails.
  int fd = seq_open(path("in").c_str(), SEQ_READ, 1);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(seq_write(fd, "abcd", 4), 4) << "held in the buffer";
  EXPECT_EQ(seq_write(fd, "e", 1), -1);
  EXPECT_EQ(seq_flush(fd), -1);
  seq_close(fd);
}

TEST_F(SeqFileTest, PortableReaderTakesBigEndianPrefixes) {
  // Records of 3 and 0x0102 bytes behind 2-byte prefixes, then a length of 0.
  std::string big(0x0102, 'z');
  write("in", std::string("\x00\x03"
                          "abc"
                          "\x01\x02",
                          7) +
                  big + std::string("\x00\x00xyz", 5));
  int fd = seq_open(path("in").c_str(), SEQ_READ, 1);
  uint8_t record[300];
  EXPECT_EQ(read_portable_record(fd, record, 1, 0, 300), 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(record), 3), "abc");
  EXPECT_EQ(read_portable_record(fd, record, 1, 0, 300), 0x0102);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(record), 0x0102), big);
  EXPECT_EQ(read_portable_record(fd, record, 1, 0, 300), 0) << "length 0 ends the input";
  seq_close(fd);

  write("in", std::string("\x00\x00\x00\x02hi\x00\x00\x01\x2c", 10) + std::string(100, 'q'));
  fd = seq_open(path("in").c_str(), SEQ_READ, 1);
  EXPECT_EQ(read_portable_record(fd, record, 1, 1, 300), 2);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(record), 2), "hi");
  EXPECT_EQ(read_portable_record(fd, record, 1, 1, 300), 0) << "300 announced, 100 there";
  seq_close(fd);
}

TEST_F(SeqFileTest, NativeReaderTakesFourByteMachineOrderPrefixes) {
  uint32_t five = 5;
  std::string bytes(reinterpret_cast<char*>(&five), 4);
  write("in", bytes + "hello" + bytes + "abc");
  int fd = seq_open(path("in").c_str(), SEQ_READ, 1);
  uint8_t record[16];
  EXPECT_EQ(read_native_record(fd, record, 1, 1, 16), 5) << "wide is ignored";
  EXPECT_EQ(std::string(reinterpret_cast<char*>(record), 5), "hello");
  EXPECT_EQ(read_native_record(fd, record, 1, 0, 16), 0) << "partial last record dropped";
  seq_close(fd);
}

TEST_F(SeqFileTest, APrefixAboveTheRecordSizeIsNotRead) {
  write("in", std::string("\x00\x09"
                          "123456789",
                          11));
  int fd = seq_open(path("in").c_str(), SEQ_READ, 1);
  uint8_t record[9] = {};
  EXPECT_EQ(read_portable_record(fd, record, 1, 0, 8), SEQ_RECORD_TOO_LONG);
  EXPECT_EQ(record[0], 0) << "nothing stored";
  seq_close(fd);
}

std::string key_value(const char* word) {
  char area[KEY_VALUE_AREA] = {};
  copy_key_value(area, word);
  EXPECT_EQ(area[KEY_VALUE_AREA - 1], '\0');
  return area;
}

TEST(KeyValue, QuotesAndBackslashes) {
  EXPECT_EQ(key_value("ABC"), "ABC");
  EXPECT_EQ(key_value("'AB C'"), "AB C");
  EXPECT_EQ(key_value("\"AB'C\""), "AB'C") << "the other quote is kept";
  EXPECT_EQ(key_value("'AB'CD"), "ABCD");
  EXPECT_EQ(key_value("A'B"), "A'B") << "a quote inside an unquoted word is kept";
  EXPECT_EQ(key_value("'A\\'B'"), "A'B");
  EXPECT_EQ(key_value("A\\\\B\\C"), "A\\BC");
  EXPECT_EQ(key_value("AB\\"), "AB");
  EXPECT_EQ(key_value("'"), "");
  EXPECT_EQ(key_value(std::string(300, 'k').c_str()), std::string(250, 'k'));
}

}  // namespace
