// Which command a command word selects. Only the second character counts (ASCII upper case
// folded), with -co... selecting convert and every other -c... check. A short or oddly
// spelled word must run exactly what the full command word runs on the same arguments, in
// a directory of its own; the full word itself must reach its command, not the usage text.
//
// When a command is built, nothing here needs to change unless its arguments below lead it
// to the usage text; the stub rows at the end go when their command is built.
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/harness.h"

namespace {

struct Spelling {
  const char* word;               // as typed
  const char* full;               // the full command word
  std::vector<std::string> args;  // arguments that reach the command's own work
};

const std::vector<std::string> kOne = {"none"};
const std::vector<std::string> kTwo = {"none", "out"};
const std::vector<std::string> kSize = {"100", "none"};

const Spelling kSpellings[] = {
    {"-a", "-augment", kSize}, {"-AUG", "-augment", kSize},   {"-c", "-check", kOne},
    {"-cq", "-check", kOne},   {"-Cx", "-check", kOne},       {"-c-o", "-check", kOne},
    {"-co", "-convert", kOne}, {"-cO", "-convert", kOne},     {"-CONV", "-convert", kOne},
    {"-d", "-deleted", kTwo},  {"-Del", "-deleted", kTwo},    {"-e", "-extract", kOne},
    {"-f", "-fixvers", kOne},  {"-F", "-fixvers", kOne},      {"-g", "-gen", kTwo},
    {"-i", "-info", kOne},     {"-Inventory", "-info", kOne}, {"-l", "-load", kTwo},
    {"-n", "-note", kTwo},     {"-r", "-rebuild", kOne},      {"-Rx", "-rebuild", kOne},
    {"-s", "-size", kOne},     {"-t", "-tree", kOne},         {"-u", "-unload", kTwo},
    {"-U", "-unload", kTwo},   {"-z", "-zero", kOne},         {"-Z", "-zero", kOne},
};

class CommandSelection : public e2e::E2eTest {
 protected:
  // Runs the word with its arguments in a fresh directory named after the run.
  e2e::RunResult run_in_own_directory(const std::string& label, const std::string& word,
                                      const std::vector<std::string>& args) {
    std::string dir = path(label);
    std::filesystem::create_directory(dir);
    std::vector<std::string> words = {word};
    words.insert(words.end(), args.begin(), args.end());
    return run(words, {.cwd = dir});
  }

  e2e::RunResult usage_;

  void SetUp() override { usage_ = run({"-xyz"}); }
};

bool same_outcome(const e2e::RunResult& a, const e2e::RunResult& b) {
  return a.status == b.status && a.out == b.out && a.err == b.err;
}

TEST_F(CommandSelection, ShortSpellingsRunTheFullCommand) {
  int n = 0;
  for (const Spelling& s : kSpellings) {
    ++n;
    auto full = run_in_own_directory("full" + std::to_string(n), s.full, s.args);
    auto typed = run_in_own_directory("typed" + std::to_string(n), s.word, s.args);
    EXPECT_FALSE(same_outcome(full, usage_)) << s.full << " did not reach its command" << full;
    EXPECT_TRUE(same_outcome(typed, full)) << s.word << " against " << s.full << typed << full;
  }
}

TEST_F(CommandSelection, CheckAndConvertAreToldApart) {
  auto check = run_in_own_directory("check", "-c", kOne);
  auto convert = run_in_own_directory("convert", "-co", kOne);
  EXPECT_FALSE(same_outcome(check, convert)) << check << convert;
}

// Commands not built yet say so; each row goes when its command is built.
TEST_F(CommandSelection, StubsNameTheCommandSelected) {
  const Spelling stubs[] = {
      {"-cO", "-convert", kOne},
      {"-r", "-rebuild", kOne},
  };
  for (const Spelling& s : stubs) {
    auto r = run_in_own_directory(s.full, s.word, s.args);
    EXPECT_EQ(r.status, 255) << s.word << r;
    EXPECT_EQ(r.out, "") << s.word;
    EXPECT_EQ(r.err, std::string("ixkit: ") + s.full + " is not available in this build\n")
        << s.word;
  }
}

}  // namespace
