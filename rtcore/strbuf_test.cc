// The growable text buffer.
#include "rtcore/test_support.h"

namespace {

class StrBufTest : public RtTest {};

TEST_F(StrBufTest, GrowsFarBeyondItsFirstSize) {
  size_t live = rt_alloc_count();
  RtStrBuf* buffer = rt_strbuf_new("Gen String", 4, "test", __LINE__, 0);
  ASSERT_NE(buffer, nullptr);
  std::string expected;
  for (int i = 0; i < 2000; ++i) {
    std::string piece = std::to_string(i) + ",";
    ASSERT_EQ(rt_strbuf_append(buffer, piece.c_str(), -1), 1);
    expected += piece;
  }
  EXPECT_EQ(rt_strbuf_length(buffer), expected.size());
  EXPECT_EQ(rt_strbuf_text(buffer), expected);

  rt_strbuf_clear(buffer);
  EXPECT_EQ(rt_strbuf_length(buffer), 0u);
  EXPECT_STREQ(rt_strbuf_text(buffer), "");
  rt_strbuf_append(buffer, "hello world", 5);
  rt_strbuf_append(buffer, "!", 100);  // stops at the terminator
  EXPECT_STREQ(rt_strbuf_text(buffer), "hello!");
  rt_strbuf_free(buffer);

  buffer = rt_strbuf_new("small", 0, "test", __LINE__, 0);
  expected = "hello!";
  rt_strbuf_append(buffer, expected.c_str(), -1);
  for (int i = 0; i < 6; ++i) {  // the text given lies in the buffer that grows
    rt_strbuf_append(buffer, rt_strbuf_text(buffer), -1);
    expected += expected;
  }
  EXPECT_EQ(rt_strbuf_text(buffer), expected);
  rt_strbuf_free(buffer);
  EXPECT_EQ(rt_alloc_count(), live);

  EXPECT_EQ(rt_strbuf_append(nullptr, "x", -1), 0);
  EXPECT_STREQ(rt_strbuf_text(nullptr), "");
  rt_strbuf_free(nullptr);
}

// A line far longer than one read, joined from its pieces as the parameter file reader does.
TEST_F(StrBufTest, JoinsPiecesOfALongLine) {
  std::string line(70000, 'p');
  write_file(path("long.txt"), line + "\nshort\n");
  FILE* file = rt_fopen(path("long.txt").c_str(), "r", 0);
  RtStrBuf* joined = rt_strbuf_new("Gen String", 30000, "test", __LINE__, 0);
  char piece[30000];
  int pieces = 0;
  while (rt_fgets(piece, sizeof piece, file)) {
    ++pieces;
    rt_strbuf_append(joined, piece, -1);
    if (std::string(piece).back() == '\n') break;
  }
  rt_fclose(file);
  EXPECT_EQ(pieces, 3);
  EXPECT_EQ(rt_strbuf_text(joined), line + "\n");
  rt_strbuf_free(joined);
}

}  // namespace
