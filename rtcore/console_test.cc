// Console lines and system error reports.
#include <cerrno>
#include <cstring>

#include "rtcore/test_support.h"

namespace {

class ConsoleTest : public RtTest {
 protected:
  // Reads lines of size - 1 characters at most until the end of input.
  std::vector<std::string> lines(const std::string& input, int size) {
    capture(input);
    std::vector<std::string> read;
    char line[64];
    memset(line, '#', sizeof line);
    while (rt_input_line(line, size)) read.push_back(line);
    EXPECT_STREQ(line, "");  // the end of input leaves an empty text
    return read;
  }
};

TEST_F(ConsoleTest, LineEnds) {
  using Lines = std::vector<std::string>;
  EXPECT_EQ(lines("first\r\nsec\rond\n\nlast", 32), (Lines{"first", "sec\rond", "", "last"}));
  EXPECT_EQ(lines("abcdefghij\nabc\r\nabcd\r\nnext\n", 5), (Lines{"abcd", "abc", "abcd", "next"}));
  EXPECT_EQ(lines("x\n\n", 1), (Lines{"", ""}));  // read and dropped
  EXPECT_EQ(rt_input_line(nullptr, 10), 0);
}

TEST_F(ConsoleTest, ReportError) {
  capture();
  errno = ENOENT;
  rt_report_error("CON:");
  EXPECT_EQ(errno, ENOENT);
  errno = EACCES;
  rt_report_error(nullptr);
  EXPECT_EQ(stream_text(err_),
            std::string("CON:: ") + strerror(ENOENT) + "\n" + strerror(EACCES) + "\n");
  EXPECT_EQ(stream_text(out_), "");
}

}  // namespace
