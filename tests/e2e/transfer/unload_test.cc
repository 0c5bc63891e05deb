// -unload: its command line, refusals, padding and failures of the destination.
#include <string>
#include <vector>

#include "tests/e2e/transfer/transfer_support.h"

namespace {

using transfer_test::be16;
using transfer_test::kUsageStart;
using transfer_test::padded;

class UnloadTest : public transfer_test::TransferTest {
 protected:
  void SetUp() override {
    TransferTest::SetUp();
    make(path("k"), {.sizes = "10,1,1", .keys = "1,0,2,0"});
    put(path("k"), {"bb  ", std::string("aa\0z", 4), "cc\ndd"});
  }
  std::string header(const std::string& size = "10") {
    return "Record size = " + size + "\nUnloading " + path("k") + "...\n";
  }
};

TEST_F(UnloadTest, VariableRecordsArePaddedUnlessPrefixed) {
  auto r = run({"-unload", "-l", path("k"), path("fixed")});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, header());
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(e2e::file_holds(path("fixed"), padded(std::string("aa\0z", 4), 10) +
                                                 padded("bb  ", 10) + padded("cc\ndd", 10)));
  r = run({"-unload", "-bv", path("k"), path("portable")});
  EXPECT_TRUE(e2e::file_holds(
      path("portable"), be16(4) + std::string("aa\0z", 4) + be16(4) + "bb  " + be16(5) + "cc\ndd"));
}

TEST_F(UnloadTest, ALineFeedInARecordSplitsItWhenLoadedAgain) {
  auto r = run({"-unload", "-t", path("k"), path("lines")});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_TRUE(e2e::file_holds(path("lines"), std::string("aa\0z\nbb  \ncc\ndd\n", 16)));
  make(path("copy"), {.sizes = "10,1,1", .keys = "1,1,2,0"});
  r = run({"-load", "-t", path("lines"), path("copy")});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(records(path("copy")),
            (std::vector<std::string>{std::string("aa\0z", 4), "bb  ", "cc", "dd"}));
}

TEST_F(UnloadTest, CommandLineRefusals) {
  for (std::vector<std::string> args :
       std::vector<std::vector<std::string>>{{"-unload", "-bt", path("k"), path("o")},
                                             {"-unload", "-x", path("k"), path("o")},
                                             {"-unload", path("k")},
                                             {"-unload", path("k"), path("o"), path("p")}}) {
    auto r = run(args);
    EXPECT_EQ(r.status, 255) << r;
    EXPECT_EQ(r.out.rfind(kUsageStart, 0), 0u);
  }
  EXPECT_FALSE(file_exists(path("o")));
}

TEST_F(UnloadTest, TheSourceNameAsDestinationIsRefusedBeforeAnythingIsOpened) {
  std::string before = read_file(path("k"));
  auto r = run({"-unload", path("k"), path("k")});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, path("k") + ": input and output file names are the same\n");
  EXPECT_TRUE(e2e::file_holds(path("k"), before));
}

TEST_F(UnloadTest, AnEncryptedSourceIsRefusedWithStatus0) {
  make(path("secret"), {.sizes = "10,1,1", .keys = "1,0,2,0", .storage = "0,0,0,0,1"});
  put(path("secret"), {"zz"});
  auto r = run({"-unload", path("secret"), path("o")});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, path("secret") + " encrypted, unload not allowed\n");
  EXPECT_FALSE(file_exists(path("o")));
}

TEST_F(UnloadTest, FilesThatCannotBeOpenedOrWritten) {
  auto r = run({"-unload", path("none"), path("o")});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err.rfind(path("none") + ": ", 0), 0u) << r;
  EXPECT_FALSE(file_exists(path("o")));

  r = run({"-unload", path("k"), path("no/such/dir")});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, path("no/such/dir") + ": No such file or directory\n");

  // The last block goes out at the flush, which fails.
  r = run({"-unload", path("k"), "/dev/full"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, header() + "/dev/full: write error\n");
  // A block write fails as soon as the buffer is full.
  r = run({"-unload", path("k"), "/dev/full"}, {.env = {{"C_SEQ_DEFAULT_BLOCK_SIZE", "4"}}});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, header() + "/dev/full: write error\n");
}

}  // namespace
