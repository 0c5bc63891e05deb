// The console services on the paths that return to the caller; the paths that end the run
// are covered by the end-to-end tests.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "ixkit/front/console.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/rtcore.h"

namespace {

// Gives the runtime's standard input the text and collects what it prints.
class Console : public ::testing::Test {
 protected:
  void TearDown() override {
    close_streams();
    quiet = 0;
  }

  void close_streams() {
    rt_set_stdio(stdin, stdout, stderr);
    if (in_ != nullptr) fclose(in_);
    if (out_ != nullptr) fclose(out_);
    free(out_text_);
    in_ = out_ = nullptr;
    out_text_ = nullptr;
    out_size_ = 0;
  }

  // Each call starts afresh: new input, nothing printed yet.
  void type(const std::string& text) {
    close_streams();
    input_ = text;
    in_ = fmemopen(input_.data(), input_.size(), "r");
    out_ = open_memstream(&out_text_, &out_size_);
    ASSERT_NE(in_, nullptr);
    ASSERT_NE(out_, nullptr);
    rt_set_stdio(in_, out_, stderr);
  }

  std::string printed() {
    fflush(out_);
    return std::string(out_text_, out_size_);
  }

  // The rest of the input, not read by the question.
  std::string unread() {
    std::string rest;
    for (int c; (c = fgetc(in_)) != EOF;) rest += static_cast<char>(c);
    return rest;
  }

 private:
  std::string input_;
  FILE* in_ = nullptr;
  FILE* out_ = nullptr;
  char* out_text_ = nullptr;
  size_t out_size_ = 0;
};

const std::string kReminder = "Please respond with 'Y' or 'N': ";

TEST_F(Console, PromptPrintedOnceThenAnswerRead) {
  type("y\n");
  EXPECT_EQ(ask_yes_no("Replace? ", 0, -1), 1);
  EXPECT_EQ(printed(), "Replace? ");
}

TEST_F(Console, NullPromptPrintsNothing) {
  type("n\n");
  EXPECT_EQ(ask_yes_no(nullptr, 0, -1), 0);
  EXPECT_EQ(printed(), "");
}

TEST_F(Console, EmptyLineGivesTheDefault) {
  type("\n");
  EXPECT_EQ(ask_yes_no(nullptr, 0, 1), 1);
  type("   \t\n");
  EXPECT_EQ(ask_yes_no(nullptr, 0, 0), 0);
}

TEST_F(Console, EmptyLineWithoutDefaultIsUnsuitable) {
  type("\nY\n");
  EXPECT_EQ(ask_yes_no("Go? ", 0, -1), 1);
  EXPECT_EQ(printed(), "Go? " + kReminder);
}

TEST_F(Console, OnlyTheFirstCharacterAfterBlanksCounts) {
  type("  y\n");
  EXPECT_EQ(ask_yes_no(nullptr, 0, -1), 1);
  type("yes please\n");
  EXPECT_EQ(ask_yes_no(nullptr, 0, 0), 1);
  type("\t No\n");
  EXPECT_EQ(ask_yes_no(nullptr, 0, 1), 0);
  type("nyet\n");
  EXPECT_EQ(ask_yes_no(nullptr, 0, 1), 0);
}

TEST_F(Console, EachUnsuitableLineGetsOneReminder) {
  type("x\n?\n 1\nmaybe\nn\nleft over\n");
  EXPECT_EQ(ask_yes_no("Q? ", 0, 1), 0);
  EXPECT_EQ(printed(), "Q? " + kReminder + kReminder + kReminder + kReminder);
  EXPECT_EQ(unread(), "left over\n");
}

TEST_F(Console, HighCharactersStopTheBlankSkipping) {
  // A byte of 128 or above is not white space: the answer is unsuitable, not empty.
  type(" \xa0y\ny\n");
  EXPECT_EQ(ask_yes_no(nullptr, 0, 1), 1);
  EXPECT_EQ(printed(), kReminder);
}

TEST_F(Console, QuitWithoutPermissionIsUnsuitable) {
  type("q\ny\n");
  EXPECT_EQ(ask_yes_no(nullptr, 0, -1), 1);
  EXPECT_EQ(printed(), kReminder);
}

TEST_F(Console, QuitConfirmedReturnsMinusOne) {
  type("Quit\ny\nnext\n");
  EXPECT_EQ(ask_yes_no("Size? ", 1, -1), -1);
  EXPECT_EQ(printed(), "Size? Really quit? ");
  EXPECT_EQ(unread(), "next\n");
}

TEST_F(Console, QuitRefusedGoesBackWithoutRepeatingThePrompt) {
  type("q\nn\nx\nq\n\nn\ny\n");
  // q, then n refuses; x is unsuitable; q again, the quit question gets an empty line
  // (no default there: reminder) and then n; finally y answers the first question.
  EXPECT_EQ(ask_yes_no("Size? ", 1, -1), 1);
  EXPECT_EQ(printed(), "Size? Really quit? " + kReminder + "Really quit? " + kReminder);
}

TEST_F(Console, LongLineIsReadInPieces) {
  // A line longer than 99 characters arrives as several lines: the first 99 characters, then
  // the rest, which here starts with y.
  type(std::string(99, 'x') + "y\n");
  EXPECT_EQ(ask_yes_no(nullptr, 0, -1), 1);
  EXPECT_EQ(printed(), kReminder);
}

TEST_F(Console, FortyNineUnsuitableLinesStillAllowAnAnswer) {
  std::string lines;
  for (int i = 0; i < 49; ++i) lines += "x\n";
  type(lines + "y\n");
  EXPECT_EQ(ask_yes_no(nullptr, 0, -1), 1);
  std::string reminders;
  for (int i = 0; i < 49; ++i) reminders += kReminder;
  EXPECT_EQ(printed(), reminders);
}

// option_value on the paths that return.
struct Words {
  std::vector<std::string> text;
  std::vector<char*> pointers;
  explicit Words(std::vector<std::string> words) : text(std::move(words)) {
    for (std::string& w : text) pointers.push_back(w.data());
  }
  char** data() { return pointers.data(); }
  int count() const { return static_cast<int>(text.size()); }
};

TEST(OptionValue, ReadsTheWordAtIndex) {
  Words w({"-k", "7", "file"});
  EXPECT_EQ(option_value(w.data(), w.count(), 1, "-k", 0, 120), 7);
}

TEST(OptionValue, TrailingCharactersAreIgnored) {
  Words w({"12abc"});
  EXPECT_EQ(option_value(w.data(), w.count(), 0, "-b", 1, 16), 12);
}

TEST(OptionValue, BoundsAreInclusive) {
  Words w({"0", "120", "2147483647", "0099"});
  EXPECT_EQ(option_value(w.data(), w.count(), 0, "-k", 0, 120), 0);
  EXPECT_EQ(option_value(w.data(), w.count(), 1, "-k", 0, 120), 120);
  EXPECT_EQ(option_value(w.data(), w.count(), 2, "-n", 1, 2147483647), 2147483647);
  EXPECT_EQ(option_value(w.data(), w.count(), 3, "-f", 0, 100), 99);
}

// set_temp_directory on a directory that can be used.
class TempDirectory : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/ixkit-tempdir-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    rmdir(dir_.c_str());
    temp_directory[0] = '\0';
  }
  bool probe_left() const {
    struct stat st;
    return stat((dir_ + "/AXXXA").c_str(), &st) == 0;
  }
  std::string dir_;
};

TEST_F(TempDirectory, KeepsTheNameAsGiven) {
  set_temp_directory(dir_.c_str());
  EXPECT_EQ(std::string(temp_directory), dir_);
  EXPECT_FALSE(probe_left());
}

TEST_F(TempDirectory, OneTrailingSeparatorIsRemoved) {
  set_temp_directory((dir_ + "/").c_str());
  EXPECT_EQ(std::string(temp_directory), dir_);
  set_temp_directory((dir_ + "\\").c_str());
  EXPECT_EQ(std::string(temp_directory), dir_);
  set_temp_directory((dir_ + "//").c_str());
  EXPECT_EQ(std::string(temp_directory), dir_ + "/");
  EXPECT_FALSE(probe_left());
}

}  // namespace
