// -extract: the description it prints, the key it reads on, the start key built from the
// value, the count, the questions and the end of the file.
#include <string>
#include <vector>

#include "tests/e2e/transfer/transfer_support.h"

namespace {

using transfer_test::kUsageStart;

// Key 1 is the value of bytes 10 to 13 followed by bytes 0 to 5.
const std::string kA = "EFGHIA1111ABCDaaaak1";
const std::string kB = "EFGHIJ2222ABCDbbbbk2";
const std::string kC = "EFGHIK3333ABCDcccck1";
const std::string kD = "AAAAAA4444ABCEddddk3";
const std::string kE = "ZZZZZZ5555AAAAeeeek2";

class ExtractTest : public transfer_test::TransferTest {
 protected:
  void SetUp() override {
    TransferTest::SetUp();
    name_ = path("k");
    make(name_,
         {.sizes = "20,20,3", .keys = "1,0,6,0,2,0,4,10,6,0,1,1,2,18", .comment = "customers"});
    put(name_, {kA, kB, kC, kD, kE});
  }
  std::string header() const {
    return "\n" + name_ +
           "  customers\n\n# of records      =          5\nrecord size       =         20\n"
           "# of keys         =          3\n";
  }
  std::string end_of_file() const { return name_ + ": no further or no such record (error 8/0)\n"; }
  std::string name_;
};

TEST_F(ExtractTest, AValueSpreadOverTwoKeySegmentsAndACount) {
  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
           {"-extract", "-k", "1", "-n", "2", "-v", "ABCDEFGHIJ", name_},
           {"-extract", "-kn", "1", "2", "-v", "ABCDEFGHIJ", name_},
           {"-extract", "-kvn", "1", "'ABCD'EFGHIJ", "2", name_}}) {
    auto r = run(args);
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.out, header() + kB + "\n" + kC + "\n") << args[1];
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(ExtractTest, QuietReadsEveryRecordByThePrimaryKeyAndEndsWith255) {
  auto r = run({"-extract", "-q", name_});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, header() + kD + "\n" + kA + "\n" + kB + "\n" + kC + "\n" + kE + "\n");
  EXPECT_EQ(r.err, end_of_file());
  // A key number beyond the file's keys reads on the primary key.
  auto k5 = run({"-extract", "-q", "-k", "5", "-n", "1", name_});
  EXPECT_EQ(k5.status, 0) << k5;
  EXPECT_EQ(k5.out, header() + kD + "\n");
}

TEST_F(ExtractTest, WithXTheEndOfTheFileIsReportedForEveryRemainingCount) {
  auto r = run({"-extract", "-xq", "-k", "2", "-n", "7", name_});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, header() + kA + "\n" + kC + "\n" + kB + "\n" + kE + "\n" + kD + "\n");
  EXPECT_EQ(r.err, end_of_file() + end_of_file());
}

TEST_F(ExtractTest, QuestionsForKeyValueAndCount) {
  auto r = run({"-extract", name_}, {.input = "7\n-2\nabc\n1\nABCDEFGHIJ\n2\n"});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, header() +
                       "read on which key: That key does not exist\n"
                       "read on which key: read on which key: read on which key: "
                       "key value: # of records: " +
                       kB + "\n" + kC + "\n");

  // A count below 0 means every record; 0 means none.
  r = run({"-extract", "-k", "1", name_}, {.input = "ABCE\n-3\n"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, header() + "key value: # of records: " + kD + "\n");
  EXPECT_EQ(r.err, end_of_file());
  r = run({"-extract", "-k", "1", name_}, {.input = "A\n0\n"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, header() + "key value: # of records: ");
}

TEST_F(ExtractTest, TheEndOfInputEndsTheKeyQuestion) {
  auto r = run({"-extract", name_}, {.input = "abc"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, header() +
                       "read on which key: read on which key: "
                       "EOF found on standard input.  Processing terminated.\n");
}

TEST_F(ExtractTest, AFileWithOneKeyNeverAsksForTheKey) {
  make(path("one"), {.sizes = "5,1,1", .keys = "1,0,2,0"});
  put(path("one"), {"aa", "bb1", "cc22"});
  auto r = run({"-extract", "-k", "0", path("one")}, {.input = "b\n5\n"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out.find("read on which key"), std::string::npos);
  EXPECT_EQ(r.out.substr(r.out.find("key value: ")), "key value: # of records: bb1\ncc22\n");
}

TEST_F(ExtractTest, CommandLineRefusals) {
  auto r = run({"-extract", "-k", "120", name_});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "'-k' value must be between 0 and 119\n");
  r = run({"-extract", "-n", "0", name_});
  EXPECT_EQ(r.out, "'-n' value must be between 1 and 2147483647\n");
  r = run({"-extract", "-n", name_});
  EXPECT_EQ(r.out, "Missing value for '-n' option\n");
  for (std::vector<std::string> args :
       std::vector<std::vector<std::string>>{{"-extract", "-v"},
                                             {"-extract"},
                                             {"-extract", name_, name_},
                                             {"-extract", "-b", name_}}) {
    r = run(args);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out.rfind(kUsageStart, 0), 0u) << r;
  }
}

TEST_F(ExtractTest, RefusedFiles) {
  make(path("secret"), {.sizes = "5,1,1", .keys = "1,0,2,0", .storage = "0,0,0,0,1"});
  auto r = run({"-extract", "-q", path("secret")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, path("secret") + " encrypted, extract not allowed\n");
  r = run({"-extract", "-q", path("none")});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err.rfind(path("none") + ": ", 0), 0u) << r;
}

}  // namespace
