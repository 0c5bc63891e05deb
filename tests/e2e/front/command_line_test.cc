// The command line as a whole: a word that selects no command prints the usage text, and
// -version prints the version lines.
#include <string>
#include <vector>

#include "tests/e2e/harness.h"

namespace {

const std::string kUsage =
    "ixkit -info    [-kpxq] [files]\n"
    "      -check   [-afkqx] [files]\n"
    "      -zero    [-q] [files]\n"
    "      -rebuild [-acdlt2345q] [-bfgkp #] [+ce] [--slow] [files]\n"
    "      -gen     [-2345q] [filelist directory]\n"
    "      -size    [-nq] [files]\n"
    "      -extract [-xq] [-kn #] [-v keyvalue] file\n"
    "      -load    [-(b|d|t)ln(r|s)vqx] source-file dest-file\n"
    "      -unload  [-(b|t)vq] source-file dest-file\n"
    "      -deleted [-(b|t)vq] source-file dest-file\n"
    "      -convert [-acd2345q] [-f #] [+c] [files]\n"
    "      -tree    [-q] file\n"
    "      -augment [-q] new-max [files]\n"
    "      -fixvers [-q] [files]\n"
    "      -note    [-q] comment [files]\n"
    "      -version\n";

const std::string kVersion = std::string("Corvane file utility version ") + IXKIT_EXPECTED_VERSION +
                             "\nCopyright (c) 2026 the ixkit developers\n";

class CommandLine : public e2e::E2eTest {};

TEST_F(CommandLine, WordsThatSelectNoCommandPrintTheUsage) {
  const std::vector<std::vector<std::string>> cases = {
      {},              // no command word
      {"-"},           // too short
      {""},            // empty
      {"info"},        // no leading "-"
      {"i", "-info"},  // too short and no "-"
      {"+info"},       // "+" is no command prefix
      {"-xyz"},        // x selects nothing
      {"-b", "file"},  // b selects nothing
      {"--info"},      // the second character is "-"
      {"-1"},          // a digit
      {"-\xc9nfo"},    // characters of 128 and above are not folded
  };
  for (const auto& words : cases) {
    auto r = run(words);
    std::string shown = words.empty() ? "(none)" : "\"" + words[0] + "\"";
    EXPECT_EQ(r.status, 255) << shown << r;
    EXPECT_EQ(r.out, kUsage) << shown;
    EXPECT_EQ(r.err, "") << shown;
  }
}

TEST_F(CommandLine, UsageDoesNotReadInput) {
  auto r = run({"info"}, {.input = "y\nfile\n"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, kUsage);
}

TEST_F(CommandLine, VersionIgnoresFurtherWords) {
  for (const std::vector<std::string>& words : std::vector<std::vector<std::string>>{
           {"-v"}, {"-version"}, {"-V", "a", "b"}, {"-v", "-xyz", "--slow"}, {"-vq"}}) {
    auto r = run(words);
    EXPECT_EQ(r.status, 0) << words[0] << r;
    EXPECT_EQ(r.out, kVersion) << words[0];
    EXPECT_EQ(r.err, "") << words[0];
  }
}

TEST_F(CommandLine, CatalogueTextsReplaceTheDefaults) {
  // Numbered usage lines and the version line come from the catalogue when it has them; the
  // last usage line has no number and stays.
  write_file(path("messages"),
             "928 INFO LINE\\n\n"
             "1783 NOTE LINE\\n\n"
             "939 version [%s]\\n\n"
             "891 notice\n");
  e2e::RunOptions with_catalogue = {.env = {{"RT_MESSAGES", path("messages")}}};

  auto usage = run({"-xyz"}, with_catalogue);
  std::string expected = kUsage;
  expected.replace(0, expected.find('\n') + 1, "INFO LINE\n");
  expected.replace(expected.find("      -note"),
                   std::string("      -note    [-q] comment [files]\n").size(), "NOTE LINE\n");
  EXPECT_EQ(usage.status, 255);
  EXPECT_EQ(usage.out, expected);

  auto version = run({"-version"}, with_catalogue);
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("version [") + IXKIT_EXPECTED_VERSION + "]\nnotice\n");
}

}  // namespace
