// -size: its columns and used share, long names, files that are not Kelvra files. -tree: the
// dump of the named file, and what it does without one.
#include <string>

#include "kelvra/format.h"
#include "tests/e2e/describe/describe_files.h"

namespace {

using namespace describe_files;

const std::string kHeading =
    "File                               size   # recs  # empty   % used\n\n";

class SizeCommand : public e2e::E2eTest {
 protected:
  // The size column: the end of the data the header records.
  std::string end_of_data(const std::string& name, int version) {
    std::vector<uint8_t> block = header(path(name));
    const long end =
        version == 3 ? field(block, 3, KF_V3_END, 4) : field(block, 5, KF_END_OFFSET, 4);
    return std::to_string(end);
  }
  static std::string pad(const std::string& text, size_t width) {
    return std::string(width > text.size() ? width - text.size() : 0, ' ') + text;
  }
};

TEST_F(SizeCommand, ColumnsAndUsedShare) {
  make(path("ninety"), {});
  change(path("ninety"), {.records = 100, .deleted = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}});
  make(path("full"), {});
  change(path("full"), {.records = 7});
  make(path("none"), {});
  // Version 5 counts the deleted chain only, not the abandoned one.
  Recipe variable;
  variable.sizes = "60,20,1";
  make(path("moved"), variable);
  change(path("moved"),
         {.records = 10, .size = 20, .deleted = {1, 2, 3}, .rewritten = {5, 6}, .grown_size = 60});
  auto r = run({"-size", "ninety", "full", "none", "moved"});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, kHeading + "ninety                        " + pad(end_of_data("ninety", 5), 9) +
                       "       90       10      90%\n" + "full                          " +
                       pad(end_of_data("full", 5), 9) + "        7        0     100%\n" +
                       "none                          " + pad(end_of_data("none", 5), 9) +
                       "        0        0     100%\n" + "moved                         " +
                       pad(end_of_data("moved", 5), 9) + "        7        3      70%\n");
}

TEST_F(SizeCommand, OtherVersionsAndLongNames) {
  Recipe three;
  three.version = 3;
  const std::string long_name = "a-name-of-forty-characters-for-the-table";
  make(path(long_name), three);
  change(path(long_name), {.records = 3, .deleted = {1}});
  Recipe two;
  two.version = 2;
  make(path("old"), two);
  change(path("old"), {.records = 5, .deleted = {4}});
  // Version 2 also counts its free records (kept at a place of the library's own).
  write_bytes(path("old"), K_offsets[2][KF_V2_FREE_RECORDS], {5, 0, 0, 0});
  KHeaderRecord h{};
  ASSERT_EQ(ki_header_from_v2(header(path("old")).data(), &h), 1);
  ASSERT_EQ(h.free_records, 5u);
  ASSERT_EQ(h.deleted, 1u);
  auto r = run({"-size", long_name, "old"});
  EXPECT_EQ(r.out, kHeading + long_name + pad(end_of_data(long_name, 3), 9) +
                       "        2        1      66%\n" + "old                           " +
                       pad(std::to_string(h.end_offset), 9) + "        4        6      40%\n");
}

TEST_F(SizeCommand, FilesThatAreNotKelvraFiles) {
  make(path("good"), {});
  write_file(path("text"), "a text file, long enough to be more than nothing\n");
  write_file(path("empty"), "");
  const std::string good = "good                          " + pad(end_of_data("good", 5), 9) +
                           "        0        0     100%\n";
  auto r = run({"-size", "text", "good", "empty", "missing"});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, kHeading + good);
  EXPECT_EQ(r.err, "");
  r = run({"-size", "-n", "text", "good", "empty", "missing"});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, kHeading + "text: not a Kelvra file\n" + good +
                       "empty: not a Kelvra file\nmissing: not a Kelvra file\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(SizeCommand, NamesFromTheConsole) {
  make(path("good"), {});
  auto r = run({"-size", "-N"}, {.input = "good\nnothing\n"});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, kHeading + "good                          " + pad(end_of_data("good", 5), 9) +
                       "        0        0     100%\nnothing: not a Kelvra file\n");
  r = run({"-size", "-q"}, {.input = "good\n"});
  EXPECT_EQ(r.status, 99);
  EXPECT_EQ(r.out, kHeading);
  r = run({"-size", "-x", "good"});
  EXPECT_EQ(r.status, 255);
  EXPECT_TRUE(r.out.starts_with("ixkit -info")) << r;
}

class TreeCommand : public e2e::E2eTest {};

TEST_F(TreeCommand, DumpsTheNamedFile) {
  make(path("keys"), {});
  change(path("keys"), {.records = 20});
  auto r = run({"-tree", "-q", "keys", "ignored"});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, "File tree printed in 'k_tree'\n");
  EXPECT_EQ(r.err, "");
  EXPECT_NE(read_file(path("k_tree")).find("00000019"), std::string::npos);
}

TEST_F(TreeCommand, WithoutAUsableFile) {
  auto r = run({"-tree", "-q"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "ixkit -tree: no file name given\n");
  write_file(path("text"), "");
  std::string noise(4096, '\0');
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 193 + 11) % 256);
  write_file(path("noise"), noise);
  r = run({"-tree", "text"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "text: not a Kelvra file or an unsupported version (error 13/0)\n");
  r = run({"-tree", "noise"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "noise: not a Kelvra file or an unsupported version (error 13/0)\n");
  EXPECT_FALSE(file_exists(path("k_tree")));
  r = run({"-tree", "-k", "text"});
  EXPECT_EQ(r.status, 255);
}

}  // namespace
