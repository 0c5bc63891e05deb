// Spool volumes byte by byte: the header block, the record stream and its end mark, the
// volume limit, and the checks that refuse a wrong volume.
#include "ixkit/repair/spool.h"

#include <string>
#include <vector>

#include "tests/unit/scratch.h"

namespace {

constexpr uint32_t kSet = 0x01020304;

std::string be(uint32_t value, int width) {
  std::string bytes(width, '\0');
  for (int i = width; i-- > 0; value >>= 8) bytes[i] = static_cast<char>(value);
  return bytes;
}

// A volume header block as the spool writes it.
std::string volume_header(int volume, uint32_t set) {
  std::string block = "KSPL" + be(volume, 2) + be(set, 4);
  block.resize(SPOOL_BLOCK, 'z');
  return block;
}

class Spool : public Scratch {
 protected:
  void SetUp() override {
    Scratch::SetUp();
    name_ = path("spool");
    spool.volume_limit = 2147483647;
    capture();
  }
  void TearDown() override {
    spool_close();
    Scratch::TearDown();
  }
  // Writes the records as one spool: volume 1, the records, the end mark. 1 when it went.
  int write(const std::vector<std::string>& records) {
    spool_begin_writing(name_.c_str(), kSet);
    spool_create_volume();
    if (spool.descriptor < 0) return 0;
    for (const std::string& r : records) {
      std::vector<uint8_t> room(r.size() + 2);
      std::copy(r.begin(), r.end(), room.begin() + 2);
      if (!spool_put(room.data() + 2, static_cast<uint32_t>(r.size()))) return 0;
    }
    uint8_t end[2];
    if (!spool_put(end + 2, 0)) return 0;
    while (spool.current > 0) {
      if (!spool_flush()) return 0;
    }
    spool_close();
    return 1;
  }
  // Reads the spool back from volume 1: the records, then "END" or "FAILED".
  std::vector<std::string> read(uint32_t capacity = 70000) {
    std::vector<std::string> got;
    spool_begin_reading(name_.c_str());
    spool_mount_volume();
    if (spool.descriptor < 0) return {"NOT MOUNTED"};
    std::vector<uint8_t> buffer(capacity);
    for (long n; (n = spool_get(buffer.data(), capacity)) != 0;) {
      if (n < 0) {
        got.push_back("FAILED");
        return got;
      }
      got.emplace_back(buffer.begin(), buffer.begin() + n);
    }
    got.push_back("END");
    spool_close();
    return got;
  }
  std::string name_;
};

TEST_F(Spool, OneVolumeLayout) {
  ASSERT_EQ(write({"0123456789", "abcdefghij", "ABCDEFGHIJ"}), 1);
  const std::string bytes = get("spool");
  ASSERT_EQ(bytes.size(), 16384u);
  EXPECT_EQ(bytes.substr(0, 10), "KSPL" + be(1, 2) + be(kSet, 4));
  EXPECT_EQ(bytes.substr(8192, 38), be(10, 2) + "0123456789" + be(10, 2) + "abcdefghij" +
                                        be(10, 2) + "ABCDEFGHIJ" + be(0, 2));
  EXPECT_EQ(read(), (std::vector<std::string>{"0123456789", "abcdefghij", "ABCDEFGHIJ", "END"}));
  EXPECT_EQ(printed(), "");
}

// Lengths that need the whole 16 bits, and records that run across several blocks.
TEST_F(Spool, LongRecordsRoundTrip) {
  std::vector<std::string> records{std::string(40000, 'x'), std::string(65535, 'y'), "z",
                                   std::string(8191, 'w')};
  ASSERT_EQ(write(records), 1);
  records.push_back("END");
  EXPECT_EQ(read(), records);
  // A length beyond the reader's buffer is not copied: the stream ends there.
  EXPECT_EQ(read(50000), (std::vector<std::string>{std::string(40000, 'x'), "FAILED"}));
  EXPECT_NE(printed(2).find("65535"), std::string::npos);
}

// With a limit of 24 KiB a volume takes the header block and two data blocks: the third
// write is cut to nothing and the operator is asked for volume 2.
TEST_F(Spool, VolumeLimitAsksForTheNextVolume) {
  capture("n\n");
  spool.volume_limit = 24 * 1024;
  std::vector<std::string> records(30, std::string(1000, 'r'));
  EXPECT_EQ(write(records), 0);
  EXPECT_EQ(get("spool").size(), 24576u);
  EXPECT_EQ(printed(),
            "\nEnd of media on spool file #1, mount next volume\n"
            "Type 'Y' to continue, 'N' to abort: *** Aborted ***\n");
}

TEST_F(Spool, WrongVolumesAreRefused) {
  struct Case {
    std::string bytes, message;
  } cases[] = {
      {"not a spool", "\nThat's not a spool volume!\n"},
      {volume_header(1, kSet).substr(0, 8000), "\nThat's not a spool volume!\n"},
      {volume_header(1, kSet + 1), "\nThat volume is for a different file!\n"},
      {volume_header(2, kSet), "\nThat's volume 2, please mount volume 1\n"},
  };
  for (const Case& c : cases) {
    put("spool", c.bytes);
    spool_begin_writing(name_.c_str(), kSet);  // the set whose volumes are expected
    spool_begin_reading(name_.c_str());
    spool_mount_volume();
    EXPECT_EQ(spool.descriptor, -1);
    EXPECT_EQ(spool.volume, 0);
    EXPECT_EQ(printed(), c.message);
    capture();
  }
  // A restart takes the set of the first volume it mounts.
  put("spool", volume_header(1, 77) + be(3, 2) + "abc" + be(0, 2));
  spool_begin_writing(name_.c_str(), 0);
  EXPECT_EQ(read(), (std::vector<std::string>{"abc", "END"}));
  EXPECT_EQ(spool.set_id, 77u);
}

// Volume 1 of this set still at the path when volume 2 is to be written: refused.
TEST_F(Spool, UsedVolumeIsRefused) {
  ASSERT_EQ(write({"one"}), 1);
  spool_create_volume();
  EXPECT_EQ(spool.descriptor, -1);
  EXPECT_EQ(spool.volume, 1);
  EXPECT_EQ(printed(), "You used that volume already!\n");
  // A volume of another set may be written over.
  put("spool", volume_header(1, kSet + 1));
  spool_create_volume();
  EXPECT_GE(spool.descriptor, 0);
  EXPECT_EQ(spool.volume, 2);
}

}  // namespace
