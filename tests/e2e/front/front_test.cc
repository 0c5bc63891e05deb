// The command line as a whole (usage text, command selection, version) and the console
// services that end the run, driven through console_driver with scripted input.
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <filesystem>

#include "tests/e2e/kelvra_files.h"

namespace {

using namespace e2e;

// The usage text, as the README shows it.
std::string usage_text() {
  const std::string readme = read_file(IXKIT_SOURCE_DIR "/README.md");
  const size_t from = readme.find("```\nixkit -info") + 4;
  return readme.substr(from, readme.find("```", from) - from);
}
const std::string kReminder = "Please respond with 'Y' or 'N': ";
const std::string kEof = "EOF found on standard input.  Processing terminated.\n";
const std::string kWarning =
    "Warning: this procedure may destroy your original files!\n"
    "You should make current backups of these files before proceeding\n"
    "\nDo you want to continue (y/n): ";

std::string times(const std::string& text, int n) {
  std::string all;
  while (n-- > 0) all += text;
  return all;
}

class Front : public E2eTest {};

// A command given no file names reads them from the console, one per line: every line is a
// name, an empty one and one of blanks too, and the run comes to what the same names given
// as words give.
TEST_F(Front, NamesFromTheConsole) {
  kfiles::make(path("f"), {});
  for (const std::string command :
       {"-info", "-size -n", "-zero", "-fixvers", "-note x", "-augment 50", "-check -f"}) {
    std::vector<std::string> line = words(command);
    const std::string typed = said(run(line, {.input = "f\n\n  \nf\n"}));
    line.insert(line.end(), {"f", "", "  ", "f"});
    EXPECT_EQ(typed, said(run(line))) << command;
  }
  EXPECT_EQ(said(run({"-zero"}, {.input = "\n"})), "0 [][: bad parameter (error 2/0)\n]");
}

// A word that selects no command prints the usage text (without reading input) and ends
// with 255; -version prints the version lines whatever follows.
TEST_F(Front, UsageAndVersion) {
  const std::string usage = usage_text();
  ASSERT_EQ(std::count(usage.begin(), usage.end(), '\n'), 16) << usage;
  for (const std::vector<std::string>& line : std::vector<std::vector<std::string>>{
           {}, {"-"}, {""}, {"info"}, {"+info"}, {"-xyz"}, {"--info"}, {"-1"}, {"-\xc9nfo"}}) {
    EXPECT_EQ(said(run(line, {.input = "y\nfile\n"})), "255 [" + usage + "][]")
        << (line.empty() ? "(none)" : line[0]);
  }
  for (const std::vector<std::string>& line :
       std::vector<std::vector<std::string>>{{"-v", "a", "b"}, {"-version"}, {"-Vq", "-xyz"}}) {
    EXPECT_EQ(said(run(line)), std::string("0 [Corvane file utility version ") +
                                   IXKIT_EXPECTED_VERSION +
                                   "\nCopyright (c) 2026 the ixkit developers\n][]");
  }
}

// A short or oddly spelled word runs exactly what the full command word runs, which is not
// the usage text; -co... is convert, every other -c... check.
TEST_F(Front, CommandSelection) {
  auto outcome = [&](const std::string& dir, const std::vector<std::string>& words) {
    std::filesystem::create_directory(path(dir));
    return said(run(words, {.cwd = path(dir)}));
  };
  const std::string usage = outcome("usage", {"-xyz"});
  for (const std::string line : {"-Z -zero none", "-cO -convert none", "-c -check none",
                                 "-cq -check none", "-Cx -check none", "-r -rebuild none",
                                 "-Inventory -info none", "-U -unload a b", "-a -augment 9 x"}) {
    std::vector<std::string> full = words(line), typed = full;
    typed.erase(typed.begin() + 1);
    full.erase(full.begin());
    const std::string expected = outcome(full[0] + typed[0], full);
    EXPECT_NE(expected, usage) << line;
    EXPECT_EQ(outcome(typed[0], typed), expected) << line;
  }
  EXPECT_NE(outcome("c", {"-c", "none"}), outcome("co", {"-co", "none"}));
}

// ask_yes_no, option_value, confirm_destructive, out_of_memory and set_temp_directory: what
// each prints and the status the run ends with.
TEST_F(Front, ConsoleServices) {
  const std::string s = scratch(), fits = s + "/" + std::string(255 - s.size(), 'd');
  ASSERT_EQ(mkdir(fits.c_str(), 0755), 0);  // 256 characters fit, 257 do not
  write_file(path("plain"), "not a directory");
  // The status and what the driver prints, run with these words, input and console.
  auto driver = [&](const std::string& line, const std::string& input,
                    std::optional<std::string> console = {}) {
    auto r = run(words(line), {.input = input, .terminal = console, .program = CONSOLE_DRIVER});
    return std::to_string(r.status) + " " + r.out;
  };
  for (const auto& [line, input, outcome] : std::vector<std::array<std::string, 3>>{
           // Defaults, the first character after blanks, and reminders.
           {"ask 1 0 Go?", "\n", "0 Go?answer 1\n"},
           {"ask 0 0", "  \n", "0 answer 0\n"},
           {"ask -1 0 Go?", "\n\n\tyes\n", "0 Go?" + kReminder + kReminder + "answer 1\n"},
           // The quit escape: unsuitable where not offered, confirmed, refused.
           {"ask -1 0", "q\ny\n", "0 " + kReminder + "answer 1\n"},
           {"ask -1 1 Size?", "q\ny\n", "0 Size?Really quit? answer -1\n"},
           {"ask -1 1 Size?", "quit\nno\ny\n", "0 Size?Really quit? answer 1\n"},
           // Fifty unsuitable lines end the run; a refused quit counts as one.
           {"ask -1 0", times("\n", 50) + "y\n", "255 " + times(kReminder, 50)},
           {"ask -1 0", times("what\n", 49) + "y\n", "0 " + times(kReminder, 49) + "answer 1\n"},
           {"ask -1 1", times("x\n", 49) + "q\nn\ny\n",
            "255 " + times(kReminder, 49) + "Really quit? "},
           // The end of input, also in the quit question; a last line without its end counts.
           {"ask 1 0 Go?", "", "255 Go?" + kEof},
           {"ask -1 1", "q\n", "255 Really quit? " + kEof},
           {"ask -1 0", "y", "0 answer 1\n"},
           {"-q ask 1 0 Go?", "y\n", "99 "},
           // Option values: missing, out of range, in range (leading digits).
           {"value -k 0 120", "", "255 Missing value for '-k' option\n"},
           {"value -k 0 120 -5", "", "255 Missing value for '-k' option\n"},
           {"value -b 1 16 17", "", "255 '-b' value must be between 1 and 16\n"},
           {"value -b 1 16 0", "", "255 '-b' value must be between 1 and 16\n"},
           {"value -n 1 2147483647 2147483648", "",
            "255 '-n' value must be between 1 and 2147483647\n"},
           {"value -b 1 16 16abc", "", "0 value 16\n"},
           {"oom", "", "255 *** Out of Memory ***\n"},
           // One trailing separator is removed; an unusable directory ends with 1.
           {"tempdir " + s + "/", "", "0 temp_directory [" + s + "]\n"},
           {"tempdir " + s + "\\", "", "0 temp_directory [" + s + "]\n"},
           {"tempdir " + s + "//", "", "0 temp_directory [" + s + "/]\n"},
           {"tempdir " + fits, "", "0 temp_directory [" + fits + "]\n"},
           {"tempdir " + fits + "/", "", "1 Cannot access directory '" + fits + "/'\n"},
           {"tempdir " + s + "/missing/", "", "1 Cannot access directory '" + s + "/missing'\n"},
           {"tempdir " + s + "/plain", "", "1 Cannot access directory '" + s + "/plain'\n"}}) {
    EXPECT_EQ(driver(line, input), outcome) << line;
  }
  // The probe files are gone again.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(s), {}), 2);
  // The console device, not standard input, answers the warning; without one the run ends.
  EXPECT_EQ(driver("confirm", "n\n", "y\n"), "0 " + kWarning + "confirmed 1\n");
  EXPECT_EQ(driver("confirm", "y\n", " y\n"), "0 " + kWarning + "confirmed 0\n");
  EXPECT_EQ(driver("confirm", "y\n"), "1 ");
  EXPECT_EQ(driver("-q confirm", "", "y\n"), "99 ");
}

// SIGINT while waiting aborts the run with 1; while interrupts are deferred it is noted and
// the run goes on.
TEST_F(Front, Interrupt) {
  for (int deferred : {0, 1}) {
    auto p = start({"interrupt", deferred ? "0" : "-1"}, {.program = CONSOLE_DRIVER});
    ASSERT_TRUE(p->wait_until_reading());
    p->send_signal(SIGINT);
    p->write_input("y\n");
    EXPECT_EQ(said(p->wait()), deferred ? "0 [waiting: interrupt_state 1\n][]"
                                        : "1 [waiting: \n*** Aborted ***\n][]");
  }
}

}  // namespace
