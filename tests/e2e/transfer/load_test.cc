// -load: its command line, the line format, the record formats' edge cases, refused
// duplicates and the option n.
#include <string>
#include <vector>

#include "tests/e2e/transfer/transfer_support.h"

namespace {

using transfer_test::be16;
using transfer_test::be32;
using transfer_test::kUsageStart;
using transfer_test::NewFile;
using transfer_test::padded;

class LoadTest : public transfer_test::TransferTest {
 protected:
  // A file of variable records up to max bytes, primary key of key_size bytes at 0.
  void make_variable(const std::string& name, int max, int key_size = 1, int duplicates = 0) {
    make(name, {.sizes = std::to_string(max) + ",1,1",
                .keys = "1," + std::to_string(duplicates) + "," + std::to_string(key_size) + ",0"});
  }
  std::string loaded(const std::string& destination, int records, const std::string& r = "5") {
    return "Record size = " + r + "\nLoading " + destination + "...\n" + std::to_string(records) +
           " records loaded\n";
  }
};

TEST_F(LoadTest, RefusedOptionCombinationsPrintTheUsage) {
  write_file(path("flat"), "");
  make_variable(path("k"), 5);
  for (std::vector<std::string> options :
       std::vector<std::vector<std::string>>{{"-bd"},
                                             {"-bt"},
                                             {"-b", "-t"},
                                             {"-dt"},
                                             {"-dv"},
                                             {"-dx"},
                                             {"-rs"},
                                             {"-R", "-S"},
                                             {"-w"},
                                             {"-q", "-bq", "-z"}}) {
    std::vector<std::string> args = {"-load"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(path("flat"));
    args.push_back(path("k"));
    auto r = run(args);
    EXPECT_EQ(r.status, 255) << options[0] << r;
    EXPECT_EQ(r.out.rfind(kUsageStart, 0), 0u) << options[0];
  }
  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
           {"-load"}, {"-load", path("flat")}, {"-load", "-b", path("flat"), path("k"), "x"}}) {
    auto r = run(args);
    EXPECT_EQ(r.status, 255) << r;
    EXPECT_EQ(r.out.rfind(kUsageStart, 0), 0u);
  }
}

TEST_F(LoadTest, AcceptedLettersWithoutEffect) {
  // x without b and v, v with t, a lone "-" and upper case letters.
  make_variable(path("k"), 5);
  write_file(path("fixed"), "abcdeABCDE");
  auto r = run({"-load", "-X", "-", path("fixed"), path("k")});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, loaded(path("k"), 2));
  write_file(path("lines"), "xy\n");
  r = run({"-load", "-tv", path("lines"), path("k")});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(records(path("k")), (std::vector<std::string>{"ABCDE", "abcde", "xy"}));
}

TEST_F(LoadTest, AKelvraSourceIsRefusedBeforeTheDestinationIsTouched) {
  make_variable(path("source"), 5);
  put(path("source"), {"abc"});
  make_variable(path("dest"), 5);
  put(path("dest"), {"xyz"});
  std::string before = read_file(path("dest"));
  for (const char* options : {"-b", "-n"}) {
    auto r = run({"-load", options, path("source"), path("dest")});
    EXPECT_EQ(r.status, 255) << r;
    EXPECT_EQ(r.out, "Error: input file is Kelvra format\n");
    EXPECT_TRUE(e2e::file_holds(path("dest"), before)) << options;
  }
}

TEST_F(LoadTest, MissingFilesEndTheRunWith255) {
  make_variable(path("dest"), 5);
  auto r = run({"-load", path("nothing"), path("dest")});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, path("nothing") + ": No such file or directory\n");
  write_file(path("flat"), "abcde");
  r = run({"-load", path("flat"), path("missing")});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find(path("missing") + ": "), std::string::npos) << r;
}

TEST_F(LoadTest, OverlongLinesAreCutAndAnUnfinishedLastLineIsNotLoaded) {
  make_variable(path("dest"), 5, 1, 1);  // the records share their key byte
  write_file(path("lines"), "abc\nabcdefgh\nxy");
  auto r = run({"-load", "-t", path("lines"), path("dest")});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, "Record size = 5\nLoading " + path("dest") +
                       "...\nRecord #2 is being truncated\n2 records loaded\n");
  EXPECT_EQ(records(path("dest")), (std::vector<std::string>{"abc", "abcde"}));
}

TEST_F(LoadTest, CarriageReturnLineFeedAndByte26) {
  make_variable(path("lf"), 20, 2);
  make_variable(path("crlf"), 20, 2);
  write_file(path("lf.txt"), "one  \ntwo\n\r3\ra\n");
  write_file(path("crlf.txt"),
             "one  \r\ntwo\r\n\r3\ra\r\n\x1a"
             "four\r\n");
  for (const char* name : {"lf", "crlf"}) {
    auto r = run({"-load", "-t", path(std::string(name) + ".txt"), path(name)});
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.out, loaded(path(name), 3, "20"));
  }
  std::vector<std::string> want = {"\r3\ra", "one  ", "two"};
  EXPECT_EQ(records(path("lf")), want);
  EXPECT_EQ(records(path("crlf")), want);
}

TEST_F(LoadTest, ACarriageReturnAtAChunkEdgeStillPairsWithItsLineFeed) {
  // Chunks are R + 1 bytes: with R = 3 the CR of "abc\r\n" ends the first chunk.
  make_variable(path("dest"), 3, 1, 1);
  write_file(path("lines"), "abc\r\nab\r\r\n");
  auto r = run({"-load", "-t", path("lines"), path("dest")});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, loaded(path("dest"), 2, "3"));
  EXPECT_EQ(records(path("dest")), (std::vector<std::string>{"abc", "ab\r"}));
}

TEST_F(LoadTest, OptionDSkipsRecordsThatBeginWith256ZeroBytes) {
  make(path("dest"), {.sizes = "300,300,1", .keys = "1,0,4,296"});
  std::string skipped = std::string(256, '\0') + padded("later", 40) + "0001";
  std::string zero = std::string(300, '\0');
  std::string kept = std::string(255, '\0') + "x" + padded("", 40) + "0002";
  write_file(path("flat"), skipped + zero + kept);
  auto r = run({"-load", "-d", path("flat"), path("dest")});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, loaded(path("dest"), 1, "300"));
  EXPECT_EQ(records(path("dest")), (std::vector<std::string>{kept}));
}

TEST_F(LoadTest, AShortLastFixedRecordIsDropped) {
  make(path("dest"), {.sizes = "100,100,1", .keys = "1,0,1,0"});
  write_file(path("flat"), std::string(100, 'a') + std::string(100, 'b') + std::string(50, 'c'));
  for (const char* block : {"4096", "1", "0"}) {
    make(path("dest"), {.sizes = "100,100,1", .keys = "1,0,1,0"});
    auto r =
        run({"-load", path("flat"), path("dest")}, {.env = {{"C_SEQ_DEFAULT_BLOCK_SIZE", block}}});
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.out, loaded(path("dest"), 2, "100")) << block;
    EXPECT_EQ(records(path("dest")),
              (std::vector<std::string>{std::string(100, 'a'), std::string(100, 'b')}));
  }
}

TEST_F(LoadTest, ALengthOfZeroOrAShortRecordEndsPortableInput) {
  make_variable(path("dest"), 5);
  write_file(path("zero"), be16(3) + "abc" + be16(0) + be16(3) + "def");
  auto r = run({"-load", "-bv", path("zero"), path("dest")});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, loaded(path("dest"), 1));
  write_file(path("short"), be16(2) + "xy" + be16(4) + "zz");
  r = run({"-load", "-bv", path("short"), path("dest")});
  EXPECT_EQ(r.out, loaded(path("dest"), 1));
  EXPECT_EQ(records(path("dest")), (std::vector<std::string>{"abc", "xy"}));
}

TEST_F(LoadTest, ALengthAboveTheRecordSizeEndsTheInputWithAMessage) {
  make_variable(path("dest"), 5);
  // A prefix of 259 where at most 5 can follow: most likely the wrong framing.
  write_file(path("flat"), be16(2) + "ab" + be16(259) + "cde");
  auto r = run({"-load", "-bv", path("flat"), path("dest")});
  EXPECT_EQ(r.status, 255) << r;
  EXPECT_EQ(r.out, loaded(path("dest"), 1));
  EXPECT_EQ(r.err, path("flat") +
                       ": record 2 is longer than the record size 5; the rest of the file is not "
                       "loaded\n");
  EXPECT_EQ(records(path("dest")), (std::vector<std::string>{"ab"}));
}

TEST_F(LoadTest, DuplicatesInFillModeGoToTheRejectedRecordsFile) {
  make_variable(path("dest"), 5);
  write_file(path("flat"),
             "k1111"
             "k2222");
  auto r = run({"-load", path("flat"), path("dest")});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, loaded(path("dest"), 1) + "1 records with duplicate keys rejected\n" +
                       "rejected records stored in \"" + path("flat") + ".rej\"\n");
  EXPECT_EQ(records(path("dest")), (std::vector<std::string>{"k1111"}));
  EXPECT_TRUE(e2e::file_holds(path("flat.rej"), be16(5) + "k2222"));

  // The rejected-records file loads back with b and v.
  make_variable(path("again"), 5);
  r = run({"-load", "-bv", path("flat.rej"), path("again")});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, loaded(path("again"), 1));
  EXPECT_EQ(records(path("again")), (std::vector<std::string>{"k2222"}));

  // A second run starts the file anew.
  write_file(path("flat"), "k3333");
  make_variable(path("dest"), 5);
  put(path("dest"), {"k0000"});
  r = run({"-load", path("flat"), path("dest")});
  EXPECT_TRUE(e2e::file_holds(path("flat.rej"), be16(5) + "k3333")) << r;
}

TEST_F(LoadTest, DuplicatesDroppedWithSAndReplacedWithR) {
  write_file(path("flat"),
             "k1111"
             "k2222"
             "j3333");
  make_variable(path("silent"), 5);
  auto r = run({"-load", "-s", path("flat"), path("silent")});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, loaded(path("silent"), 3));
  EXPECT_FALSE(file_exists(path("flat.rej")));
  EXPECT_EQ(records(path("silent")), (std::vector<std::string>{"j3333", "k1111"}));

  make_variable(path("replace"), 5);
  r = run({"-load", "-r", path("flat"), path("replace")});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, loaded(path("replace"), 3));
  EXPECT_EQ(records(path("replace")), (std::vector<std::string>{"j3333", "k2222"}));
  EXPECT_FALSE(file_exists(path("flat.rej")));
}

TEST_F(LoadTest, ReadAndWriteModeRefusesDuplicatesAtOnce) {
  make_variable(path("dest"), 5);
  put(path("dest"), {"k0000"});
  write_file(path("flat"),
             "k1111"
             "m2222");
  auto r = run({"-load", "-l", path("flat"), path("dest")});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, loaded(path("dest"), 1) + "1 records with duplicate keys rejected\n" +
                       "rejected records stored in \"" + path("flat") + ".rej\"\n");
  EXPECT_EQ(records(path("dest")), (std::vector<std::string>{"k0000", "m2222"}));
  // With l and r the existing record is replaced.
  r = run({"-load", "-lr", path("flat"), path("dest")});
  EXPECT_EQ(r.out, loaded(path("dest"), 2));
  EXPECT_EQ(records(path("dest")), (std::vector<std::string>{"k1111", "m2222"}));
}

TEST_F(LoadTest, WideRecordsAreRejectedWithFourBytePrefixes) {
  make_variable(path("dest"), 70000);
  std::string a = "k" + std::string(69999, 'a'), b = "k" + std::string(65999, 'b');
  write_file(path("flat"),
             be32(static_cast<uint32_t>(a.size())) + a + be32(static_cast<uint32_t>(b.size())) + b);
  auto r = run({"-load", "-bvx", path("flat"), path("dest")});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_TRUE(e2e::file_holds(path("flat.rej"), be32(66000) + b));
  make_variable(path("again"), 70000);
  r = run({"-load", "-bvx", path("flat.rej"), path("again")});
  EXPECT_EQ(r.out, loaded(path("again"), 1, "70000"));
  EXPECT_TRUE(transfer_test::same_records(records(path("again")), {b}));
}

TEST_F(LoadTest, OptionNEmptiesTheDestinationAndKeepsItsDescription) {
  NewFile described = {.sizes = "20,4,2",
                       .keys = "1,0,4,0,2,1,2,10,3,4",
                       .version = 4,
                       .storage = "2,0,0,1,0",
                       .comment = "kept comment"};
  make(path("dest"), described);
  put(path("dest"), {"0001", "0002xxxxxxabcdef"});
  std::vector<std::string> description;
  for (int code : {-1, -2, -3, 0, 1}) description.push_back(info(path("dest"), code));
  write_file(path("flat"), be16(6) + "0003zz");
  auto r = run({"-load", "-nbv", path("flat"), path("dest")}, {.env = {{"K_VERSION", "5"}}});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, loaded(path("dest"), 1, "20"));
  EXPECT_EQ(records(path("dest")), (std::vector<std::string>{"0003zz"}));
  std::vector<std::string> after;
  for (int code : {-1, -2, -3, 0, 1}) after.push_back(info(path("dest"), code));
  EXPECT_EQ(after, description);
  KFile* f = k5_open(path("dest").c_str(), K_MODE_READ, "0,0,0");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->version, 4);
  k5_close(f);
}

}  // namespace
