// -info: the report of each format version character for character, its options, several
// files in one run, and files it cannot report.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/e2e/describe/describe_files.h"

namespace {

using namespace describe_files;

std::string right(long value, int width) {
  std::string digits = std::to_string(value);
  return std::string(width > static_cast<int>(digits.size()) ? width - digits.size() : 0, ' ') +
         digits;
}

// Keys of 8 bytes, of three segments (4, 4 and 2 bytes) with duplicates, and of 30 bytes.
const char* const kGoldenKeys = "1,0,8,0,3,1,4,8,4,20,2,30,1,1,30,40";

const char* const kKeyTable =
    "\nKey  Dups    Seg-1     Seg-2     Seg-3     Seg-4     Seg-5     Seg-6"
    "\n            (sz/of)   (sz/of)   (sz/of)   (sz/of)   (sz/of)   (sz/of)\n\n"
    "  0    N    8/0       \n"
    "  1    Y    4/8       4/20      2/30      \n"
    "  2    Y    30/40     \n";

class InfoCommand : public e2e::E2eTest {
 protected:
  // 300 records of 120 bytes in small segments; then the counts in the header are set to
  // values every report below shows.
  std::string golden_file(int version) {
    const std::string name = "g" + std::to_string(version);
    Recipe recipe;
    recipe.version = version;
    recipe.comment = "golden";
    recipe.storage = "1,4,8,0,0";
    recipe.sizes = "120,120,3";
    recipe.keys = kGoldenKeys;
    recipe.segment_size = 8192;
    make(path(name), recipe);
    change(path(name), {.records = 300, .size = 120}, 8192);
    std::vector<uint8_t> block = header(path(name));
    put_field(block, version, KF_RECORDS, 4, 1234567);
    put_field(block, version, KF_DELETED, 4, 3);
    if (version == 5) put_field(block, version, KF_ABANDONED, 4, 2);
    const int node_width = version == 5 ? 4 : 2;
    put_field(block, version, KF_NODES, node_width, 4);
    put_field(block, version, KF_DELETED_NODES, node_width, 1);
    put_field(block, version, KF_NODE_SPACE, 4, 1000, version == 5 ? 2 : 0);
    put_field(block, version, KF_USER_COUNT, 2, 3);
    write_bytes(path(name), 0, block);
    return name;
  }

  // The size lines of a file: one per segment file on disk, with their total.
  std::string size_lines(const std::string& name, int version) {
    if (version == 3) {
      const long end = field(header(path(name)), 3, KF_V3_END, 4);
      return "file size:           " + right(end, 10) + "\n";
    }
    std::string lines;
    long total = 0;
    for (const char* kind : {"d", "x"}) {
      for (int i = 0;; ++i) {
        std::string segment = name;
        if (kind[0] == 'x' || i > 0) segment += "." + std::string(kind) + std::to_string(i);
        const long size = file_size(path(segment));
        if (size < 0) break;
        lines += "file size:           " + right(size, 10) + " (" + segment + ")\n";
        total += size;
      }
    }
    const long segment_size = field(header(path(name)), version, KF_SEGMENT_SIZE, 4);
    return lines + "total file size:" + right(total, 15) +
           "\nsegment size:        " + right(segment_size, 10) + "\n";
  }

  std::vector<int> tree_heights(const std::string& name) {
    start_library({});
    KFile* file = k5_open(path(name).c_str(), K_MODE_READ, "0,0,0");
    std::vector<int> heights;
    for (int k = 0; file != nullptr && k < file->key_count; ++k) {
      heights.push_back(file->tree_height[k]);
    }
    if (file != nullptr) k5_close(file);
    k5_exit(0);
    return heights;
  }
};

TEST_F(InfoCommand, ReportOfVersions3To5) {
  for (int version = 3; version <= 5; ++version) {
    SCOPED_TRACE("version " + std::to_string(version));
    const std::string name = golden_file(version);
    ASSERT_EQ(tree_heights(name), (std::vector<int>{2, 2, 3}));
    const std::string deleted = version == 5 ? "# of deleted records:         5 (3+2)\n"
                                             : "# of deleted records:         3\n";
    auto r = run({"-info", "-xk", name});
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, name + "  (golden)  [kelvra version " + std::to_string(version) +
                         "]\n\n"
                         "# of records:           1234567\n" +
                         deleted + size_lines(name, version) +
                         "record size:                120\n"
                         "# of keys:                    3\n"
                         "key size:                     8  10:03     30\n"
                         "key offset:                   0      8     40\n"
                         "duplicates okay:              N      Y      Y\n\n"
                         "block size:                 512\n"
                         "blocks per granule:           8\n"
                         "tree height:                  3/2/2.3\n"
                         "# of nodes:                   4\n"
                         "# of deleted nodes:           1\n"
                         "total node space:          2036\n"
                         "node space used:           1000 (49.12%)\n"
                         "user count:                   3\n" +
                         kKeyTable);
    // Without options: the counts, the sizes, the record size and keys, the user count.
    r = run({"-info", name});
    EXPECT_EQ(r.out, name + "  (golden)  [kelvra version " + std::to_string(version) +
                         "]\n\n# of records:           1234567\n" + deleted +
                         size_lines(name, version) +
                         "record size:                120\n"
                         "# of keys:                    3\n"
                         "user count:                   3\n");
  }
}

TEST_F(InfoCommand, ReportOfVersion2) {
  Recipe recipe;
  recipe.version = 2;
  recipe.v2_parameters = "2,0";
  recipe.v2_description = "60,2,8,0,5,8,Y,N,Y,Y,old file";
  make(path("old"), recipe);
  change(path("old"), {.records = 100, .size = 60, .deleted = {3, 4}});
  KHeaderRecord h{};
  ASSERT_EQ(ki_header_from_v2(header(path("old")).data(), &h), 1);
  ASSERT_EQ(h.records, 98u);
  const uint32_t total = 1022 * h.nodes;  // 2-byte node headers in blocks of 1024
  char used[64];
  snprintf(used, sizeof used, "%10u (%.2f%%)", h.node_space_used,
           100.0 * static_cast<float>(h.node_space_used) / static_cast<float>(total));
  auto r = run({"-info", "-x", "old"});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out,
            "old  (old file)  [kelvra version 2]\n\n"
            "# of records:                98\n"
            "# of deleted records:         2\n"
            "file size:           " +
                right(h.end_offset, 10) +
                "\n"
                "record size:                 60 compressed encrypted\n"
                "# of keys:                    2\n"
                "key size:                     8      5\n"
                "key offset:                   0      8\n"
                "duplicates okay:              N      Y\n\n"
                "block size:                1024\n"
                "blocks per granule:           0\n"
                "tree height:           " +
                right(h.tree_height, 8) + "\n# of nodes:          " + right(h.nodes, 10) +
                "\n# of deleted nodes:  " + right(h.deleted_nodes, 10) +
                "\ntotal node space:    " + right(total, 10) + "\nnode space used:     " + used +
                "\nuser count:                   0\n");
}

TEST_F(InfoCommand, TitleAndRecordSizeLine) {
  struct Case {
    const char* comment;
    const char* sizes;
    const char* storage;
    const char* title;
    const char* record_line;
  };
  const Case cases[] = {
      {"", "40,40,1", "1,0,0,0,0", "f  [kelvra version 5]", "record size:                 40\n"},
      {"stock", "60,20,1", "1,0,0,0,0", "f  (stock)  [kelvra version 5]",
       "record size (min/max):       20/60\n"},
      {"", "40,40,1", "1,0,0,1,0", "f  [kelvra version 5]",
       "record size:                 40 compressed\n"},
      {"", "40,40,1", "1,0,0,70,0", "f  [kelvra version 5]",
       "record size:                 40 compressed (70%)\n"},
      {"", "40,40,1", "1,0,0,0,1", "f  [kelvra version 5]",
       "record size:                 40 encrypted\n"},
      {"thirty characters of comment!!", "2000,9,1", "1,0,0,70,1",
       "f  (thirty characters of comment!!)  [kelvra version 5]",
       "record size (min/max):        9/2000 compressed (70%) encrypted\n"},
  };
  for (const Case& c : cases) {
    Recipe recipe;
    recipe.comment = c.comment;
    recipe.sizes = c.sizes;
    recipe.storage = c.storage;
    make(path("f"), recipe);
    auto r = run({"-info", "f"});
    EXPECT_EQ(r.out, std::string(c.title) +
                         "\n\n# of records:                 0\n"
                         "# of deleted records:         0 (0+0)\n" +
                         size_lines("f", 5) + c.record_line +
                         "# of keys:                    1\n"
                         "user count:                   0\n")
        << c.storage;
  }
}

TEST_F(InfoCommand, TreeHeightsAndManySegments) {
  // Heights 2, 3 and 3 average to 2.6, truncated.
  Recipe recipe;
  recipe.sizes = "120,120,3";
  recipe.keys = "1,0,8,0,1,1,30,8,1,1,30,40";
  make(path("h"), recipe);
  change(path("h"), {.records = 300, .size = 120});
  ASSERT_EQ(tree_heights("h"), (std::vector<int>{2, 3, 3}));
  auto r = run({"-info", "-x", "h"});
  EXPECT_NE(r.out.find("\ntree height:                  3/2/2.6\n"), std::string::npos) << r;

  // A key of sixteen segments of 1 byte: 16 bytes in 16 segments, and its row of the key
  // table runs past the six headed columns.
  std::string keys = "1,0,8,0,16,1";
  for (int i = 0; i < 16; ++i) keys += ",1," + std::to_string(70 + i);
  recipe.sizes = "120,120,2";
  recipe.keys = keys;
  make(path("m"), recipe);
  change(path("m"), {.records = 10, .size = 120});
  r = run({"-info", "-x", "-k", "m"});
  EXPECT_NE(r.out.find("\nkey size:                     8  16:16\n"), std::string::npos) << r;
  std::string wide = "  1    Y    ";
  for (int i = 0; i < 16; ++i) {
    std::string cell = "1/" + std::to_string(70 + i);
    wide += cell + std::string(10 - cell.size(), ' ');
  }
  EXPECT_TRUE(r.out.ends_with(wide + "\n")) << r.out;
}

TEST_F(InfoCommand, SeveralFilesPauseAndQuiet) {
  make(path("a"), {});
  make(path("b"), {});
  const std::string a = run({"-info", "a"}).out;
  const std::string b = run({"-info", "b"}).out;
  ASSERT_TRUE(a.starts_with("a  [kelvra version 5]\n")) << a;

  auto r = run({"-info", "a", "b"});
  EXPECT_EQ(r.out, a + "\n\n" + b);
  // The pause names the next file and waits for a line; the first file is not waited for.
  r = run({"-info", "-p", "a", "b"}, {.input = "go on\n"});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, a + "\nNext file = b: \n" + b);
  // At the end of input the pause goes on all the same.
  r = run({"-info", "-p", "a", "b", "a"});
  EXPECT_EQ(r.out, a + "\nNext file = b: \n" + b + "\nNext file = a: \n" + a);
  // Quiet never waits: the run ends where it would.
  r = run({"-info", "-pq", "a", "b"}, {.input = "\n"});
  EXPECT_EQ(r.status, 99);
  EXPECT_EQ(r.out, a + "\n");
  r = run({"-info", "-Q", "-P", "a"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, a);
}

TEST_F(InfoCommand, NamesFromTheConsoleAndOptionWords) {
  make(path("a"), {});
  const std::string a = run({"-info", "a"}).out;
  auto r = run({"-info"}, {.input = "a\r\na\n"});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, a + "\n\n" + a);
  r = run({"-info", "-q"}, {.input = "a\n"});
  EXPECT_EQ(r.status, 99);
  EXPECT_EQ(r.out, "");
  // A lone "-" is an empty option word; later words beginning with "-" are file names.
  r = run({"-info", "-", "a", "-k"});
  EXPECT_EQ(r.out, a + "\n\n");
  EXPECT_EQ(r.err, "-k: file missing: No such file or directory (error 15/2)\n");
  r = run({"-info", "-kz", "a"});
  EXPECT_EQ(r.status, 255);
  EXPECT_TRUE(r.out.starts_with("ixkit -info    [-kpxq] [files]\n")) << r;
}

TEST_F(InfoCommand, FilesThatCannotBeReported) {
  make(path("good"), {});
  write_file(path("text"), "not indexed\n");
  write_file(path("empty"), "");
  std::string noise(4096, '\0');
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 7919 + 17) % 251);
  write_file(path("noise"), noise);
  // A reader holding the file exclusively: the library refuses the open.
  start_library({});
  KFile* held = k5_open(path("good").c_str(), K_MODE_EXCLUSIVE, "0,0,0");
  ASSERT_NE(held, nullptr);
  auto r = run({"-info", "missing", "text", "empty", "noise", "good"});
  k5_close(held);
  k5_exit(0);
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.out, "\n\n\n\n\n\n\n\n");
  EXPECT_EQ(r.err,
            "missing: file missing: No such file or directory (error 15/2)\n"
            "text: not a Kelvra file or an unsupported version (error 13/0)\n"
            "empty: not a Kelvra file or an unsupported version (error 13/0)\n"
            "noise: not a Kelvra file or an unsupported version (error 13/0)\n"
            "good: file locked (error 11/0)\n");
  r = run({"-info", "good"});
  EXPECT_TRUE(r.out.starts_with("good  [kelvra version 5]")) << r;
}

}  // namespace
