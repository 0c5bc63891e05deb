// -convert as a command: real C-ISAM files written by other software, the options and the
// compression choice, the backup warning and the list of files, where the new files go,
// names up to 252 characters, and the order of the format tests.
#include <filesystem>
#include <optional>

#include "tests/e2e/convert/convert_files.h"

namespace {

using namespace e2e;
using namespace cfiles;
namespace fs = std::filesystem;

const std::string kWarning =
    "Warning: this procedure may destroy your original files!\n"
    "You should make current backups of these files before proceeding\n"
    "\nDo you want to continue (y/n): ";
const std::string kCisamWord = "Header word : fe530202\n";

class Convert : public E2eTest {
 protected:
  // c: a C-ISAM file of 20 records (and 3 deleted); h: a compressed HV/COBOL-85 file of 30.
  void make_c() {
    write_cisam(path("c"), cisam_layout(), kfiles::records_up_to(20),
                {kfiles::record(97), kfiles::record(98), kfiles::record(99)});
  }
  void make_h() {
    write_file(path("h"), foreign::hvc_file({.keys = {{0, 8}, {8, 5, true}},
                                             .compressed = true,
                                             .records = kfiles::records_up_to(30)}));
  }
  std::string converted_c() { return kCisamWord + "Converting CISAM file c...20 records\n"; }
};

// The fixture files: each converts into every version, passes -check -fx, and holds exactly
// the live slots of its data file by every key, in key order.
TEST_F(Convert, RealCisamFiles) {
  const std::string fixtures = IXKIT_FIXTURES;
  if (!fs::exists(fixtures)) GTEST_SKIP() << "the fixture files are not at " << fixtures;
  struct Fixture {
    std::string name;
    size_t length, live;
  };
  const Fixture all[] = {{"vb_small", 60, 45}, {"dekeys", 90, 2051}};
  for (int version : {3, 4, 5}) {
    for (const Fixture& f : all) {
      for (const char* extension : {".idx", ".dat"}) {
        write_file(path(f.name + extension), read_file(fixtures + "/cisam/" + f.name + extension));
      }
    }
    EXPECT_EQ(said(run({"-convert", "-a" + std::to_string(version), "vb_small", "dekeys"})),
              "0 [" + kCisamWord + "Converting CISAM file vb_small...45 records\n" + kCisamWord +
                  "Converting CISAM file dekeys...2051 records\n][]");
    EXPECT_EQ(run({"-check", "-fx", "vb_small.kvl", "dekeys.kvl"}).status, 0) << version;
    for (const Fixture& f : all) {
      const std::string data = read_file(path(f.name + ".dat"));
      std::vector<std::string> live;
      for (size_t at = 0; at + f.length + 1 <= data.size(); at += f.length + 1) {
        if (data[at + f.length] != '\0') live.push_back(data.substr(at, f.length));
      }
      ASSERT_EQ(live.size(), f.live) << f.name;
      const std::string kvl = path(f.name + ".kvl");
      EXPECT_EQ(kfiles::describe(kvl).substr(0, 2), "v" + std::to_string(version));
      const int keys = f.name == "vb_small" ? 2 : 1;
      for (int k = 0; k < keys; ++k) {
        EXPECT_TRUE(sorted_records(kvl, k) == sorted(live)) << f.name << " key " << k;
        EXPECT_TRUE(in_key_order(kvl, k)) << f.name << " key " << k;
      }
    }
    // The parts in the order of the key description, duplicates on the second key only.
    EXPECT_EQ(kfiles::info(path("vb_small.kvl"), 0), "02,0,004,0000000026,006,0000000000");
    EXPECT_EQ(kfiles::info(path("vb_small.kvl"), 1), "01,1,010,0000000030");
    EXPECT_EQ(kfiles::info(path("dekeys.kvl"), 0), "02,0,009,0000000000,009,0000000009");
  }
  write_file(path("bdb_custidx"), read_file(fixtures + "/not-indexed/bdb_custidx"));
  EXPECT_EQ(said(run({"-convert", "-a", "bdb_custidx"})),
            "0 [bdb_custidx: Unknown file type or file not found\n][]");
}

// The compression choice (+c, -c or the foreign file's own), the factor of -f, and the format
// version of -2 to -5, as the new file's description shows them.
TEST_F(Convert, OptionsChooseCompressionAndVersion) {
  struct Case {
    std::string options, file;
    int factor, version;
  };
  const Case cases[] = {
      {"-a", "c", 0, 5},      {"-a", "h", 1, 5},           {"+c -a", "c", 1, 5},
      {"-ac", "h", 0, 5},     {"-a -f 50 +c", "c", 50, 5}, {"-af 50", "c", 0, 5},
      {"-fa 50", "h", 50, 5}, {"+cf 0 -a", "c", 0, 5},     {"-a3", "c", 0, 3},
      {"-4a", "h", 1, 4},     {"-a2", "c", 0, 2},          {"-a3 -5", "c", 0, 5},
  };
  for (const Case& c : cases) {
    make_c();
    make_h();
    auto r = run(words("-convert " + c.options + " " + c.file));
    EXPECT_EQ(r.status, 0) << c.options << r;
    const bool cisam = c.file == "c";
    const std::string described = kfiles::describe(path(cisam ? "c.kvl" : "h"));
    const std::string storage = kfiles::info(path(cisam ? "c.kvl" : "h"), -2);
    EXPECT_EQ(described.substr(0, 2), "v" + std::to_string(c.version)) << c.options;
    EXPECT_EQ(storage.substr(storage.find(",0,0,") + 5), std::to_string(c.factor) + ",0")
        << c.options << " " << c.file;
    EXPECT_NE(described.find(cisam ? "|Converted CISAM file|" : "|Converted HV/COBOL-85 file|"),
              std::string::npos)
        << described;
  }
}

// The backup warning asks the console unless a, d or q is given; file names come from the
// command line or, without any, from standard input (in quiet mode the run ends with 99).
TEST_F(Convert, WarningAndFileList) {
  struct Case {
    std::string options;
    std::optional<std::string> terminal;
    std::string input;
    std::string outcome;
    bool converted;
  };
  const std::string h = "Converting HV-85 file h...30 records\n";
  const Case cases[] = {
      {"c", "y\n", "", "0 [" + kWarning + converted_c() + "][]", true},
      {"c", "no\n", "", "0 [" + kWarning + "][]", false},
      {"c", "\x04", "", "0 [" + kWarning + "][]", false},
      {"-q c", std::nullopt, "", "0 [" + converted_c() + "][]", true},
      {"-qa", std::nullopt, "c\n", "99 [][]", false},
      // An empty line names a file too, one that is not there.
      {"-", "y\n", "c\n\nh\n",
       "0 [" + kWarning + converted_c() + ": Unknown file type or file not found\n" + h + "][]",
       true},
      {"+q", std::nullopt, "c\n", "99 [][]", false},
  };
  for (const Case& c : cases) {
    make_c();
    make_h();
    fs::remove(path("c.kvl"));
    auto r = run(words("-convert " + c.options), {.input = c.input, .terminal = c.terminal});
    EXPECT_EQ(said(r), c.outcome) << c.options;
    EXPECT_EQ(file_exists(path("c.kvl")), c.converted) << c.options;
  }
  // Without a console device to ask, the run ends with 1 and nothing is converted.
  auto r = run({"-convert", "c"});
  EXPECT_EQ(r.status, 1) << r;
  EXPECT_TRUE(r.err.starts_with("CON:")) << r;
  EXPECT_FALSE(file_exists(path("c.kvl")));
}

// Option words the command refuses, and values out of range.
TEST_F(Convert, Refusals) {
  make_c();
  for (const auto& [line, status, start] : std::vector<std::tuple<std::string, int, std::string>>{
           {"-convert -ax c", 255, kfiles::kUsageStart},
           {"-convert -a -d", 255, kfiles::kUsageStart},
           {"-convert -a1 c", 255, kfiles::kUsageStart},
           {"-convert -a -f 101 c", 255, "'-f' value must be between 0 and 100\n"},
           {"-convert -a -f -1 c", 255, "Missing value for '-f' option\n"},
           {"-convert -d nowhere c", 1, "Cannot access directory 'nowhere'\n"}}) {
    auto r = run(words(line));
    EXPECT_EQ(r.status, status) << line << r;
    EXPECT_TRUE(r.out.starts_with(start)) << line << r;
  }
  EXPECT_FALSE(file_exists(path("c.kvl")));
}

// Without -d a C-ISAM file gets NAME.kvl beside it and an HV/COBOL-85 file is replaced; with
// -d (and its trailing separator dropped) both land in that directory and the HV/COBOL-85
// file stays. No temporary file is left anywhere.
TEST_F(Convert, WhereNewFilesGo) {
  make_c();
  make_h();
  const std::string hv = read_file(path("h"));
  fs::create_directory(path("sub"));
  EXPECT_EQ(said(run(words("-convert -d sub/ c h"))),
            "0 [" + converted_c() + "Converting HV-85 file h...30 records\n][]");
  EXPECT_TRUE(file_holds(path("h"), hv));
  EXPECT_EQ(names_in(path("sub")), (std::vector<std::string>{"c.kvl", "c.kvl.x0", "h", "h.x0"}));
  EXPECT_EQ(kfiles::records(path("sub/h")), kfiles::records_up_to(30));
  EXPECT_EQ(kfiles::records(path("sub/c.kvl")), kfiles::records_up_to(20));

  EXPECT_EQ(run(words("-convert -a c h")).status, 0);
  EXPECT_EQ(names_in(scratch()),
            (std::vector<std::string>{"c.dat", "c.idx", "c.kvl", "c.kvl.x0", "h", "h.x0", "sub"}));
  EXPECT_EQ(kfiles::records(path("h")), kfiles::records_up_to(30));
}

// A name of 252 characters is converted; one of 253 is not recognised, and its ".idx"
// companion is not read.
TEST_F(Convert, NamesUpTo252Characters) {
  const std::string directory(200, 'd');
  fs::create_directory(path(directory));
  for (size_t length : {252u, 253u}) {
    const std::string name = directory + "/" + std::string(length - 201, 'n');
    write_cisam(path(name), cisam_layout(), kfiles::records_up_to(3));
    const bool fits = length == 252;
    EXPECT_EQ(said(run({"-convert", "-a", name})),
              fits ? "0 [" + kCisamWord + "Converting CISAM file " + name + "...3 records\n][]"
                   : "0 [" + name + ": Unknown file type or file not found\n][]");
    EXPECT_EQ(file_exists(path(name + ".kvl")), fits);
  }
}

// The HV/COBOL-85 magic in the file itself wins over a ".idx" companion; a companion
// beginning 0xFE 0x53 is C-ISAM, one whose first byte is 0x30 to 0x3F Tolvane.
TEST_F(Convert, DetectionOrder) {
  make_h();
  fs::rename(path("h"), path("both"));
  write_cisam(path("both"), cisam_layout(), kfiles::records_up_to(2));
  fs::remove(path("both.dat"));
  write_file(path("tv.idx"), std::string("\x3A\x00\x01\x02", 4));
  write_file(path("tv"), "");
  write_file(path("odd.idx"), "\x12\x34\x56\x78");
  write_file(path("hvkx"), std::string("\x00\x01....HVKX", 10));
  EXPECT_EQ(said(run(words("-convert -a both tv odd hvkx none"))),
            "0 [Converting HV-85 file both...30 records\n"
            "Header word : 3a000102\nCouldn't read headers\n"
            "Header word : 12345678\nodd: Unknown file type or file not found\n"
            "hvkx: Unknown file type or file not found\n"
            "none: Unknown file type or file not found\n][]");
  EXPECT_FALSE(file_exists(path("both.kvl")));
  EXPECT_EQ(kfiles::records(path("both")).size(), 30u);
}

}  // namespace
