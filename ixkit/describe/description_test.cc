// Key texts: read by position, read from an open file, joined so that k5_make takes them.
#include "ixkit/describe/description.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "ixkit/front/state.h"
#include "ixkit/libs/rtcore.h"

namespace {

TEST(ParseKeyText, OneSegment) {
  KeyTextInfo key;
  parse_key_text("01,0,010,0000000000", &key);
  EXPECT_EQ(key.segment_count, 1u);
  EXPECT_EQ(key.duplicates, 0u);
  EXPECT_EQ(key.size[0], 10u);
  EXPECT_EQ(key.offset[0], 0u);
  EXPECT_EQ(key.total_size, 10u);
}

TEST(ParseKeyText, SeveralSegmentsBlankOrZeroPadded) {
  KeyTextInfo key;
  parse_key_text("03,1,  4,        12,004,0000000000,  2,       100", &key);
  EXPECT_EQ(key.segment_count, 3u);
  EXPECT_EQ(key.duplicates, 1u);
  EXPECT_EQ(key.size[0], 4u);
  EXPECT_EQ(key.offset[0], 12u);
  EXPECT_EQ(key.size[1], 4u);
  EXPECT_EQ(key.offset[1], 0u);
  EXPECT_EQ(key.size[2], 2u);
  EXPECT_EQ(key.offset[2], 100u);
  EXPECT_EQ(key.total_size, 10u);
}

TEST(ParseKeyText, SixteenSegmentsFillTheBuffer) {
  std::string text = "16,0";
  for (int i = 0; i < 16; ++i) {
    char segment[16];
    snprintf(segment, sizeof segment, ",%03d,%010d", i + 1, 1000 + i);
    text += segment;
  }
  ASSERT_EQ(text.size(), 244u);
  ASSERT_LT(text.size(), static_cast<size_t>(K_KEY_TEXT_SIZE));
  KeyTextInfo key;
  parse_key_text(text.c_str(), &key);
  EXPECT_EQ(key.segment_count, 16u);
  EXPECT_EQ(key.size[15], 16u);
  EXPECT_EQ(key.offset[15], 1015u);
  EXPECT_EQ(key.total_size, 136u);
}

TEST(ParseKeyText, TakesOnlyWhatTheTextHolds) {
  KeyTextInfo key;
  // Two segments claimed, one present.
  parse_key_text("02,1,008,0000000004", &key);
  EXPECT_EQ(key.segment_count, 1u);
  EXPECT_EQ(key.duplicates, 1u);
  EXPECT_EQ(key.total_size, 8u);
  // More than sixteen claimed: no more than sixteen are read.
  std::string text = "99,0";
  for (int i = 0; i < 20; ++i) text += ",001,0000000000";
  parse_key_text(text.c_str(), &key);
  EXPECT_EQ(key.segment_count, 16u);
  EXPECT_EQ(key.total_size, 16u);
  for (const char* junk : {"", "0", "xx,0", "01"}) {
    parse_key_text(junk, &key);
    EXPECT_EQ(key.segment_count, 0u) << junk;
    EXPECT_EQ(key.total_size, 0u) << junk;
  }
}

class KeyTexts : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/ixkit_keys.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    rt_config_reset();
    k5_init_cfg();
    k5_init();
  }
  void TearDown() override {
    k5_exit(0);
    rt_config_reset();
    std::string cmd = "rm -rf '" + dir_ + "'";
    if (system(cmd.c_str()) != 0) ADD_FAILURE() << "could not remove " << dir_;
  }
  // A file with keys of 1, 2 and 1 segments.
  KFile* make_three_keys(const std::string& name) {
    std::string p = dir_ + "/" + name;
    EXPECT_NE(k5_make(p.c_str(), "three", "1,0,0,0,0", "60,60,3", "1,0,8,0,2,1,4,8,6,20,1,1,3,40",
                      nullptr),
              0);
    return k5_open(p.c_str(), K_MODE_READ, "0,0,0");
  }
  std::string dir_;
};

TEST_F(KeyTexts, ReadsEachKeyAndNothingBeyond) {
  KFile* file = make_three_keys("a");
  ASSERT_NE(file, nullptr);
  KeyTextInfo key;
  ASSERT_EQ(read_key_text(file, 1, &key), 1);
  EXPECT_EQ(key.segment_count, 2u);
  EXPECT_EQ(key.duplicates, 1u);
  EXPECT_EQ(key.size[1], 6u);
  EXPECT_EQ(key.offset[1], 20u);
  EXPECT_EQ(key.total_size, 10u);
  ASSERT_EQ(read_key_text(file, 2, &key), 1);
  EXPECT_EQ(key.offset[0], 40u);
  EXPECT_EQ(read_key_text(file, 3, &key), 0);
  EXPECT_EQ(read_key_text(file, -1, &key), 0);  // a code, not a key
  k5_close(file);
}

TEST_F(KeyTexts, JoinedTextsMakeTheSameKeys) {
  KFile* file = make_three_keys("a");
  ASSERT_NE(file, nullptr);
  char* joined = join_key_texts(file, 3);
  ASSERT_NE(joined, nullptr);
  std::string expected;
  char text[K_KEY_TEXT_SIZE];
  for (int k = 0; k < 3; ++k) {
    ASSERT_NE(k5_info(file, k, text), 0);
    expected += (k ? "," : "") + std::string(text);
  }
  EXPECT_EQ(strlen(joined), 19u + 34u + 19u + 2u);
  EXPECT_EQ(joined, expected);
  k5_close(file);

  std::string copy = dir_ + "/copy";
  ASSERT_NE(k5_make(copy.c_str(), "", "1,0,0,0,0", "60,60,3", joined, nullptr), 0)
      << *rt_file_error();
  rt_free(joined, IXKIT_SOURCE, __LINE__, 0);
  file = k5_open(copy.c_str(), K_MODE_READ, "0,0,0");
  ASSERT_NE(file, nullptr);
  std::string again;
  for (int k = 0; k < 3; ++k) {
    ASSERT_NE(k5_info(file, k, text), 0);
    again += (k ? "," : "") + std::string(text);
  }
  EXPECT_EQ(again, expected);
  k5_close(file);
}

TEST_F(KeyTexts, JoiningStopsAtTheLastKeyTheFileHas) {
  KFile* file = make_three_keys("a");
  ASSERT_NE(file, nullptr);
  char* one = join_key_texts(file, 1);
  EXPECT_EQ(std::string(one), "01,0,008,0000000000");
  char* more = join_key_texts(file, 5);
  EXPECT_EQ(strlen(more), 74u);
  EXPECT_NE(more[73], ',');
  char* none = join_key_texts(file, 0);
  EXPECT_EQ(std::string(none), "");
  for (char* p : {one, more, none}) rt_free(p, IXKIT_SOURCE, __LINE__, 0);
  k5_close(file);
}

}  // namespace
