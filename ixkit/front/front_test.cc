// The front end: command selection, option words, start-up defaults, the exit status and the
// console services on the paths that return (those that end the run are end-to-end tests).
#include <string>
#include <utility>
#include <vector>

#include "ixkit/front/commands.h"
#include "ixkit/front/console.h"
#include "ixkit/front/options.h"
#include "ixkit/front/startup.h"
#include "ixkit/front/state.h"
#include "tests/unit/scratch.h"

namespace {

// Only the letter after "-" counts, in either case; "-c" then "o" (either case) is -convert.
TEST(Front, SelectCommandByLetter) {
  const std::pair<const char*, CommandFunction> table[] = {
      // clang-format off
      {"-augment", augment_command}, {"-check", check_command}, {"-d", deleted_command},
      {"-Extract", extract_command}, {"-f", fixvers_command},   {"-g", gen_command},
      {"-Inventory", info_command},  {"-l", load_command},      {"-n", note_command},
      {"-Rx", rebuild_command},      {"-s", size_command},      {"-t", tree_command},
      {"-u", unload_command},        {"-V", run_version},       {"-zebra", zero_command},
      {"-co", convert_command},      {"-CO", convert_command},  {"-coffee", convert_command},
      {"-c", check_command},         {"-C", check_command},     {"-cx", check_command},
      {"-c-o", check_command},       {"-x", nullptr},           {"-", nullptr},
      {"", nullptr},                 {"--info", nullptr},       {"-\xc9nfo", nullptr},
      // clang-format on
  };
  for (auto [word, command] : table) EXPECT_EQ(select_command(word), command) << word;
}

// Records each letter with its sign, and "=value" for the values taken.
int on_letter(int letter, OptionWords* options, void* context) {
  std::string& seen = *static_cast<std::string*>(context);
  seen += options->sign;
  seen += static_cast<char>(letter);
  if (letter == 'b') {
    const char* value = option_take_word(options);
    seen += "=" + std::string(value ? value : "(none)");
  } else if (letter == 'k') {
    seen += "=" + std::to_string(option_take_number(options, "-k", 0, 120));
  }
  return letter == '-' ? -1 : 1;  // "--slow" style words are taken whole
}

// Which words are option words, how letters group and fold, and where values come from.
TEST(Front, ReadOptions) {
  struct Case {
    std::vector<std::string> words;
    int plus;
    const char* seen;
    int first_name, quiet;
  };
  const Case cases[] = {{{}, 0, "", 0, 0},
                        {{"file1", "-a"}, 0, "", 0, 0},
                        {{"-ac2", "f"}, 0, "-a-c-2", 1, 0},
                        {{"-a", "-c", "-2", "f"}, 0, "-a-c-2", 3, 0},
                        {{"-AC", "-a"}, 0, "-a-c-a", 2, 0},
                        {{"-", "-a", "f"}, 0, "-a", 2, 0},
                        {{"-kb", "12", "name", "f"}, 0, "-k=12-b=name", 3, 0},
                        {{"-b", "-a"}, 0, "-b=-a", 2, 0},
                        {{"-b"}, 0, "-b=(none)", 1, 0},
                        {{"+c", "-a"}, 0, "", 0, 0},
                        {{"-a", "+c", "-2", "f"}, 1, "-a+c-2", 3, 0},
                        {{"--slow", "-a", "f"}, 0, "---a", 2, 0},
                        {{"-aQc", "f"}, 0, "-a-c", 1, 1},
                        {{"+q", "-a"}, 1, "+q-a", 2, 0}};
  for (Case c : cases) {
    std::vector<char*> words;
    for (std::string& w : c.words) words.push_back(w.data());
    words.push_back(nullptr);
    std::string seen;
    quiet = 0;
    EXPECT_EQ(
        read_options(static_cast<int>(c.words.size()), words.data(), c.plus, on_letter, &seen),
        c.first_name)
        << c.seen;
    EXPECT_EQ(seen, c.seen);
    EXPECT_EQ(quiet, c.quiet) << c.seen;
  }
  quiet = 0;
}

// K_BUFFERS and MAX_FILES become 128 unless the environment sets them, to anything at all.
TEST(Front, ConfigDefaults) {
  const struct {
    const char *buffers, *files;
    long want_buffers, want_files;
  } cases[] = {{nullptr, nullptr, 128, 128},
               {"40", "3000", 40, 3000},
               {"16", nullptr, 16, 128},
               {"", "lots", -7, 0}};
  for (auto c : cases) {
    c.buffers ? setenv("K_BUFFERS", c.buffers, 1) : unsetenv("K_BUFFERS");
    c.files ? setenv("MAX_FILES", c.files, 1) : unsetenv("MAX_FILES");
    rt_config_reset();
    set_config_defaults();
    EXPECT_EQ(rt_config_int("K_BUFFERS", -7), c.want_buffers) << c.want_buffers;
    EXPECT_EQ(rt_config_int("MAX_FILES", -7), c.want_files) << c.want_files;
  }
  unsetenv("K_BUFFERS");
  unsetenv("MAX_FILES");
  rt_config_reset();
}

// 3 then 1 leaves 3; a higher status still raises it.
TEST(Front, ExitStatusIsOnlyRaised) {
  exit_status = 0;
  raise_exit_status(3);
  raise_exit_status(1);
  EXPECT_EQ(exit_status, 3);
  raise_exit_status(255);
  EXPECT_EQ(exit_status, 255);
  exit_status = 0;
}

class Console : public Scratch {};

// The answers, the prompt printed once, one reminder per unsuitable line, and the quit question.
TEST_F(Console, AskYesNo) {
  const std::string r = "Please respond with 'Y' or 'N': ", quit = "Really quit? ";
  std::string many, reminders;
  for (int i = 0; i < 49; ++i) many += "x\n", reminders += r;
  const struct {
    std::string input;
    const char* prompt;
    int allow_quit, dflt, answer;
    std::string shown, rest;
  } cases[] = {{"y\n", "Q? ", 0, -1, 1, "Q? ", ""},
               {"n\n", nullptr, 0, -1, 0, "", ""},
               {"\n", nullptr, 0, 1, 1, "", ""},
               {"   \t\n", nullptr, 0, 0, 0, "", ""},
               {"\nY\n", "Q? ", 0, -1, 1, "Q? " + r, ""},
               {"\t No\n", nullptr, 0, 1, 0, "", ""},
               {"yes please\n", nullptr, 0, 0, 1, "", ""},
               {"x\n?\n 1\nmaybe\nn\nleft\n", "Q? ", 0, 1, 0, "Q? " + r + r + r + r, "left\n"},
               {" \xa0y\ny\n", nullptr, 0, 1, 1, r, ""},
               {"q\ny\n", nullptr, 0, -1, 1, r, ""},
               {"Quit\ny\nnext\n", "Size? ", 1, -1, -1, "Size? " + quit, "next\n"},
               {"q\nn\nx\nq\n\nn\ny\n", "Size? ", 1, -1, 1, "Size? " + quit + r + quit + r, ""},
               {std::string(99, 'x') + "y\n", nullptr, 0, -1, 1, r, ""},
               {many + "y\n", nullptr, 0, -1, 1, reminders, ""}};
  for (const auto& c : cases) {
    capture(c.input);
    EXPECT_EQ(ask_yes_no(c.prompt, c.allow_quit, c.dflt), c.answer) << c.input;
    EXPECT_EQ(printed(), c.shown) << c.input;
    EXPECT_EQ(unread(), c.rest) << c.input;
  }
}

// option_value reads the word at the index, ignores what follows the digits, bounds inclusive.
TEST(Front, OptionValue) {
  std::string text[] = {"-k", "7", "12abc", "0", "120"};
  char* words[] = {text[0].data(), text[1].data(), text[2].data(), text[3].data(), text[4].data()};
  for (auto [index, value] : {std::pair{1, 7L}, {2, 12L}, {3, 0L}, {4, 120L}}) {
    EXPECT_EQ(option_value(words, 5, index, "-k", 0, 120), value) << index;
  }
}

// One trailing separator is dropped and the probe file is removed again.
TEST_F(Console, SetTempDirectory) {
  const std::pair<std::string, std::string> cases[] = {
      {dir_, dir_}, {dir_ + "/", dir_}, {dir_ + "\\", dir_}, {dir_ + "//", dir_ + "/"}};
  for (const auto& [given, kept] : cases) {
    set_temp_directory(given.c_str());
    EXPECT_EQ(temp_directory, kept);
    EXPECT_TRUE(std::filesystem::is_empty(dir_));
  }
  temp_directory[0] = '\0';
}

}  // namespace
