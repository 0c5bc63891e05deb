// -gen with a parameter file: every line kind, what it prints and what it makes.
#include <sys/stat.h>

#include <string>

#include "tests/e2e/gen/gen_files.h"
#include "tests/e2e/harness.h"

namespace {

const std::string kFile = "1,1,0,0,0;80,80,1;1,0,8,0";

class GenParameterFile : public e2e::E2eTest {
 protected:
  void SetUp() override { mkdir(path("d").c_str(), 0777); }
  // Writes the parameter file p.par and runs -gen with it on directory d.
  e2e::RunResult gen(const std::string& lines, std::vector<std::string> options = {}) {
    write_file(path("p.par"), lines);
    options.insert(options.begin(), "-gen");
    options.push_back("p.par");
    options.push_back("d");
    return run(options);
  }
  std::string made(const std::string& name) { return gen_files::describe(path("d/" + name)); }
};

TEST_F(GenParameterFile, EveryLineKind) {
  write_file(path("d/TEXT"), "not a Kelvra file");
  const std::string comment(70000, 'c'), last(40000, 'l');
  auto r = gen("# comment\n\n  \t \nCUST," + kFile + ";;\nNOTE," + kFile +
               "\nOLDF,1,1,80,1,10,0,N,N,N\nSEQF,R\nX,,abc\nXV,," + kFile + ";generic\nXI,I,abc\n" +
               "X3,V3," + kFile + "\nNOCOMMA\n," + kFile + "\nTEXT," + kFile +
               "\nP,1\nBAD,1,1,0,0,0;0,0,1;1,0,8,0\n" + "ZERO," + kFile + std::string("\0tail", 5) +
               "\nLONG," + kFile + ";;" + comment + "\nCRLF," + kFile + "\r\nLAST," + kFile + ";;" +
               last);
  EXPECT_EQ(r.status, 255) << r;
  EXPECT_EQ(
      r.out,
      "CUST\nNOTE\nOLDF\nSEQF\nSEQF\nX\nX\nXV\nXV\nXI\nXI\nX3\nX3\nNOCOMMA\n"
      "NOCOMMA: bad entry\n: bad entry\nTEXT\nP\nP: bad entry\nBAD\nZERO\nLONG\nCRLF\nLAST\n");
  EXPECT_EQ(r.err,
            "X: bad parameter (error 2/7)\nXI: bad parameter (error 2/7)\n"
            "TEXT: not a Kelvra file or an unsupported version (error 13/0)\n"
            "P: bad parameter (error 2/0)\nBAD: bad parameter (error 2/2)\n");

  const std::string key = "|01,0,008,0000000000";
  EXPECT_EQ(made("CUST"), "v5|80,80,1|1,1,0,0,0|" + key);
  EXPECT_EQ(made("NOTE"), "v5|80,80,1|1,1,0,0,0|" + key);
  EXPECT_EQ(made("OLDF"), "v2|80,80,1|1,1,0,0,0||01,0,010,0000000000");
  EXPECT_EQ(made("XV"), "v5|80,80,1|1,1,0,0,0|generic" + key);
  EXPECT_EQ(made("X3"), "v3|80,80,1|1,1,0,0,0|" + key);
  EXPECT_EQ(made("ZERO"), "v5|80,80,1|1,1,0,0,0|" + key);
  EXPECT_EQ(made("LONG"), "v5|80,80,1|1,1,0,0,0|" + comment.substr(0, 30) + key);
  EXPECT_EQ(made("CRLF"), "v5|80,80,1|1,1,0,0,0|" + key);
  EXPECT_EQ(made("LAST"), "v5|80,80,1|1,1,0,0,0|" + last.substr(0, 30) + key);
  EXPECT_TRUE(e2e::file_holds(path("d/TEXT"), "not a Kelvra file"));
  EXPECT_FALSE(file_exists(path("d/X")) || file_exists(path("d/XI")) || file_exists(path("d/BAD")));
  struct stat st;
  ASSERT_EQ(stat(path("d/SEQF").c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 0);
  EXPECT_EQ(st.st_mode & 0777, 0666u);

  // An existing flat file: its name once, the file untouched. Nothing after a byte 26.
  write_file(path("d/SEQF"), "kept");
  auto again = gen("SEQF,S\nCUST," + kFile + "\n\x1a" + "AFTER,R\n");
  EXPECT_EQ(again.status, 0) << again;
  EXPECT_EQ(again.out, "SEQF\n");
  EXPECT_TRUE(e2e::file_holds(path("d/SEQF"), "kept"));
  EXPECT_FALSE(file_exists(path("d/AFTER")));
}

TEST_F(GenParameterFile, VersionOptionsAndTranslationTables) {
  write_file(path("d/order.tab"), "| key order\nZ Y X");
  auto r = gen("T," + kFile + ";order.tab;\nU," + kFile + ";missing.tab;\n", {"-3"});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, "T\nU\n");
  EXPECT_EQ(r.err, "missing.tab: No such file or directory\n");
  EXPECT_EQ(made("T"), "v3|80,80,1|1,1,0,0,0||01,0,008,0000000000|table");
  EXPECT_EQ(made("U"), "v3|80,80,1|1,1,0,0,0||01,0,008,0000000000");
  EXPECT_EQ(gen_files::write_and_read_in_order(
                path("d/T"), {"AAAAAAAA", "XXXXXXXX", "ZZZZZZZZ", "YYYYYYYY"}, "ZZZZZZZZ"),
            "ZZZZZZZZ YYYYYYYY XXXXXXXX AAAAAAAA ");

  auto v4 = gen("V," + kFile + "\n", {"-4"});
  EXPECT_EQ(made("V").substr(0, 2), "v4") << v4;
}

TEST_F(GenParameterFile, UnusableParameterFileOrDirectory) {
  auto no_file = run({"-gen", "none.par", "."});
  EXPECT_EQ(no_file.status, 0) << no_file;
  EXPECT_EQ(no_file.err, "none.par: No such file or directory\n");
  write_file(path("p.par"), "CUST," + kFile + "\n");
  auto no_dir = run({"-gen", "p.par", "none"});
  EXPECT_EQ(no_dir.status, 0) << no_dir;
  EXPECT_EQ(no_dir.out + no_dir.err, "none: No such file or directory\n");
  EXPECT_FALSE(file_exists(path("CUST")));
  auto directory = run({"-gen", "d", "d"});
  EXPECT_EQ(directory.status, 255) << directory;
  EXPECT_EQ(directory.err, "d: Is a directory\n");
}

}  // namespace
