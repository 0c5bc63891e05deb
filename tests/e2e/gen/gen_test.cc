// -gen: the dialogue through standard input, the session file it records and its replay,
// parameter files of every line kind, translation tables and the version limits.
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <filesystem>

#include "kelvra/format.h"
#include "tests/e2e/kelvra_files.h"

namespace {

using namespace e2e;
using namespace kfiles;

const std::string kAnother = "\nGenerate another file? ";
const std::string kFile = "1,1,0,0,0;80,80,1;1,0,8,0";
const std::string kCust = "CUST,1,1,0,0,0;80,80,2;1,0,8,0,1,1,4,8;;Customers\n";

class Gen : public E2eTest {
 protected:
  // A dialogue recording its session in s.par, with K_VERSION set to version.
  RunResult dialogue(const std::string& version, const std::string& answers) {
    return run({"-gen"}, {.input = "y\ns.par\n" + answers, .env = {{"K_VERSION", version}}});
  }
};

// The dialogue of the later formats and of version 2: its questions, the file and the
// session line; replaying the session makes the same bytes, a second replay nothing.
TEST_F(Gen, DialogueAndReplay) {
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
  EXPECT_TRUE(file_holds(path("s.par"), kCust));
  EXPECT_EQ(describe(path("CUST")),
            "v5|80,80,2|1,1,0,0,0|Customers|01,0,008,0000000000|01,1,004,0000000008");
  r = dialogue("2", "OLDF\n\n\n80\n\n10\n0\n\n\n\nn\n");
  EXPECT_EQ(r.out,
            "Save this session [Y]? Enter session filename: \nEnter filename: "
            "Enter the blocking factor [1]: Enter the # of blocks to pre-allocate [1]: "
            "Enter the record size: Enter the # of keys [1]: -- Primary key --\n"
            "Enter key size: Enter key offset: Enable record compression [N]? "
            "Enable record encryption [N]? Enter file comment (30 char max): " +
                kAnother);
  EXPECT_TRUE(file_holds(path("s.par"), kCust + "OLDF,1,1,80,1,10,0,N,N,N\n"));
  EXPECT_EQ(describe(path("OLDF")), "v2|80,80,1|1,1,0,0,0||01,0,010,0000000000|");
  mkdir(path("copy").c_str(), 0777);
  EXPECT_EQ(said(run(words("-gen s.par copy"))), "0 [CUST\nOLDF\n][]");
  for (const std::string file : {"CUST", "CUST.x0", "OLDF"}) {
    EXPECT_TRUE(file_holds(path("copy/" + file), read_file(path(file))));
  }
  EXPECT_EQ(said(run(words("-gen s.par copy"))), "0 [][]");
}

// Answers are kept within the limits of K_VERSION (blocking, record size, segments, range
// of compression and minimum); a confirmed quit abandons the file, a refused one repeats.
TEST_F(Gen, LimitsAndQuitting) {
  // K_VERSION, the answers after the file name, the session line after "F,", a refusal.
  for (const auto& [version, answers, line, refused] : std::vector<std::array<std::string, 4>>{
           {"5", "17\n\n\n\n\n80\n0\n\n1\n\n8\n0\n\n\n", "1,1,0,0,0;80,80,1;1,0,8,0;;", ""},
           {"5", "16\n2\n3\n150\ny\n80\n90\n\n1\ny\n8\n0\n\nnote\n",
            "16,2,3,100,1;80,80,1;1,1,8,0;;note", ""},
           {"4", "3\n\n\n\n\n40000\n100\n\n17\n1\n\n8\n0\n\n\n", "1,1,0,0,0;32767,100,1;1,0,8,0;;",
            "(1-16): Enter number of segments (1-16): Dup"},
           {"6", "\n\n\n12abc\n\n99999999\n\n\n1\n\n8\n0\n\n\n",
            "1,1,0,12,0;67108864,67108864,1;1,0,8,0;;", ""},
           {"3", "2\n\n\n\n\n32768\n\n\n7\n2\n\n4\n0\n4\n4\n\n\n",
            "2,1,0,0,0;32767,32767,1;2,0,4,0,4,4;;",
            "(1-6): Enter number of segments (1-6): Dup"}}) {
    unlink(path("F").c_str());
    unlink(path("s.par").c_str());
    auto r = dialogue(version, "F\n" + answers + "n\n");
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_TRUE(file_holds(path("s.par"), "F," + line + "\n"));
    EXPECT_NE(r.out.find(refused), std::string::npos) << r.out;
  }
  unlink(path("s.par").c_str());
  auto r = dialogue("5", "A\n\n\n\n\n\nq\ny\ny\nB\nQ\nn\n\n\n\n\n\n80\n\n\n1\n\n8\n0\n\n\nn\n");
  EXPECT_NE(r.out.find("Enter the maximum record size: Really quit? " + kAnother +
                       "\nEnter filename: Enter the blocking factor [1]: Really quit? "
                       "Enter the blocking factor [1]: "),
            std::string::npos)
      << r.out;
  EXPECT_FALSE(file_exists(path("A")));
  EXPECT_TRUE(file_holds(path("s.par"), "B,1,1,0,0,0;80,80,1;1,0,8,0;;\n"));
}

// Quiet never asks (99); one word after the options prints the usage (255).
TEST_F(Gen, QuietAndUsage) {
  for (const std::string line : {"-gen -q", "-gen -q a b c"}) {
    EXPECT_EQ(said(run(words(line), {.input = "y\n"})), "99 [][]");
  }
  for (const std::string line : {"-gen a", "-gen -x a b"}) {
    auto r = run(words(line));
    EXPECT_EQ(r.status, 255);
    EXPECT_NE(r.out.find("      -gen     [-2345q] [filelist directory]\n"), std::string::npos);
  }
}

// A parameter file of every line kind: comments and blank lines, later and old formats,
// flat files, generic lines with empty and non-empty version fields, bad entries, a line
// over 60000 characters, a file name taken by a non-Kelvra file; nothing after a byte 26.
// A second run makes nothing and names only the existing flat file and the failures. A
// directory given as the parameter file is reported as such.
TEST_F(Gen, ParameterFile) {
  mkdir(path("d").c_str(), 0777);
  write_file(path("d/TEXT"), "not a Kelvra file");
  const std::string comment(70000, 'c');
  write_file(path("p.par"), "# comment\n\n  \t \nCUST," + kFile + ";;\nOLDF,1,1,80,1,10,0,N,N,N\n" +
                                "SEQF,R\nX,,abc\nXV,," + kFile + ";generic\nX3,V3," + kFile +
                                "\nNOCOMMA\nTEXT," + kFile +
                                "\nBAD,1,1,0,0,0;0,0,1;1,0,8,0\nLONG," + kFile + ";;" + comment +
                                "\nCRLF," + kFile + "\r\n\x1a" + "AFTER,R\n");
  EXPECT_EQ(said(run(words("-gen p.par d"))),
            "255 [CUST\nOLDF\nSEQF\nSEQF\nX\nX\nXV\nXV\nX3\nX3\nNOCOMMA\nNOCOMMA: bad entry\n"
            "TEXT\nBAD\nLONG\nCRLF\n][X: bad parameter (error 2/7)\n"
            "TEXT: not a Kelvra file or an unsupported version (error 13/0)\n"
            "BAD: bad parameter (error 2/2)\n]");
  const std::string plain = "v5|80,80,1|1,1,0,0,0|", key = "|01,0,008,0000000000|";
  EXPECT_EQ(describe(path("d/CUST")), plain + key);
  EXPECT_EQ(describe(path("d/OLDF")), "v2|80,80,1|1,1,0,0,0||01,0,010,0000000000|");
  EXPECT_EQ(describe(path("d/XV")), plain + "generic" + key);
  EXPECT_EQ(describe(path("d/X3")), "v3|80,80,1|1,1,0,0,0|" + key);
  EXPECT_EQ(describe(path("d/LONG")), plain + comment.substr(0, 30) + key);
  EXPECT_EQ(describe(path("d/CRLF")), plain + key);
  EXPECT_TRUE(file_holds(path("d/TEXT"), "not a Kelvra file"));
  EXPECT_FALSE(file_exists(path("d/X")) || file_exists(path("d/BAD")) ||
               file_exists(path("d/AFTER")));
  EXPECT_EQ(std::filesystem::status(path("d/SEQF")).permissions(), std::filesystem::perms(0666));
  EXPECT_TRUE(file_holds(path("d/SEQF"), ""));
  EXPECT_EQ(run({"-gen", "p.par", "d"}).out,
            "SEQF\nX\nX\nNOCOMMA\nNOCOMMA: bad entry\nTEXT\nBAD\n");
  EXPECT_EQ(said(run(words("-gen d d"))), "255 [][d: Is a directory\n]");
}

// A file made with a translation table orders its keys by it; a table that cannot be
// opened or read (a directory) is reported and the file made without one. -3 chooses the
// version.
TEST_F(Gen, TranslationTablesAndVersionOptions) {
  mkdir(path("d").c_str(), 0777);
  mkdir(path("d/tables").c_str(), 0777);
  write_file(path("d/order.tab"), "| key order\nZ Y X");
  write_file(path("p.par"),
             "T," + kFile + ";order.tab;\nU," + kFile + ";missing.tab;\nV," + kFile + ";tables;\n");
  EXPECT_EQ(said(run(words("-gen -3 p.par d"))),
            "0 [T\nU\nV\n][missing.tab: No such file or directory\ntables: Is a directory\n]");
  for (const auto& [name, flags] :
       std::vector<std::pair<std::string, uint32_t>>{{"d/T", 1}, {"d/U", 0}, {"d/V", 0}}) {
    EXPECT_EQ(field(read_file(path(name)), 3, KF_FLAGS, 2), flags) << name << ": table flag";
  }
  // The first key in the order of each file, and all of them from there.
  for (const auto& [name, first, order] :
       std::vector<std::array<std::string, 3>>{{"d/T", "ZZZZZZZZ", "ZYXA"}, {"d/U", "", "AXYZ"}}) {
    std::vector<std::string> keys;
    for (std::string k : {"AAAAAAAA", "XXXXXXXX", "ZZZZZZZZ", "YYYYYYYY"}) {
      keys.push_back(k.append(72, ' '));
    }
    edit(path(name), keys);
    std::string found;
    for (const std::string& k : records(path(name), 0, first)) found += k[0];
    EXPECT_EQ(found, order) << name;
    EXPECT_TRUE(describe(path(name)).starts_with("v3|")) << name;
  }
}

}  // namespace
