// The console services that end the run, driven through console_driver with scripted
// standard input and console device.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/e2e/harness.h"

namespace {

const std::string kReminder = "Please respond with 'Y' or 'N': ";
const std::string kEof = "EOF found on standard input.  Processing terminated.\n";
const std::string kWarning =
    "Warning: this procedure may destroy your original files!\n"
    "You should make current backups of these files before proceeding\n"
    "\nDo you want to continue (y/n): ";

std::string repeat(const std::string& text, int times) {
  std::string all;
  for (int i = 0; i < times; ++i) all += text;
  return all;
}

class ConsoleServices : public e2e::E2eTest {
 protected:
  e2e::RunResult driver(const std::vector<std::string>& args, e2e::RunOptions options = {}) {
    return run_program(CONSOLE_DRIVER, args, std::move(options));
  }
};

// ---- ask_yes_no ----------------------------------------------------------------------

TEST_F(ConsoleServices, AskTakesTheDefaultOnAnEmptyLine) {
  auto yes = driver({"ask", "1", "0", "Go on? "}, {.input = "\n"});
  EXPECT_EQ(yes.status, 0) << yes;
  EXPECT_EQ(yes.out, "Go on? answer 1\n");
  auto no = driver({"ask", "0", "0", "Go on? "}, {.input = "  \n"});
  EXPECT_EQ(no.out, "Go on? answer 0\n");
}

TEST_F(ConsoleServices, AskWithoutDefaultRemindsAfterAnEmptyLine) {
  auto r = driver({"ask", "-1", "0", "Go on? "}, {.input = "\n\nn\n"});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, "Go on? " + kReminder + kReminder + "answer 0\n");
}

TEST_F(ConsoleServices, AskReadsTheFirstCharacterAfterBlanks) {
  struct Case {
    const char* input;
    const char* out;
  };
  for (const Case& c : {Case{"  y\n", "answer 1\n"}, Case{"yes\n", "answer 1\n"},
                        Case{"No way\n", "answer 0\n"}, Case{"\tY\n", "answer 1\n"}}) {
    auto r = driver({"ask", "-1", "0"}, {.input = c.input});
    EXPECT_EQ(r.status, 0) << c.input << r;
    EXPECT_EQ(r.out, c.out) << c.input;
  }
  auto x = driver({"ask", "1", "0"}, {.input = "x\ny\n"});
  EXPECT_EQ(x.out, kReminder + "answer 1\n");
}

TEST_F(ConsoleServices, QuitIsUnsuitableWhereItIsNotOffered) {
  auto r = driver({"ask", "-1", "0", "Size? "}, {.input = "q\nQ\ny\n"});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, "Size? " + kReminder + kReminder + "answer 1\n");
}

TEST_F(ConsoleServices, QuitConfirmedAnswersMinusOne) {
  auto r = driver({"ask", "-1", "1", "Size? "}, {.input = "q\ny\n"});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, "Size? Really quit? answer -1\n");
}

TEST_F(ConsoleServices, QuitRefusedGoesBackToTheQuestionSilently) {
  auto r = driver({"ask", "-1", "1", "Size? "}, {.input = "quit\nno\ny\n"});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, "Size? Really quit? answer 1\n");
}

TEST_F(ConsoleServices, FiftiethUnsuitableLineEndsTheRun) {
  // A fifty-first line that would answer is never read.
  auto r = driver({"ask", "-1", "0", "Go on? "}, {.input = repeat("\n", 50) + "y\n"});
  EXPECT_EQ(r.status, 255) << r;
  EXPECT_EQ(r.out, "Go on? " + repeat(kReminder, 50));

  auto answered = driver({"ask", "-1", "0"}, {.input = repeat("what\n", 49) + "y\n"});
  EXPECT_EQ(answered.status, 0) << answered;
  EXPECT_EQ(answered.out, repeat(kReminder, 49) + "answer 1\n");
}

TEST_F(ConsoleServices, RefusedQuitCountsTowardsTheFiftyLines) {
  // 49 unsuitable lines, then q on the fiftieth and n to the quit question.
  auto r = driver({"ask", "-1", "1"}, {.input = repeat("x\n", 49) + "q\nn\ny\n"});
  EXPECT_EQ(r.status, 255) << r;
  EXPECT_EQ(r.out, repeat(kReminder, 49) + "Really quit? ");
}

TEST_F(ConsoleServices, EndOfInputEndsTheRun) {
  auto at_once = driver({"ask", "1", "0", "Go on? "});
  EXPECT_EQ(at_once.status, 255) << at_once;
  EXPECT_EQ(at_once.out, "Go on? " + kEof);

  auto later = driver({"ask", "-1", "0"}, {.input = "x\n"});
  EXPECT_EQ(later.status, 255) << later;
  EXPECT_EQ(later.out, kReminder + kEof);

  // A last line without its line end is still an answer.
  auto unterminated = driver({"ask", "-1", "0"}, {.input = "y"});
  EXPECT_EQ(unterminated.status, 0) << unterminated;
  EXPECT_EQ(unterminated.out, "answer 1\n");
}

TEST_F(ConsoleServices, EndOfInputDuringTheQuitQuestionEndsTheRun) {
  auto r = driver({"ask", "-1", "1"}, {.input = "q\n"});
  EXPECT_EQ(r.status, 255) << r;
  EXPECT_EQ(r.out, "Really quit? " + kEof);
}

TEST_F(ConsoleServices, QuietModeNeverAsks) {
  auto r = driver({"-q", "ask", "1", "0", "Go on? "}, {.input = "y\n"});
  EXPECT_EQ(r.status, 99) << r;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

// ---- option_value --------------------------------------------------------------------

TEST_F(ConsoleServices, MissingOptionValue) {
  for (const std::vector<std::string>& words :
       std::vector<std::vector<std::string>>{{}, {"-5"}, {"abc"}, {"-q"}, {"+3"}, {" 7"}, {""}}) {
    std::vector<std::string> args = {"value", "-k", "0", "120"};
    args.insert(args.end(), words.begin(), words.end());
    auto r = driver(args);
    std::string shown = words.empty() ? "(no word)" : "\"" + words[0] + "\"";
    EXPECT_EQ(r.status, 255) << shown << r;
    EXPECT_EQ(r.out, "Missing value for '-k' option\n") << shown;
  }
}

TEST_F(ConsoleServices, OptionValueInRange) {
  auto r = driver({"value", "-b", "1", "16", "12abc"});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, "value 12\n");
  auto top = driver({"value", "-n", "1", "2147483647", "2147483647"});
  EXPECT_EQ(top.out, "value 2147483647\n");
}

TEST_F(ConsoleServices, OptionValueOutOfRange) {
  struct Case {
    std::vector<std::string> args;
    const char* out;
  };
  const Case cases[] = {
      {{"value", "-b", "1", "16", "17"}, "'-b' value must be between 1 and 16\n"},
      {{"value", "-b", "1", "16", "0"}, "'-b' value must be between 1 and 16\n"},
      {{"value", "-n", "1", "2147483647", "2147483648"},
       "'-n' value must be between 1 and 2147483647\n"},
      {{"value", "-m", "8", "999999999", "99999999999999999999999"},
       "'-m' value must be between 8 and 999999999\n"},
  };
  for (const Case& c : cases) {
    auto r = driver(c.args);
    EXPECT_EQ(r.status, 255) << c.args.back() << r;
    EXPECT_EQ(r.out, c.out) << c.args.back();
  }
}

// ---- confirm_destructive -------------------------------------------------------------

TEST_F(ConsoleServices, ConfirmReadsTheConsoleDevice) {
  struct Case {
    const char* typed;
    int answer;
  };
  for (const Case& c : {Case{"y\n", 1}, Case{"Yes\n", 1}, Case{"n\n", 0}, Case{" y\n", 0},
                        Case{"\n", 0}, Case{"x\ny\n", 0}, Case{"\x04", 0}}) {
    auto r = driver({"confirm"}, {.terminal = c.typed});
    EXPECT_EQ(r.status, 0) << c.typed << r;
    EXPECT_EQ(r.out, kWarning + "confirmed " + std::to_string(c.answer) + "\n") << c.typed;
  }
}

TEST_F(ConsoleServices, ConfirmIgnoresStandardInput) {
  auto r = driver({"confirm"}, {.input = "y\n", .terminal = "n\n"});
  EXPECT_EQ(r.out, kWarning + "confirmed 0\n") << r;
}

TEST_F(ConsoleServices, ConfirmWithoutConsoleEndsWithOne) {
  auto r = driver({"confirm"}, {.input = "y\n"});
  EXPECT_EQ(r.status, 1) << r;
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(r.err.starts_with("CON:: ")) << r;
}

TEST_F(ConsoleServices, ConfirmInQuietModeEndsBeforeTheWarning) {
  auto r = driver({"-q", "confirm"}, {.terminal = "y\n"});
  EXPECT_EQ(r.status, 99) << r;
  EXPECT_EQ(r.out, "");
}

// ---- set_temp_directory --------------------------------------------------------------

TEST_F(ConsoleServices, TempDirectoryLosesOneTrailingSeparator) {
  auto plain = driver({"tempdir", scratch()});
  EXPECT_EQ(plain.status, 0) << plain;
  EXPECT_EQ(plain.out, "temp_directory [" + scratch() + "]\n");

  auto slash = driver({"tempdir", scratch() + "/"});
  EXPECT_EQ(slash.out, "temp_directory [" + scratch() + "]\n");
  auto backslash = driver({"tempdir", scratch() + "\\"});
  EXPECT_EQ(backslash.out, "temp_directory [" + scratch() + "]\n");
  auto two = driver({"tempdir", scratch() + "//"});
  EXPECT_EQ(two.out, "temp_directory [" + scratch() + "/]\n");

  // The probe file is gone again.
  EXPECT_EQ(e2e::list_dir(scratch()), std::vector<std::string>{});
}

TEST_F(ConsoleServices, RelativeTempDirectory) {
  auto r = driver({"tempdir", "."});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, "temp_directory [.]\n");
  EXPECT_FALSE(file_exists(path("AXXXA")));
}

TEST_F(ConsoleServices, UnusableTempDirectoryEndsWithOne) {
  write_file(path("plain"), "not a directory");
  struct Case {
    std::string given;
    std::string shown;
  };
  const Case cases[] = {
      {path("missing"), path("missing")},
      {path("missing") + "/", path("missing")},
      {path("plain"), path("plain")},
  };
  for (const Case& c : cases) {
    auto r = driver({"tempdir", c.given});
    EXPECT_EQ(r.status, 1) << c.given << r;
    EXPECT_EQ(r.out, "Cannot access directory '" + c.shown + "'\n") << c.given;
  }
}

TEST_F(ConsoleServices, OverlongTempDirectoryIsRefused) {
  // 256 characters fit; 257 do not, even when the last one is a separator to be removed.
  ASSERT_LT(scratch().size(), 200u);
  std::string fits = scratch() + "/" + std::string(255 - scratch().size(), 'd');
  ASSERT_EQ(fits.size(), 256u);
  ASSERT_EQ(mkdir(fits.c_str(), 0755), 0);
  auto ok = driver({"tempdir", fits});
  EXPECT_EQ(ok.status, 0) << ok;
  EXPECT_EQ(ok.out, "temp_directory [" + fits + "]\n");

  auto r = driver({"tempdir", fits + "/"});
  EXPECT_EQ(r.status, 1) << r;
  EXPECT_EQ(r.out, "Cannot access directory '" + fits + "/'\n");
}

// ---- out_of_memory, exit status, unavailable commands --------------------------------

TEST_F(ConsoleServices, OutOfMemoryEndsWith255) {
  auto r = driver({"oom"});
  EXPECT_EQ(r.status, 255) << r;
  EXPECT_EQ(r.out, "*** Out of Memory ***\n");
}

TEST_F(ConsoleServices, ExitStatusIsTheHighestRaised) {
  struct Case {
    std::vector<std::string> args;
    int status;
  };
  const Case cases[] = {
      {{"raise"}, 0},
      {{"raise", "2", "3"}, 3},
      {{"raise", "3", "1"}, 3},
      {{"raise", "1", "2", "1"}, 2},
      {{"raise", "255", "3"}, 255},
  };
  for (const Case& c : cases) {
    auto r = driver(c.args);
    EXPECT_EQ(r.status, c.status) << r;
    EXPECT_EQ(r.out, "");
  }
}

TEST_F(ConsoleServices, UnavailableCommandSaysSoOnStandardError) {
  auto r = driver({"unavailable", "-gen"});
  EXPECT_EQ(r.status, 255) << r;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "ixkit: -gen is not available in this build\n");
}

// ---- option words --------------------------------------------------------------------

TEST_F(ConsoleServices, OptionLettersAndValues) {
  auto r = driver({"options", "abK", "-aB", "-k", "7", "+b", "file", "-a"});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, "letter a\nletter b\nletter k value 7\nletter b\nfirst name 4 quiet 0\n");
}

TEST_F(ConsoleServices, OptionLetterQSetsQuiet) {
  auto r = driver({"options", "a", "-aq", "f"});
  EXPECT_EQ(r.out, "letter a\nfirst name 1 quiet 1\n") << r;
}

TEST_F(ConsoleServices, UnknownOptionLetterPrintsTheUsage) {
  auto r = driver({"options", "ab", "-ab", "-bz", "file"});
  EXPECT_EQ(r.status, 255) << r;
  EXPECT_TRUE(r.out.starts_with("letter a\nletter b\nletter b\nixkit -info    [-kpxq] [files]\n"))
      << r;
  EXPECT_TRUE(r.out.ends_with("      -note    [-q] comment [files]\n      -version\n")) << r;
}

TEST_F(ConsoleServices, OptionValueProblemsEndTheRun) {
  auto missing = driver({"options", "K", "-k"});
  EXPECT_EQ(missing.status, 255) << missing;
  EXPECT_EQ(missing.out, "Missing value for '-k' option\n");
  auto range = driver({"options", "K", "-k", "100", "file"});
  EXPECT_EQ(range.status, 255) << range;
  EXPECT_EQ(range.out, "'-k' value must be between 0 and 99\n");
}

// ---- configuration defaults ------------------------------------------------------------

TEST_F(ConsoleServices, BufferAndFileCountsDefaultTo128) {
  auto r = driver({"config"});
  EXPECT_EQ(r.out, "K_BUFFERS 128 MAX_FILES 128\n") << r;
}

TEST_F(ConsoleServices, EnvironmentValuesAreLeftAlone) {
  auto one = driver({"config"}, {.env = {{"K_BUFFERS", "40"}}});
  EXPECT_EQ(one.out, "K_BUFFERS 40 MAX_FILES 128\n") << one;
  auto both = driver({"config"}, {.env = {{"K_BUFFERS", "7"}, {"MAX_FILES", "9"}}});
  EXPECT_EQ(both.out, "K_BUFFERS 7 MAX_FILES 9\n") << both;
}

TEST_F(ConsoleServices, OnlyTheEnvironmentCounts) {
  // A value in the runtime configuration file does not stop the default.
  write_file(path("config"), "K_BUFFERS 10\nMAX_FILES 20\n");
  auto r = driver({"config"}, {.env = {{"RT_CONFIG", path("config")}}});
  EXPECT_EQ(r.out, "K_BUFFERS 128 MAX_FILES 128\n") << r;
}

}  // namespace
