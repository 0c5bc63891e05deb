// The -gen dialogue driven through standard input: the texts it passes to the library, the
// session lines it records, and replaying them.
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/e2e/gen/gen_files.h"
#include "tests/e2e/harness.h"

namespace {

const std::string kAnother = "\nGenerate another file? ";
// Answers for a later-format file F of one key of one segment, after the file name.
const std::string kPlainFile = "\n\n\n\n\n80\n\n\n1\n\n8\n0\n\n\n";

class GenDialogue : public e2e::E2eTest {
 protected:
  // A dialogue recording its session in s.par, with K_VERSION set to version.
  e2e::RunResult dialogue(const std::string& version, const std::string& answers) {
    return run({"-gen"}, {.input = "y\ns.par\n" + answers, .env = {{"K_VERSION", version}}});
  }
  // Replays s.par in a new directory.
  e2e::RunResult replay(const std::string& directory) {
    mkdir(path(directory).c_str(), 0777);
    return run({"-gen", "s.par", directory});
  }
};

TEST_F(GenDialogue, LaterFormatFileReplaysToTheSameBytes) {
  auto r = dialogue("5", "CUST\n\n\n\n\n\n80\n\n2\n1\n\n8\n0\n1\ny\n4\n8\n\nCustomers\nn\n");
  EXPECT_EQ(r.status, 0) << r;
  const std::string key =
      "Enter number of segments (1-16): Duplicates allowed [N]? Enter segment size: "
      "Enter segment offset: ";
  EXPECT_EQ(r.out,
            "Save this session [Y]? Enter session filename: \nEnter filename: "
            "Enter the blocking factor [1]: Enter the # of blocks to pre-allocate [1]: "
            "Enter the # of blocks for extension [0]: "
            "Enter the compression factor (0-100) [0]: Enable record encryption [N]? "
            "Enter the maximum record size: Enter the minimum record size [80]: "
            "Enter the # of keys [1]: \n-- Primary key --\n" +
                key + "\n-- Alternate key 1 --\n" + key +
                "Enter translation table filename: Enter file comment (30 char max): " + kAnother);
  EXPECT_TRUE(
      e2e::file_holds(path("s.par"), "CUST,1,1,0,0,0;80,80,2;1,0,8,0,1,1,4,8;;Customers\n"));
  EXPECT_EQ(gen_files::describe(path("CUST")),
            "v5|80,80,2|1,1,0,0,0|Customers|01,0,008,0000000000|01,1,004,0000000008");

  auto first = replay("copy");
  EXPECT_EQ(first.status, 0) << first;
  EXPECT_EQ(first.out, "CUST\n");
  EXPECT_TRUE(e2e::same_bytes(path("CUST"), path("copy/CUST")));
  EXPECT_TRUE(e2e::same_bytes(path("CUST.x0"), path("copy/CUST.x0")));
  auto second = replay("copy");
  EXPECT_EQ(second.status, 0) << second;
  EXPECT_EQ(second.out + second.err, "");

  auto info = run({"-info", "-x", "-k", "CUST"});
  EXPECT_EQ(info.status, 0) << info;
  EXPECT_EQ(run({"-info", "-x", "-k", "CUST"}, {.cwd = path("copy")}).out, info.out);
}

TEST_F(GenDialogue, OldFormatFileReplaysToTheSameBytes) {
  auto r = dialogue("2", "OLDF\n\n\n80\n\n10\n0\n\n\n\nn\n");
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out,
            "Save this session [Y]? Enter session filename: \nEnter filename: "
            "Enter the blocking factor [1]: Enter the # of blocks to pre-allocate [1]: "
            "Enter the record size: Enter the # of keys [1]: -- Primary key --\n"
            "Enter key size: Enter key offset: Enable record compression [N]? "
            "Enable record encryption [N]? Enter file comment (30 char max): " +
                kAnother);
  EXPECT_TRUE(e2e::file_holds(path("s.par"), "OLDF,1,1,80,1,10,0,N,N,N\n"));
  EXPECT_EQ(gen_files::describe(path("OLDF")).substr(0, 12), "v2|80,80,1|1");
  auto copy = replay("copy");
  EXPECT_EQ(copy.out, "OLDF\n") << copy;
  EXPECT_TRUE(e2e::same_bytes(path("OLDF"), path("copy/OLDF")));
}

TEST_F(GenDialogue, AnswersAreKeptWithinTheLimitsOfTheVersion) {
  struct Case {
    const char* version;
    const char* answers;  // after the file name
    const char* line;     // the session line after "F,"
    const char* refused;  // segment question asked twice, or null
  };
  const Case cases[] = {
      {"5", "17\n\n\n\n\n80\n0\n\n1\n\n8\n0\n\n\n", "1,1,0,0,0;80,80,1;1,0,8,0;;", nullptr},
      {"5", "16\n2\n3\n150\ny\n80\n90\n\n1\ny\n8\n0\n\nnote\n",
       "16,2,3,100,1;80,80,1;1,1,8,0;;note", nullptr},
      {"4", "3\n\n\n\n\n40000\n100\n\n17\n1\n\n8\n0\n\n\n", "1,1,0,0,0;32767,100,1;1,0,8,0;;",
       "(1-16): Enter number of segments (1-16): Dup"},
      {"6", "\n\n\n12abc\n\n99999999\n\n\n1\n\n8\n0\n\n\n",
       "1,1,0,12,0;67108864,67108864,1;1,0,8,0;;", nullptr},
      {"3", "2\n\n\n\n\n32768\n\n\n7\n2\n\n4\n0\n4\n4\n\n\n",
       "2,1,0,0,0;32767,32767,1;2,0,4,0,4,4;;", "(1-6): Enter number of segments (1-6): Dup"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version + std::string(": ") + c.answers);
    unlink(path("F").c_str());
    unlink(path("s.par").c_str());
    auto r = dialogue(c.version, std::string("F\n") + c.answers + "n\n");
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_TRUE(e2e::file_holds(path("s.par"), std::string("F,") + c.line + "\n"));
    if (c.refused) {
      EXPECT_NE(r.out.find(c.refused), std::string::npos) << r.out;
    }
  }
}

TEST_F(GenDialogue, QuittingAFileSkipsItAndAsksForAnother) {
  // Quit confirmed at the record size; then a refused quit repeats the question.
  auto r = dialogue("5", "A\n\n\n\n\n\nq\ny\ny\nB\nQ\nn\n" + kPlainFile + "n\n");
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_NE(r.out.find("Enter the maximum record size: Really quit? " + kAnother +
                       "\nEnter filename: Enter the blocking factor [1]: Really quit? "
                       "Enter the blocking factor [1]: "),
            std::string::npos)
      << r.out;
  EXPECT_FALSE(file_exists(path("A")));
  EXPECT_TRUE(e2e::file_holds(path("s.par"), "B,1,1,0,0,0;80,80,1;1,0,8,0;;\n"));
}

TEST_F(GenDialogue, ExistingFilesFailedMakesAndTheEndOfInput) {
  write_file(path("TEXT"), "not a Kelvra file");
  // An existing file, then a make the library refuses (the key lies outside the record).
  auto r = dialogue("5", "TEXT\ny\nBAD\n\n\n\n\n\n80\n\n\n1\n\n8\n79\n\n\nn\n");
  EXPECT_EQ(r.status, 255) << r;
  EXPECT_NE(r.out.find("Enter filename: TEXT: File already exists\n" + kAnother),
            std::string::npos);
  EXPECT_EQ(r.err, "BAD: bad parameter (error 2/3)\n");
  EXPECT_TRUE(e2e::file_holds(path("TEXT"), "not a Kelvra file"));
  EXPECT_TRUE(e2e::file_holds(path("s.par"), ""));

  // The end of input inside a numeric question ends the run; a number without its line
  // end is still an answer.
  auto eof = run({"-gen"}, {.input = "n\nF\n2\n3"});
  EXPECT_EQ(eof.status, 255) << eof;
  EXPECT_TRUE(
      eof.out.ends_with("Enter the # of blocks for extension [0]: "
                        "EOF found on standard input.  Processing terminated.\n"));
  auto dropping = run({"-gen"}, {.input = "n\nF\nabc"});
  EXPECT_EQ(dropping.status, 255) << dropping;
  EXPECT_FALSE(file_exists(path("F")));
}

TEST_F(GenDialogue, QuietModeOneWordAndAnUnusableSessionFile) {
  for (const auto& words :
       {std::vector<std::string>{"-gen", "-q"}, {"-gen", "-q", "a", "b", "c"}}) {
    auto r = run(words, {.input = "y\n"});
    EXPECT_EQ(r.status, 99) << r;
    EXPECT_EQ(r.out, "");
  }
  for (const auto& words : {std::vector<std::string>{"-gen", "a"}, {"-gen", "-x", "a", "b"}}) {
    auto r = run(words);
    EXPECT_EQ(r.status, 255) << r;
    EXPECT_NE(r.out.find("      -gen     [-2345q] [filelist directory]\n"), std::string::npos);
  }
  auto r = run({"-gen"}, {.input = "y\nno/such/dir/s.par\nF\n"});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, "Save this session [Y]? Enter session filename: ");
  EXPECT_EQ(r.err, "no/such/dir/s.par: No such file or directory\n");
}

}  // namespace
