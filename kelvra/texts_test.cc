// The texts of k5_make, k_make and k2_make, accepted and refused; k5_info for every code;
// ki_check_record_size; the version K_VERSION selects; k5_remove; the portable file table.
#include <unistd.h>

#include <cstring>

#include "kelvra/test_support.h"

class TextsTest : public KelvraTest {
 protected:
  static std::string info(KFile* f, int code) {
    char buf[512];
    memset(buf, '#', sizeof buf);
    return k5_info(f, code, buf) ? buf : "<none>";
  }
  // The format version of name_ and what k5_info says for codes -1, -2, -3, 0 and 1, or
  // the error.
  // Records of name_ by the library.
  int made_records() {
    KFile* f = k5_open(name_.c_str(), K_MODE_READ, "0,0,0");
    if (!f) return -1;
    int n = atoi(info(f, -4).c_str());
    k5_close(f);
    return n;
  }
  std::string made() {
    KFile* f = k5_open(name_.c_str(), K_MODE_READ, "0,0,0");
    if (!f) return "error " + std::to_string(error());
    std::string out = std::to_string(f->version);
    for (int code : {-1, -2, -3, 0, 1}) out += "|" + info(f, code);
    EXPECT_NE(k5_close(f), 0);
    return out;
  }
};

// Each "storage;sizes;keys" text of k5_make, made by k_make in each version, is accepted or
// refused as its flags for versions 2 to 5 say. A refused make gives code 2 and leaves no
// file; an accepted one makes a file of that version, as its own header bytes say. k_make
// takes "V2" to "V5", or K_VERSION when empty, and a comment after the keys; k2_make the
// record size, the keys (Y/N for duplicates of each alternate key), N, compression,
// encryption and a comment that may hold commas.
TEST_F(TextsTest, MakeTextsAcceptedAndRefused) {
  const std::vector<std::string> texts = {
      "1,0,0,0,0;100,10,1;1,0,8,0 1111", "1;100,10,1;01,0,008,0000000000 1111",
      "1;100,10,1;1,0,8,92 1111", "1;100,10,1;1,0,8,93 0000", "1;100,10,1;1,0,0,0 0000",
      "1;100,10;1,0,8,0 0000", "1;100,10,1,1;1,0,8,0 0000", "1;100,10,0;1,0,8,0 0000",
      "1;100,10,121;1,0,8,0 0000", "1;100,10,2;1,0,8,0 0000", "1;100,10,1;1,0,8,0,1,0,4,8 0000",
      "1;100,10,1;2,0,8,0 0000", "1;100,10,1;1,2,8,0 0000", "1;100,10,1;1,0,8,x 0000",
      "1;100,10,1;1,0,8,,0 0000", "1;100,200,1;1,0,8,0 0000", "1;0,0,1;1,0,8,0 0000",
      "1;32767,10,1;1,0,8,0 1111", "1;32768,10,1;1,0,8,0 0001", "1;67108864,10,1;1,0,8,0 0001",
      "1;67108865,10,1;1,0,8,0 0000", "1;100,10,1;6,0,1,0,1,1,1,2,1,3,1,4,1,5 1111",
      "1;100,10,1;7,0,1,0,1,1,1,2,1,3,1,4,1,5,1,6 0011",
      "1;100,10,1;17,0,1,0,1,1,1,2,1,3,1,4,1,5,1,6,1,7,1,8,1,9,1,1,1,1,1,1,1,1,1,1,1,1,1,1 0000",
      "2;100,10,1;1,0,8,0 1111", "3;100,10,1;1,0,8,0 0001", "16;100,10,1;1,0,8,0 0001",
      "17;100,10,1;1,0,8,0 0000", "1,0,0,101,0;100,10,1;1,0,8,0 0000",
      "1,0,0,100,1;100,10,1;1,0,8,0 1111", "1,0,0,0,2;100,10,1;1,0,8,0 0000",
      // Three entries of a key must fit a node, with its address and serial number.
      "1;300,300,1;1,0,250,0 0000", "2;300,300,1;1,1,250,0 1111", "1;300,300,1;1,0,161,0 1111",
      "1;300,300,1;1,0,163,0 1100", "1;300,300,1;1,1,159,0 1100", "0;300,300,1;1,0,250,0 1111",
      "2;300,300,1;2,0,200,0,51,200 0000"};
  for (const std::string& t : texts) {
    for (int v = 2; v <= 5; v++) {
      const bool ok = t[t.size() - 5 + size_t(v) - 1] == '1';
      unlink(name_.c_str());
      EXPECT_EQ(k_make(name_.c_str(), t.substr(0, t.size() - 5).c_str(),
                       ("V" + std::to_string(v)).c_str()) != 0,
                ok)
          << t << " in version " << v;
      EXPECT_EQ(ok ? raw::File(name_).version : error(), ok ? v : 2) << t;
      EXPECT_EQ(made().substr(0, 2), ok ? std::to_string(v) + "|" : "er") << t;
    }
  }
  rt_config_set("K_VERSION", 0, 3);
  ASSERT_NE(k_make(name_.c_str(), "1;50,50,1;1,0,5,0;generic", ""), 0);
  EXPECT_EQ(made(), "3|50,50,1|1,0,0,0,0|generic|01,0,005,0000000000|<none>");
  ASSERT_NE(k2_make(name_.c_str(), "2,4", "80,2,8,0,10,8,Y,N,Y,N,a comment, with commas"), 0);
  EXPECT_EQ(made(),
            "2|80,80,2|2,4,0,1,0|a comment, with commas|01,0,008,0000000000|01,1,010,0000000008");
  ASSERT_NE(k2_make(name_.c_str(), "1,0", "40,1,8,0,N,N,Y"), 0);
  EXPECT_EQ(made(), "2|40,40,1|1,0,0,0,1||01,0,008,0000000000|<none>");
  for (const std::string bad :
       {"V6|1;50,50,1;1,0,5,0", "V1|1;50,50,1;1,0,5,0", "X|1;50,50,1;1,0,5,0", "V5|1;50,50,1",
        "V5|1;50,50,1;1,0,5,60", "V5|", "1,0|40,1,8,0,N,N", "1,0|40,1,8,0,N,N,X", "1,0|40,0,N,N,N",
        "1,0|40", "1,0|40,2,8,0,4,8,N,N,N", "1,0|40,1,8,40,N,N,N", "1,0|", "1|40,1,8,0,N,N,N",
        "3,0|40,1,8,0,N,N,N"}) {  // parameters|text of k_make ("V..."), else of k2_make
    unlink(name_.c_str());
    const std::string param = bad.substr(0, bad.find('|')), text = bad.substr(bad.find('|') + 1);
    int ok = bad[0] == 'V' || bad[0] == 'X' ? k_make(name_.c_str(), text.c_str(), param.c_str())
                                            : k2_make(name_.c_str(), param.c_str(), text.c_str());
    EXPECT_TRUE(!ok && error() == 2 && !raw::exists(name_)) << bad;
  }
}

// k5_info for each code from -5 to 120, in each version: sizes, storage, comment (its first
// 30 characters), record count, collating table and the fixed-position key texts, which make
// the same keys again. No name, no file.
TEST_F(TextsTest, InfoForEveryCode) {
  uint8_t table[256];
  for (int c = 0; c < 256; c++) table[c] = uint8_t(c * 7 + 3);
  for (int v = 2; v <= 5; v++) {
    rt_config_set("K_VERSION", 0, v);
    const char* keys = "01,0,010,0000000000,02,1,004,0000000020,003,0000000008,01,0,006,0000000100";
    ASSERT_NE(k5_make(name_.c_str(), "thirty characters of comment!! and more", "2,7,9,35,1",
                      "400,120,3", keys, v == 3 ? table : nullptr),
              0);
    KFile* f = k5_open(name_.c_str(), K_MODE_WRITE, "0,0,0");
    ASSERT_NE(f, nullptr);
    for (char c : {'k', 'l', 'm'}) {
      std::string r = rec(c, 400);
      r[100] = c;  // unique keys 2
      ASSERT_NE(k5_write(f, r.data(), 400), 0) << error();
    }
    EXPECT_EQ(info(f, -1) + " " + info(f, -2) + " " + info(f, -3) + " " + info(f, -4),
              "400,120,3 2,7,9,35,1 thirty characters of comment!! 3");
    char got[256];
    EXPECT_EQ(k5_info(f, -5, got) && !memcmp(got, table, 256), v == 3) << "collating table";
    EXPECT_EQ(info(f, 0) + "," + info(f, 1) + "," + info(f, 2), keys);
    for (int code = 3; code <= 120; code++) EXPECT_EQ(info(f, code), "<none>") << code;
    EXPECT_NE(k5_close(f), 0);
  }
  EXPECT_TRUE(!k5_make("", "", "1", "20,20,1", "1,0,8,0", nullptr) && error() == 2);
}

// K_VERSION chooses the version k5_make makes: 2 to 5, else 5. ki_check_record_size: the
// largest record a version allows, and with size 0 the data bytes of a chain link.
TEST_F(TextsTest, VersionsAndRecordSizes) {
  for (long value : {-1L, 0L, 1L, 2L, 3L, 4L, 5L, 6L, 99L, -3L}) {
    if (value != -1) rt_config_set("K_VERSION", 0, value);  // -1: not set
    EXPECT_NE(k5_make(name_.c_str(), "", "1", "50,50,1", "1,0,5,0", nullptr), 0);
    EXPECT_EQ(raw::File(name_).version, value >= 2 && value <= 5 ? value : 5) << value;
  }
  const uint32_t big = 67108864, all = 0xFFFFFFFFu,
                 limits[] = {2, 0,       4,     3, 0,     4,     4, 0,     6,     5, 0,     0,
                             2, 1,       1,     2, 32767, 32767, 2, 32768, 32767, 3, 40000, 32767,
                             4, all,     32767, 4, 500,   500,   5, 32768, 32768, 5, big,   big,
                             5, big + 1, big,   5, all,   big};
  for (size_t i = 0; i < std::size(limits); i += 3)  // version, size, limit
    EXPECT_EQ(ki_check_record_size(int(limits[i]), limits[i + 1]), limits[i + 2]) << i / 3;
}

// k5_make over a segmented file and k5_remove take every segment of it, k5_remove also
// with an index segment missing under k_open_no_index; removing or opening what is not there
// gives 15. A segment is made large enough for the header, the dictionary and the largest
// record, and a record never runs past the end of its segment.
TEST_F(TextsTest, RemoveTakesEverySegment) {
  std::vector<std::string> recs;
  for (int i = 0; i < 150; i++) recs.push_back(rec(i, 200));
  rt_config_set("K_SEGMENT_SIZE", 0, 4096);
  auto none_from = [&](int data, int index) {
    for (int s = 0; s < 100; s++)
      EXPECT_FALSE((s >= data && raw::exists(raw::data_path(name_, s))) ||
                   (s >= index && raw::exists(raw::index_path(name_, s))))
          << s;
  };
  ASSERT_NO_FATAL_FAILURE(make(5, "1", "200,100,3", recs));
  ASSERT_TRUE(raw::exists(raw::data_path(name_, 2)) && raw::exists(raw::index_path(name_, 1)));
  ASSERT_NO_FATAL_FAILURE(make(4, "1", "9000,9000,3", {std::string(9000, 'q')}));
  none_from(1, 1);
  raw::File big(name_);
  EXPECT_GE(big.segment_size, 512 + big.field(60) + 4 + 9000);
  ASSERT_NO_FATAL_FAILURE(make(3, "1", "200,100,3", {}));
  none_from(1, 0);
  ASSERT_NO_FATAL_FAILURE(make(5, "1", "200,100,3", recs));
  for (const raw::Record& r : raw::File(name_).walk()) EXPECT_LE(r.after.offset, 4096u);
  ASSERT_TRUE(raw::exists(raw::data_path(name_, 2)) && !unlink(raw::index_path(name_, 1).c_str()));
  k_open_no_index = 1;
  EXPECT_NE(k5_remove(name_.c_str()), 0) << error();
  none_from(0, 0);
  EXPECT_TRUE(!k5_remove(name_.c_str()) && error() == 15 && open_error() == 1500);
}

// k5_make_open makes the file with its user count raised and returns it open for filling,
// so that it is never a closed empty file on disk until k5_close; it takes the fill modes
// only, and a make it refuses leaves nothing.
TEST_F(TextsTest, MakeOpenCountsItsOpener) {
  auto users = [&] { return raw::File(name_).field(KF_USER_COUNT); };
  for (int version : {3, 5}) {
    SCOPED_TRACE(version);
    rt_config_set("K_VERSION", 0, version);
    for (int mode : {K_MODE_FILL, K_MODE_FAST_FILL}) {
      KFile* f = k5_make_open(name_.c_str(), "c", "1,0,0,0,0", "40,40,1", "1,0,8,0", nullptr, mode);
      ASSERT_NE(f, nullptr) << error();
      EXPECT_EQ(users(), 1u);
      EXPECT_EQ(open_error(K_MODE_READ), 1100);  // the filler has it alone
      for (int i = 0; i < 20; i++) EXPECT_NE(k5_write(f, rec(i).data(), 40), 0);
      EXPECT_NE(k5_close(f), 0);
      EXPECT_EQ(users(), 0u);
      EXPECT_EQ(made_records(), 20);
    }
  }
  EXPECT_EQ(
      k5_make_open(name_.c_str(), "", "1,0,0,0,0", "40,40,1", "1,0,8,0", nullptr, K_MODE_WRITE),
      nullptr);
  EXPECT_EQ(error(), 2);
  ASSERT_EQ(k5_remove(name_.c_str()), 1);
  EXPECT_EQ(
      k5_make_open(name_.c_str(), "", "1,0,0,0,0", "40,40,1", "1,0,8,99", nullptr, K_MODE_FILL),
      nullptr);
  EXPECT_FALSE(raw::exists(name_));
}

// f_open gives handles of the table whose entries hold the descriptors: 0 reads, 513
// creates or empties; closed entries are -1 and refused; a full table gives code 3.
TEST_F(TextsTest, PortableFileTable) {
  std::string file = dir_ + "/plain.txt";
  EXPECT_TRUE(f_open(file.c_str(), 0) < 0 && error() == 15);
  int h = f_open(file.c_str(), 513);
  ASSERT_TRUE(h >= 0 && h < K_FILE_TABLE_SIZE && Cfiles[h] >= 0 && f_okay(h, 0) == Cfiles[h]);
  EXPECT_EQ(write(f_okay(h, 0), "hello", 5), 5);
  EXPECT_EQ(f_close(h), 0);
  EXPECT_TRUE(Cfiles[h] == -1 && f_okay(h, 0) == -1 && f_close(h) < 0) << "a closed handle";
  ASSERT_GE(h = f_open(file.c_str(), 0), 0);
  char buf[8] = {};
  EXPECT_TRUE(rt_fd_read(Cfiles[h], buf, 8) == 5 && !strcmp(buf, "hello") && !f_close(h));
  ASSERT_GE(h = f_open(file.c_str(), 513), 0);
  EXPECT_TRUE(!f_close(h) && raw::file_size(file) == 0) << "emptied";
  std::vector<int> handles;
  while (handles.size() <= K_FILE_TABLE_SIZE && (h = f_open(file.c_str(), 0)) >= 0)
    handles.push_back(h);
  EXPECT_EQ(error(), 3) << "a full table";
  for (int x : handles) EXPECT_EQ(f_close(x), 0);
  EXPECT_TRUE((h = f_open(file.c_str(), 0)) >= 0 && !f_close(h));
}
