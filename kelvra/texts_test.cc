// The texts of k5_make, k2_make and k_make, accepted and refused; k5_info for every code;
// ki_check_record_size; the version K_VERSION selects; the portable file table.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "kelvra/test_format.h"
#include "kelvra/test_support.h"

namespace {

class TextsTest : public KelvraTest {
 protected:
  void SetUp() override {
    KelvraTest::SetUp();
    unsetenv("K_VERSION");
    name_ = path("made");
  }

  // The version a file has on disk, read from its own header bytes; 0 when it is none.
  int disk_version() { return raw::File(name_).version(); }

  // Makes with k5_make for version v; 1 on success, else 0 with the error code kept.
  int make(int v, const char* storage, const char* sizes, const char* keys) {
    rt_config_set("K_VERSION", 0, v);
    return k5_make(name_.c_str(), "texts", storage, sizes, keys, nullptr);
  }

  std::string info(KFile* f, int code) {
    char buf[512];
    memset(buf, '#', sizeof buf);
    if (!k5_info(f, code, buf)) return "<none>";
    return buf;
  }

  std::string name_;
};

TEST_F(TextsTest, MakeTextsAcceptedAndRefused) {
  struct Text {
    const char* storage;
    const char* sizes;
    const char* keys;
    bool ok[4];  // versions 2, 3, 4, 5
    const char* what;
  };
  const std::vector<Text> texts = {
      {"1,0,0,0,0", "100,10,1", "1,0,8,0", {1, 1, 1, 1}, "one key"},
      {"1", "100,100,1", "1,0,8,0", {1, 1, 1, 1}, "storage fields left out"},
      {"1,0,0,0,0", "100,10,2", "1,0,8,0,2,1,4,10,2,20", {1, 1, 1, 1}, "two keys"},
      {"1,0,0,0,0", "100,10,1", "01,0,008,0000000000", {1, 1, 1, 1}, "fixed-position key text"},
      {"1,0,0,0,0", "100,10,1", "1,0,8,92", {1, 1, 1, 1}, "key at the record's end"},
      {"1,0,0,0,0", "100,10,1", "1,0,8,93", {0, 0, 0, 0}, "key past the record's end"},
      {"1,0,0,0,0", "100,10,1", "1,0,0,0", {0, 0, 0, 0}, "segment of size 0"},
      {"1,0,0,0,0", "100,10", "1,0,8,0", {0, 0, 0, 0}, "two record sizes"},
      {"1,0,0,0,0", "100,10,1,1", "1,0,8,0", {0, 0, 0, 0}, "four record sizes"},
      {"1,0,0,0,0", "100,10,0", "1,0,8,0", {0, 0, 0, 0}, "no key"},
      {"1,0,0,0,0", "100,10,121", "1,0,8,0", {0, 0, 0, 0}, "121 keys"},
      {"1,0,0,0,0", "100,10,2", "1,0,8,0", {0, 0, 0, 0}, "fewer keys than counted"},
      {"1,0,0,0,0", "100,10,1", "1,0,8,0,1,0,4,8", {0, 0, 0, 0}, "more keys than counted"},
      {"1,0,0,0,0", "100,10,1", "2,0,8,0", {0, 0, 0, 0}, "fewer segments than counted"},
      {"1,0,0,0,0", "100,10,1", "1,2,8,0", {0, 0, 0, 0}, "duplicates flag 2"},
      {"1,0,0,0,0", "100,10,1", "1,0,8,x", {0, 0, 0, 0}, "not a number"},
      {"1,0,0,0,0", "100,10,1", "1,0,8,,0", {0, 0, 0, 0}, "empty field"},
      {"1,0,0,0,0", "100,200,1", "1,0,8,0", {0, 0, 0, 0}, "minimum above maximum"},
      {"1,0,0,0,0", "0,0,1", "1,0,8,0", {0, 0, 0, 0}, "record size 0"},
      {"1,0,0,0,0", "32767,10,1", "1,0,8,0", {1, 1, 1, 1}, "largest record of versions 2-4"},
      {"1,0,0,0,0", "32768,10,1", "1,0,8,0", {0, 0, 0, 1}, "32768 bytes"},
      {"1,0,0,0,0", "67108864,10,1", "1,0,8,0", {0, 0, 0, 1}, "largest record of version 5"},
      {"1,0,0,0,0", "67108865,10,1", "1,0,8,0", {0, 0, 0, 0}, "record too large"},
      {"1,0,0,0,0", "100,10,1", "6,0,1,0,1,1,1,2,1,3,1,4,1,5", {1, 1, 1, 1}, "6 segments"},
      {"1,0,0,0,0", "100,10,1", "7,0,1,0,1,1,1,2,1,3,1,4,1,5,1,6", {0, 0, 1, 1}, "7 segments"},
      {"1,0,0,0,0",
       "100,10,1",
       "16,0,1,0,1,1,1,2,1,3,1,4,1,5,1,6,1,7,1,8,1,9,1,10,1,11,1,12,1,13,1,14,1,15",
       {0, 0, 1, 1},
       "16 segments"},
      {"1,0,0,0,0",
       "100,10,1",
       "17,0,1,0,1,1,1,2,1,3,1,4,1,5,1,6,1,7,1,8,1,9,1,10,1,11,1,12,1,13,1,14,1,15,1,16",
       {0, 0, 0, 0},
       "17 segments"},
      {"2,0,0,0,0", "100,10,1", "1,0,8,0", {1, 1, 1, 1}, "blocking factor 2"},
      {"3,0,0,0,0", "100,10,1", "1,0,8,0", {0, 0, 0, 1}, "blocking factor 3"},
      {"16,0,0,0,0", "100,10,1", "1,0,8,0", {0, 0, 0, 1}, "blocking factor 16"},
      {"17,0,0,0,0", "100,10,1", "1,0,8,0", {0, 0, 0, 0}, "blocking factor 17"},
      {"1,0,0,101,0", "100,10,1", "1,0,8,0", {0, 0, 0, 0}, "compression factor 101"},
      {"1,0,0,100,1", "100,10,1", "1,0,8,0", {1, 1, 1, 1}, "compression 100, encrypted"},
      {"1,0,0,0,2", "100,10,1", "1,0,8,0", {0, 0, 0, 0}, "encryption flag 2"},
      // Three entries of a key must fit a node: 250-byte keys need 1024-byte blocks.
      {"1,0,0,0,0", "300,300,1", "1,0,250,0", {0, 0, 0, 0}, "key too long for the block"},
      {"2,0,0,0,0", "300,300,1", "1,0,250,0", {1, 1, 1, 1}, "250-byte key in 1024 bytes"},
      {"2,0,0,0,0", "300,300,1", "1,1,250,0", {1, 1, 1, 1}, "with a serial number"},
      {"1,0,0,0,0", "300,300,1", "1,0,161,0", {1, 1, 1, 1}, "161-byte key in 512 bytes"},
      {"1,0,0,0,0", "300,300,1", "1,0,163,0", {1, 1, 0, 0}, "163 bytes and a 6-byte address"},
      {"1,0,0,0,0", "300,300,1", "1,1,159,0", {1, 1, 0, 0}, "159 bytes and a serial number"},
      {"0,0,0,0,0", "300,300,1", "1,0,250,0", {1, 1, 1, 1}, "blocking chosen for the key"},
      {"2,0,0,0,0", "300,300,1", "2,0,200,0,51,200", {0, 0, 0, 0}, "key of 251 bytes"},
  };
  for (const Text& t : texts) {
    for (int v = 2; v <= 5; v++) {
      SCOPED_TRACE(std::string(t.what) + ", version " + std::to_string(v));
      unlink(name_.c_str());
      int ok = make(v, t.storage, t.sizes, t.keys);
      EXPECT_EQ(ok != 0, t.ok[v - 2]) << error() << "/" << error2();
      if (!ok) {
        EXPECT_EQ(error(), 2);
        EXPECT_FALSE(raw::exists(name_)) << "a refused make leaves no file";
        continue;
      }
      EXPECT_EQ(disk_version(), v);
      KFile* f = k5_open(name_.c_str(), K_MODE_READ, "0,0,0");
      ASSERT_NE(f, nullptr) << error() << "/" << error2();
      EXPECT_EQ(f->version, v);
      EXPECT_NE(k5_close(f), 0);
    }
  }
}

TEST_F(TextsTest, InfoForEveryCode) {
  uint8_t table[256];
  for (int c = 0; c < 256; c++) table[c] = static_cast<uint8_t>((c * 7 + 3) % 256);
  std::string keys = "1,0,10,0,2,1,4,20,3,8,16,0";
  for (int s = 0; s < 16; s++) keys += ",1," + std::to_string(40 + s);
  for (int v = 2; v <= 5; v++) {
    SCOPED_TRACE("version " + std::to_string(v));
    rt_config_set("K_VERSION", 0, v);
    bool wide = v >= 4;  // 16 segments need version 4 or later
    ASSERT_NE(
        k5_make(name_.c_str(), "thirty characters of comment!!", "2,7,9,35,1", "400,120,3",
                wide ? keys.c_str() : "1,0,10,0,2,1,4,20,3,8,1,0,6,100", v == 3 ? table : nullptr),
        0)
        << error() << "/" << error2();
    KFile* f = k5_open(name_.c_str(), K_MODE_WRITE, "0,0,0");
    ASSERT_NE(f, nullptr);
    std::string rec(400, 'r');
    for (int i = 0; i < 3; i++) {
      rec[0] = static_cast<char>('a' + i);
      rec[40] = rec[100] = static_cast<char>('k' + i);
      ASSERT_NE(k5_write(f, rec.data(), 400), 0) << error() << "/" << error2();
    }
    EXPECT_EQ(info(f, -1), "400,120,3");
    EXPECT_EQ(info(f, -2), "2,7,9,35,1");
    EXPECT_EQ(info(f, -3), "thirty characters of comment!!");
    EXPECT_EQ(info(f, -4), "3");
    // The collating table only where the file has one.
    char table_out[256];
    memset(table_out, 0, sizeof table_out);
    if (v == 3) {
      EXPECT_NE(k5_info(f, -5, table_out), 0);
      EXPECT_EQ(memcmp(table_out, table, 256), 0);
    } else {
      EXPECT_EQ(k5_info(f, -5, table_out), 0);
    }
    // Key texts at fixed positions: 4 + 15 characters per segment.
    EXPECT_EQ(info(f, 0), "01,0,010,0000000000");
    std::string k1 = info(f, 1);
    EXPECT_EQ(k1.size(), 34u);
    EXPECT_EQ(k1.substr(0, 5), "02,1,");
    unsigned size = 0, offset = 0;
    EXPECT_EQ(sscanf(k1.c_str() + 5, "%u,%u", &size, &offset), 2);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(offset, 20u);
    EXPECT_EQ(sscanf(k1.c_str() + 5 + 15, "%u,%u", &size, &offset), 2);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(offset, 8u);
    std::string k2 = info(f, 2);
    if (wide) {
      EXPECT_EQ(k2.size(), 244u);
      EXPECT_EQ(k2.substr(0, 4), "16,0");
      EXPECT_EQ(sscanf(k2.c_str() + 5 + 15 * 15, "%u,%u", &size, &offset), 2);
      EXPECT_EQ(size, 1u);
      EXPECT_EQ(offset, 55u);
    } else {
      EXPECT_EQ(k2, "01,0,006,0000000100");
    }
    // No key 3 and nothing beyond; no code below -5.
    for (int code : {3, 4, 50, 119, 120}) EXPECT_EQ(info(f, code), "<none>") << code;
    EXPECT_EQ(info(f, -6), "<none>");
    // The joined key texts make the same file again.
    std::string joined = info(f, 0) + "," + k1 + "," + k2;
    EXPECT_NE(k5_close(f), 0);
    std::string copy = path("copy");
    ASSERT_NE(k5_make(copy.c_str(), "copy", "2,7,9,35,1", "400,120,3", joined.c_str(), nullptr), 0)
        << joined;
    f = k5_open(copy.c_str(), K_MODE_READ, "0,0,0");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(info(f, 1), k1);
    EXPECT_EQ(info(f, 2), k2);
    EXPECT_EQ(info(f, -4), "0");
    EXPECT_NE(k5_close(f), 0);
  }
  // A comment beyond 30 characters keeps its first 30.
  ASSERT_NE(k5_make(name_.c_str(), "0123456789012345678901234567890123456789", "1", "20,20,1",
                    "1,0,8,0", nullptr),
            0);
  KFile* c = k5_open(name_.c_str(), K_MODE_READ, "0,0,0");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(info(c, -3), "012345678901234567890123456789");
  EXPECT_NE(k5_close(c), 0);
  // No name, no file.
  EXPECT_EQ(k5_make("", "", "1", "20,20,1", "1,0,8,0", nullptr), 0);
  EXPECT_EQ(error(), 2);
  EXPECT_EQ(k5_open("", K_MODE_READ, "0,0,0"), nullptr);
  EXPECT_EQ(error(), 2);
  EXPECT_EQ(k5_open(path("nothing").c_str(), K_MODE_READ, "0,0,0"), nullptr);
  EXPECT_EQ(error(), 15);
  // A file of 120 keys: key 119 is the last one.
  std::string many;
  for (int k = 0; k < 120; k++) many += std::string(k ? "," : "") + "1,0,2," + std::to_string(k);
  rt_config_set("K_VERSION", 0, 5);
  ASSERT_NE(k5_make(name_.c_str(), "", "1,0,0,0,0", "200,200,120", many.c_str(), nullptr), 0)
      << error() << "/" << error2();
  KFile* f = k5_open(name_.c_str(), K_MODE_READ, "0,0,0");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(info(f, 119), "01,0,002,0000000119");
  EXPECT_EQ(info(f, 120), "<none>");
  EXPECT_EQ(f->key_count, 120);
  EXPECT_NE(k5_close(f), 0);
}

TEST_F(TextsTest, OldFormatAndGenericMakes) {
  // k2_make: record size, keys; size and offset per key, Y/N for each alternate key; N;
  // compression; encryption; then the comment, commas and all.
  ASSERT_NE(k2_make(name_.c_str(), "2,4", "80,2,8,0,10,8,Y,N,Y,N,a comment, with commas"), 0)
      << error() << "/" << error2();
  EXPECT_EQ(disk_version(), 2);
  KFile* f = k5_open(name_.c_str(), K_MODE_READ, "0,0,0");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(info(f, -1), "80,80,2");
  EXPECT_EQ(info(f, -2), "2,4,0,1,0");
  EXPECT_EQ(info(f, -3), "a comment, with commas");
  EXPECT_EQ(info(f, 0), "01,0,008,0000000000");
  EXPECT_EQ(info(f, 1), "01,1,010,0000000008");
  EXPECT_NE(k5_close(f), 0);
  // K_VERSION does not matter to k2_make.
  rt_config_set("K_VERSION", 0, 4);
  ASSERT_NE(k2_make(name_.c_str(), "1,0", "40,1,8,0,N,N,Y"), 0) << error() << "/" << error2();
  EXPECT_EQ(disk_version(), 2);
  f = k5_open(name_.c_str(), K_MODE_READ, "0,0,0");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(info(f, -2), "1,0,0,0,1");
  EXPECT_EQ(info(f, -3), "");
  EXPECT_NE(k5_close(f), 0);
  for (const char* bad : {"40,1,8,0,N,N", "40,1,8,0,N,N,X", "40,0,N,N,N", "40,2,8,0,4,8,N,N,N",
                          "40,1,8,40,N,N,N", "", "40"}) {
    unlink(name_.c_str());
    EXPECT_EQ(k2_make(name_.c_str(), "1,0", bad), 0) << bad;
    EXPECT_EQ(error(), 2) << bad;
    EXPECT_FALSE(raw::exists(name_)) << bad;
  }
  EXPECT_EQ(k2_make(name_.c_str(), "1", "40,1,8,0,N,N,N"), 0);
  EXPECT_EQ(error(), 2);
  EXPECT_EQ(k2_make(name_.c_str(), "3,0", "40,1,8,0,N,N,N"), 0) << "blocking factor 3";
  EXPECT_EQ(error(), 2);

  // k_make: "V2" to "V5" or empty (K_VERSION) and "storage;sizes;keys[;comment]".
  for (int v = 2; v <= 5; v++) {
    std::string param = "V" + std::to_string(v);
    ASSERT_NE(k_make(name_.c_str(), "1,0,0,0,0;50,50,1;1,0,5,0;made generically", param.c_str()), 0)
        << param << ": " << error() << "/" << error2();
    EXPECT_EQ(disk_version(), v);
    f = k5_open(name_.c_str(), K_MODE_READ, "0,0,0");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(info(f, -3), "made generically");
    EXPECT_EQ(info(f, -1), "50,50,1");
    EXPECT_NE(k5_close(f), 0);
  }
  rt_config_set("K_VERSION", 0, 3);
  ASSERT_NE(k_make(name_.c_str(), "1,0,0,0,0;50,50,1;1,0,5,0", ""), 0);
  EXPECT_EQ(disk_version(), 3);
  for (auto [description, param] :
       std::vector<std::pair<const char*, const char*>>{{"1,0,0,0,0;50,50,1;1,0,5,0", "V6"},
                                                        {"1,0,0,0,0;50,50,1;1,0,5,0", "V1"},
                                                        {"1,0,0,0,0;50,50,1;1,0,5,0", "X"},
                                                        {"1,0,0,0,0;50,50,1", "V5"},
                                                        {"1,0,0,0,0;50,50,1;1,0,5,60", "V5"},
                                                        {"", "V5"}}) {
    unlink(name_.c_str());
    EXPECT_EQ(k_make(name_.c_str(), description, param), 0) << description << " " << param;
    EXPECT_EQ(error(), 2);
    EXPECT_FALSE(raw::exists(name_));
  }
}

TEST_F(TextsTest, VersionChosenByConfiguration) {
  auto made = [&]() {
    EXPECT_NE(k5_make(name_.c_str(), "", "1,0,0,0,0", "50,50,1", "1,0,5,0", nullptr), 0);
    return disk_version();
  };
  EXPECT_EQ(made(), 5) << "K_VERSION not set";
  for (auto [value, version] : std::vector<std::pair<long, int>>{
           {0, 5}, {1, 5}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 5}, {99, 5}, {-3, 5}}) {
    rt_config_set("K_VERSION", 0, value);
    EXPECT_EQ(made(), version) << "K_VERSION " << value;
  }
  // From the environment as well.
  rt_config_reset();
  setenv("K_VERSION", "3", 1);
  EXPECT_EQ(made(), 3);
  unsetenv("K_VERSION");
}

TEST_F(TextsTest, RecordSizeLimits) {
  struct Limit {
    int version;
    uint32_t size;
    uint32_t want;
  };
  for (const Limit& l : std::vector<Limit>{{2, 0, 4},
                                           {3, 0, 4},
                                           {4, 0, 6},
                                           {5, 0, 0},
                                           {2, 1, 1},
                                           {2, 32767, 32767},
                                           {2, 32768, 32767},
                                           {3, 40000, 32767},
                                           {4, 0xFFFFFFFFu, 32767},
                                           {4, 500, 500},
                                           {5, 32768, 32768},
                                           {5, 67108864, 67108864},
                                           {5, 67108865, 67108864},
                                           {5, 0xFFFFFFFFu, 67108864}}) {
    EXPECT_EQ(ki_check_record_size(l.version, l.size), l.want)
        << "version " << l.version << ", size " << l.size;
  }
}

TEST_F(TextsTest, PortableFileTable) {
  std::string file = path("plain.txt");
  int h = f_open(file.c_str(), 0);
  EXPECT_LT(h, 0) << "a missing file";
  EXPECT_EQ(error(), 15);
  // 513 creates the file for writing.
  h = f_open(file.c_str(), 513);
  ASSERT_GE(h, 0);
  ASSERT_LT(h, K_FILE_TABLE_SIZE);
  int fd = Cfiles[h];
  EXPECT_GE(fd, 0);
  EXPECT_EQ(f_okay(h, 0), fd);
  EXPECT_EQ(write(f_okay(h, 0), "hello", 5), 5);
  int other = f_open(file.c_str(), 0);
  ASSERT_GE(other, 0);
  EXPECT_NE(other, h) << "two open handles are two entries";
  f_release(other);
  EXPECT_EQ(f_close(other), 0);
  EXPECT_EQ(Cfiles[other], -1);
  EXPECT_EQ(f_close(h), 0);
  EXPECT_EQ(Cfiles[h], -1);
  EXPECT_EQ(f_okay(h, 0), -1) << "a closed handle";
  EXPECT_LT(f_close(h), 0) << "closed twice";
  EXPECT_EQ(f_okay(-1, 0), -1);
  EXPECT_EQ(f_okay(K_FILE_TABLE_SIZE, 0), -1);
  EXPECT_EQ(raw::slurp(file), (std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'}));
  // Mode 0 reads what is there; 513 empties an existing file.
  h = f_open(file.c_str(), 0);
  ASSERT_GE(h, 0);
  char buf[8] = {};
  EXPECT_EQ(rt_fd_read(Cfiles[h], buf, 8), 5);
  EXPECT_STREQ(buf, "hello");
  EXPECT_EQ(rt_fd_length(Cfiles[h]), 5);
  EXPECT_EQ(f_close(h), 0);
  h = f_open(file.c_str(), 513);
  ASSERT_GE(h, 0);
  EXPECT_EQ(f_close(h), 0);
  EXPECT_EQ(raw::file_size(file), 0);
  // The table fills up and empties again.
  std::vector<int> handles;
  for (int i = 0; i < K_FILE_TABLE_SIZE + 1; i++) {
    int x = f_open(file.c_str(), 0);
    if (x < 0) {
      EXPECT_EQ(error(), 3) << "a full table";
      break;
    }
    handles.push_back(x);
  }
  EXPECT_LE(handles.size(), static_cast<size_t>(K_FILE_TABLE_SIZE));
  for (int x : handles) EXPECT_EQ(f_close(x), 0);
  h = f_open(file.c_str(), 0);
  EXPECT_GE(h, 0);
  EXPECT_EQ(f_close(h), 0);
}

}  // namespace
