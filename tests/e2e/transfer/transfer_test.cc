// -unload, -load, -deleted and -extract: records through every flat file framing and back,
// the load modes, deleted-record recovery, extraction by key, and the refusals.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <random>

#include "tests/e2e/kelvra_files.h"

namespace {

using namespace e2e;
using namespace kfiles;

enum Framing { kFixed, kNative, kPortable2, kPortable4, kLine };

struct RoundTrip {
  const char* label;
  Framing framing;
  const char *unload_options, *load_options;
  uint32_t max, min;
  const char* block_size;  // C_SEQ_DEFAULT_BLOCK_SIZE, or null
};

std::ostream& operator<<(std::ostream& os, const RoundTrip& t) {
  return os << t.label;
}

// Records with an 8-byte primary key: the shortest and the longest, zero bytes (also
// trailing), trailing spaces, and random bytes (in a line file no line end or byte 26).
std::vector<std::string> samples(const RoundTrip& t) {
  std::mt19937 random(t.max);
  auto bytes = [&](uint32_t length) {
    std::string r;
    while (r.size() < length) {
      char c = static_cast<char>(random() % 256);
      r += t.framing == kLine && (c == '\n' || c == '\r' || c == 26) ? 'L' : c;
    }
    return r;
  };
  std::vector<std::string> out = {
      std::string("00000001").append(t.min - 8, ' '),
      std::string("0000\0\0"
                  "02",
                  8) +
          bytes(t.max - 8),
      std::string("00000003a\0b\0", 12).append(t.min > 12 ? t.min - 12 : 0, '\0')};
  for (uint32_t i = 0; i < 20; ++i) {
    out.push_back(record(1000 + i * 37 % 20, 8) +
                  bytes(t.min + i * 7919u % (t.max - t.min + 1) - 8));
  }
  return out;
}

std::string framed(const std::vector<std::string>& records, const RoundTrip& t) {
  std::string out;
  for (const std::string& r : records) {
    const uint32_t n = static_cast<uint32_t>(r.size());
    out += t.framing == kFixed       ? r + std::string(t.max - n, '\0')
           : t.framing == kNative    ? std::string(reinterpret_cast<const char*>(&n), 4) + r
           : t.framing == kPortable2 ? be16(n) + r
           : t.framing == kPortable4 ? be32(n) + r
                                     : r + "\n";
  }
  return out;
}

class Transfer : public E2eTest, public ::testing::WithParamInterface<RoundTrip> {
 protected:
  // What a load into dest prints before anything else.
  std::string loaded(const std::string& dest, int count, int size = 5) {
    return "Record size = " + std::to_string(size) + "\nLoading " + dest + "...\n" +
           std::to_string(count) + " records loaded\n";
  }
  // Variable records of 1 to max bytes with a 1-byte primary key (duplicates allowed or not).
  void make_variable(const std::string& name, int max = 5, int duplicates = 0) {
    make(path(name), {.sizes = std::to_string(max) + ",1,1",
                      .keys = "1," + std::to_string(duplicates) + ",1,0"});
  }
};

// -unload writes exactly the framed records in key order, and -load into an empty copy
// gives them all back, by the primary and the alternate key.
TEST_P(Transfer, RoundTrip) {
  const RoundTrip& t = GetParam();
  const Layout layout = {.sizes = std::to_string(t.max) + "," + std::to_string(t.min) + ",2",
                         .keys = "1,0,8,0,1,1,4,8"};
  make(path("source"), layout);
  std::vector<std::string> want = samples(t);
  std::shuffle(want.begin(), want.end(), std::mt19937(7));
  edit(path("source"), want);
  std::sort(want.begin(), want.end());
  RunOptions env;
  if (t.block_size != nullptr) env.env = {{"C_SEQ_DEFAULT_BLOCK_SIZE", t.block_size}};
  const std::string size = "0 [Record size = " + std::to_string(t.max);
  EXPECT_EQ(said(run({"-unload", t.unload_options, "source", "flat"}, env)),
            size + "\nUnloading source...\n][]");
  EXPECT_TRUE(file_holds(path("flat"), framed(want, t)));
  make(path("copy"), layout);
  EXPECT_EQ(said(run({"-load", t.load_options, "flat", "copy"}, env)),
            size + "\nLoading copy...\n" + std::to_string(want.size()) + " records loaded\n][]");
  EXPECT_TRUE(records(path("copy")) == want);
  std::vector<std::string> by_alternate = records(path("copy"), 1);
  std::sort(by_alternate.begin(), by_alternate.end());
  EXPECT_TRUE(by_alternate == want);
}

INSTANTIATE_TEST_SUITE_P(
    Framings, Transfer,
    ::testing::Values(RoundTrip{"fixed", kFixed, "-", "-", 100, 100, nullptr},
                      RoundTrip{"fixed_b", kFixed, "-b", "-b", 100, 100, "7"},
                      RoundTrip{"native", kNative, "-v", "-v", 300, 8, nullptr},
                      RoundTrip{"native_wide", kNative, "-v", "-v", 70000, 8, "5000"},
                      RoundTrip{"portable", kPortable2, "-bv", "-bv", 300, 8, "1"},
                      RoundTrip{"portable_65535", kPortable2, "-bv", "-bv", 65535, 8, nullptr},
                      RoundTrip{"portable_wide", kPortable4, "-bv", "-bvx", 70000, 8, nullptr},
                      RoundTrip{"line", kLine, "-t", "-t", 300, 8, nullptr},
                      RoundTrip{"line_fixed", kLine, "-tv", "-t", 100, 100, "0"},
                      RoundTrip{"line_wide", kLine, "-t", "-t", 70000, 8, "3"}),
    [](const ::testing::TestParamInfo<RoundTrip>& info) { return info.param.label; });

// Command lines the four commands refuse with the usage text, and files they refuse with a
// message before anything is written.
TEST_F(Transfer, Refusals) {
  write_file(path("flat"), "abc");
  make_variable("k");
  edit(path("k"), {"xyz"});
  make(path("secret"), {.storage = "0,0,0,0,1"});
  make(path("four"), {.version = 4});
  const std::string k = read_file(path("k"));
  for (const std::string line :
       {"-load -bd flat k", "-load -bt flat k", "-load -dt flat k", "-load -dv flat k",
        "-load -dx flat k", "-load -rs flat k", "-load -w flat k", "-load flat",
        "-load -b flat k x", "-unload -bt k o", "-unload -x k o", "-unload k", "-deleted -bt k o",
        "-deleted -l k o", "-extract -b k", "-extract", "-extract k k"}) {
    auto r = run(words(line));
    EXPECT_EQ(r.status, 255) << line << r;
    EXPECT_TRUE(r.out.starts_with(kUsageStart)) << line << r;
  }
  for (const auto& [line, outcome] : std::vector<std::array<std::string, 2>>{
           {"-load -n secret k", "255 [Error: input file is Kelvra format\n][]"},
           {"-unload k k", "255 [k: input and output file names are the same\n][]"},
           {"-deleted k k", "255 [k: input and output file names are the same\n][]"},
           {"-unload secret o", "0 [secret encrypted, unload not allowed\n][]"},
           {"-deleted secret o",
            "255 [secret encrypted, recovery of deleted records not allowed\n][]"},
           {"-extract -q secret", "0 [secret encrypted, extract not allowed\n][]"},
           {"-deleted four o", "255 [four not Kelvra version 5 or greater\n][]"},
           {"-load none k", "255 [][none: No such file or directory\n]"}}) {
    EXPECT_EQ(said(run(words(line))), outcome);
  }
  EXPECT_TRUE(file_holds(path("k"), k));
  EXPECT_FALSE(file_exists(path("o")));
}

// A source that cannot be read (a directory, a file whose first read fails) is refused with
// the system's reason before the destination is touched, also with n, in every layout; a
// pipe is read as it comes.
TEST_F(Transfer, LoadSourceThatCannotBeRead) {
  make(path("k"), {}, records_up_to(3));
  std::filesystem::create_directory(path("adir"));
  const std::string k = read_file(path("k"));
  for (const std::string options : {"-", "-n", "-d", "-nd", "-t", "-nt", "-bv", "-nbvx"}) {
    EXPECT_EQ(said(run({"-load", options, "adir", "k"})), "255 [][adir: Is a directory\n]");
    EXPECT_EQ(said(run({"-load", options, "/proc/self/mem", "k"})),
              "255 [][/proc/self/mem: Input/output error\n]");
  }
  EXPECT_TRUE(file_holds(path("k"), k));
  EXPECT_EQ(said(run({"-load", "/dev/stdin", "k"}, {.input = record(7)})),
            "0 [Record size = 40\nLoading k...\n1 records loaded\n][]");
  std::vector<std::string> all = records_up_to(3);
  all.push_back(record(7));
  EXPECT_EQ(records(path("k")), all);
}

// Line files: a line longer than R is cut (once, with its number), bytes after the last
// line end are not loaded, CR LF reads as LF and byte 26 ends the input. Fixed records: a
// short last one is dropped, and with d those that begin with 256 zero bytes are skipped.
// Portable prefixes: a length of 0 ends the input, one above R ends the run with a message.
TEST_F(Transfer, LoadCutsAndDrops) {
  make_variable("dest", 5, 1);
  write_file(path("lines"), "abc\nabcdefghijklmnopqrstuvwxyz\nxy");
  EXPECT_EQ(
      said(run(words("-load -t lines dest"))),
      "0 [Record size = 5\nLoading dest...\nRecord #2 is being truncated\n2 records loaded\n][]");
  write_file(path("crlf"),
             "12\r\n3\r\r\n\x1a"
             "4\r\n");
  EXPECT_EQ(run(words("-load -t crlf dest")).out, loaded("dest", 2));
  write_file(path("zero"), be16(3) + "def" + be16(0) + be16(3) + "ghi");
  EXPECT_EQ(run(words("-load -bv zero dest")).out, loaded("dest", 1));
  write_file(path("long"), be16(2) + "kl" + be16(259) + "cde");
  EXPECT_EQ(said(run(words("-load -bv long dest"))),
            "255 [" + loaded("dest", 1) +
                "][long: record 2 is longer than the record size 5; the rest of the file is not "
                "loaded\n]");
  EXPECT_EQ(records(path("dest")),
            (std::vector<std::string>{"12", "3\r", "abc", "abcde", "def", "kl"}));
  make(path("fixed"), {.sizes = "300,300,1", .keys = "1,0,4,296"});
  const std::string kept = std::string(255, '\0') + "x" + std::string(40, '\0') + "0002";
  write_file(path("flat"), std::string(256, '\0') + std::string(40, 'a') + "0001" +
                               std::string(300, '\0') + kept + std::string(50, 'c'));
  EXPECT_EQ(run(words("-load -d flat fixed")).out, loaded("fixed", 1, 300));
  EXPECT_EQ(records(path("fixed")), std::vector<std::string>{kept});
  EXPECT_EQ(run(words("-load flat fixed")).out, loaded("fixed", 2, 300) +
                                                    "1 records with duplicate keys rejected\n" +
                                                    "rejected records stored in \"flat.rej\"\n");
}

// Duplicate keys: in fill mode the count leaves them out and the rejected-records file
// holds them in the portable framing (4-byte prefixes above 65535; it loads back with -bv);
// s drops and r replaces them.
TEST_F(Transfer, LoadDuplicates) {
  write_file(path("flat"), "k1111k2222j3333");
  make_variable("fill");
  EXPECT_EQ(said(run(words("-load flat fill"))),
            "0 [" + loaded("fill", 2) + "1 records with duplicate keys rejected\n" +
                "rejected records stored in \"flat.rej\"\n][]");
  EXPECT_TRUE(file_holds(path("flat.rej"), be16(5) + "k2222"));
  make_variable("again");
  EXPECT_EQ(run(words("-load -bv flat.rej again")).out, loaded("again", 1));
  EXPECT_EQ(records(path("again")), std::vector<std::string>{"k2222"});
  for (const auto& [option, kept] :
       std::vector<std::array<std::string, 2>>{{"s", "k1111"}, {"r", "k2222"}}) {
    make_variable(option);
    EXPECT_EQ(run({"-load", "-" + option, "flat", option}).out, loaded(option, 3));
    EXPECT_EQ(records(path(option)), (std::vector<std::string>{"j3333", kept}));
  }
  make_variable("wide", 70000);
  const std::string a = "k" + std::string(69999, 'a'), b = "k" + std::string(65999, 'b');
  write_file(path("wide.flat"), be32(70000) + a + be32(66000) + b);
  EXPECT_EQ(run(words("-load -bvx wide.flat wide")).status, 0);
  EXPECT_TRUE(file_holds(path("wide.flat.rej"), be32(66000) + b));
}

// n empties the destination and keeps its description (sizes, keys, storage, comment,
// version) whatever K_VERSION says.
TEST_F(Transfer, LoadNKeepsTheDescription) {
  make(path("dest"),
       {.sizes = "20,4,2",
        .keys = "1,0,4,0,2,1,2,10,3,4",
        .version = 4,
        .storage = "2,0,0,1,0",
        .comment = "kept comment"},
       {"0001", "0002xxxxxxabcdef"});
  const std::string before = describe(path("dest"));
  ASSERT_TRUE(before.starts_with("v4|20,4,2|2,0,0,1,0|kept comment|")) << before;
  write_file(path("flat"), be16(6) + "0003zz");
  EXPECT_EQ(said(run(words("-load -nbv flat dest"), {.env = {{"K_VERSION", "5"}}})),
            "0 [" + loaded("dest", 1, 20) + "][]");
  EXPECT_EQ(records(path("dest")), std::vector<std::string>{"0003zz"});
  EXPECT_EQ(describe(path("dest")), before);
}

// -unload pads variable records with zero bytes when not prefixed; a failed write of the
// destination ends the run with 255.
TEST_F(Transfer, UnloadPadsAndReportsWriteErrors) {
  make(path("k"), {.sizes = "10,1,1", .keys = "1,0,2,0"}, {"bb  ", std::string("aa\0z", 4)});
  EXPECT_EQ(run(words("-unload -l k fixed")).status, 0);
  EXPECT_TRUE(file_holds(path("fixed"), std::string("aa\0z\0\0\0\0\0\0bb  \0\0\0\0\0\0", 20)));
  EXPECT_EQ(said(run(words("-unload k /dev/full"))),
            "255 [Record size = 10\nUnloading k...\n/dev/full: write error\n][]");
}

// Only the spelling of the two names is compared: a destination that is the source under
// another name (./f, the full path, a hard link) or one of its segment files is emptied,
// and the reads that follow fail in the library's words while the command ends normally.
// The records read before stay in the destination.
TEST_F(Transfer, UnloadIntoItsOwnSource) {
  const std::vector<std::string> all = records_up_to(150);
  for (int version = 2; version <= 5; ++version) {
    std::vector<std::string> destinations = {"./f", path("f"), "h"};
    if (version >= 4) destinations.insert(destinations.end(), {"f.x0", "f.d1"});
    for (const std::string& destination : destinations) {
      SCOPED_TRACE("version " + std::to_string(version) + " into " + destination);
      for (const auto& entry : std::filesystem::directory_iterator(scratch())) {
        std::filesystem::remove(entry.path());
      }
      make(path("f"), {.version = version, .segment_size = 4096}, all);
      ASSERT_EQ(link(path("f").c_str(), path("h").c_str()), 0);
      const std::string file = destination.starts_with("/") ? destination : path(destination);
      ASSERT_TRUE(file_exists(file));
      // An emptied data segment 0 has lost its header, which every read of a shared open
      // looks at first (6/1); an emptied index segment fails at a node, f.d1 at a record.
      const std::string secondary = destination == "f.x0"   ? "10"
                                    : destination == "f.d1" ? "81"
                                                            : "1";
      EXPECT_EQ(said(run({"-unload", "f", destination})),
                std::string("0 [Record size = 40\nUnloading f...\n][f: damaged file (error 6/") +
                    secondary + ")\n]");
      // Only f.d1 keeps records: those of data segment 0, read before its own were met.
      const std::string kept =
          read_file(destination.starts_with("/") ? destination : path(destination));
      const size_t count = kept.size() / 40;
      EXPECT_EQ(kept.empty(), destination != "f.d1");
      EXPECT_LT(count, all.size());
      std::string first;
      for (size_t i = 0; i < count; ++i) first += all[i];
      EXPECT_EQ(kept, first);
    }
  }
}

// -deleted on a version-5 file of two data segments: the deleted chain (last deleted first)
// then the abandoned one, the count on standard error.
TEST_F(Transfer, Deleted) {
  make(path("k"), {.sizes = "200,8,1", .segment_size = 4096});
  std::vector<std::string> all = records_up_to(60, 90);
  edit(path("k"), all, {all[5], all[50], all[10]}, {record(3, 200), record(45, 200)});
  ASSERT_NE(read_file(path("k.d1")).find(all[50]), std::string::npos) << "in the second segment";
  std::string portable, lines;
  for (int i : {10, 50, 5, 45, 3}) {
    portable += be16(90) + all[i];
    lines += all[i] + "\n";
  }
  EXPECT_EQ(said(run(words("-deleted -bv k flat"))),
            "0 [Record size = 200\nRecovering deleted records from k...\n][5 deleted records "
            "recovered\n]");
  EXPECT_TRUE(file_holds(path("flat"), portable));
  EXPECT_EQ(run(words("-deleted -t k lines")).status, 0);
  EXPECT_TRUE(file_holds(path("lines"), lines));
}

// -extract: a value spread over the two segments of a key, exactly the count asked for;
// without x the end of the file ends the run with 255, with x it is reported each time;
// what is not given is asked.
TEST_F(Transfer, Extract) {
  make(path("k"),
       {.sizes = "20,20,3", .keys = "1,0,6,0,2,0,4,10,6,0,1,1,2,18", .comment = "customers"});
  const std::string a = "EFGHIA1111ABCDaaaak1\n", b = "EFGHIJ2222ABCDbbbbk2\n",
                    c = "EFGHIK3333ABCDcccck1\n", d = "AAAAAA4444ABCEddddk3\n",
                    e = "ZZZZZZ5555AAAAeeeek2\n";
  edit(path("k"),
       {a.substr(0, 20), b.substr(0, 20), c.substr(0, 20), d.substr(0, 20), e.substr(0, 20)});
  const std::string head =
      " [\nk  customers\n\n# of records      =          5\n"
      "record size       =         20\n# of keys         =          3\n";
  const std::string end = "k: no further or no such record (error 8/0)\n";
  // The options, the console input, the status, what follows the description.
  for (const auto& [options, input, status, rest] : std::vector<std::array<std::string, 4>>{
           {"-kn 1 2 -v ABCDEFGHIJ", "", "0", b + c + "][]"},
           {"-kvn 1 'ABCD'EFGHIJ 2", "", "0", b + c + "][]"},
           {"-q", "", "255", d + a + b + c + e + "][" + end + "]"},
           {"-xq -k 2 -n 7", "", "0", a + c + b + e + d + "][" + end + end + "]"},
           {"-q -k 5 -n 1", "", "0", d + "][]"},
           {"", "7\n1\nABCE\n-3\n", "255",
            "read on which key: That key does not exist\nread on which key: key value: "
            "# of records: " +
                d + "][" + end + "]"},
           {"", "abc", "255",
            "read on which key: read on which key: EOF found on standard input.  Processing "
            "terminated.\n][]"}}) {
    EXPECT_EQ(said(run(words("-extract " + options + " k"), {.input = input})),
              status + head + rest);
  }
}

}  // namespace
