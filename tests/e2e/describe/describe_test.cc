// -info and -size reports character for character, and -zero, -note, -augment and -fixvers
// changing exactly the bytes they must, on files of each format version.
#include <unistd.h>

#include <array>
#include <filesystem>
#include <set>
#include <tuple>

#include "kelvra/format.h"
#include "tests/e2e/kelvra_files.h"

namespace {

using namespace e2e;
using namespace kfiles;

std::string right(long value, size_t width) {
  std::string digits = std::to_string(value);
  return std::string(width > digits.size() ? width - digits.size() : 0, ' ') + digits;
}

class Describe : public E2eTest {
 protected:
  // -info's size lines: one per segment file on disk with their total (versions 4 and 5).
  std::string size_lines(const std::string& name, int version) {
    const std::string block = read_file(path(name));
    if (version < 4) return "file size:" + right(field(block, 3, KF_V3_END, 4), 21) + "\n";
    std::string lines;
    long total = 0;
    for (std::string segment : segments(name)) {
      const long size = std::filesystem::file_size(path(segment));
      lines += "file size:" + right(size, 21) + " (" + segment + ")\n";
      total += size;
    }
    return lines + "total file size:" + right(total, 15) +
           "\nsegment size:        " + right(field(block, version, KF_SEGMENT_SIZE, 4), 10) + "\n";
  }
  // The file's segments, in order: NAME, NAME.d1 ..., NAME.x0 ... (fewer than ten of each).
  std::vector<std::string> segments(const std::string& name) {
    std::set<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(scratch())) {
      std::string file = entry.path().filename();
      if (file == name || file.starts_with(name + ".")) found.insert(file);
    }
    return {found.begin(), found.end()};
  }
};

// The report of versions 3 to 5 with -x and -k (several keys, one of three segments), and
// without options the lines it keeps; counts are set in the header to values all shown.
// The record size line shows compression 70 and 1, and variable encrypted records.
TEST_F(Describe, InfoReportOfVersions3To5) {
  // The version, the sizes and storage it is made with, its record size line.
  for (const auto& [version, sizes, storage, record_line] :
       std::vector<std::tuple<int, std::string, std::string, std::string>>{
           {3, "120,120,3", "1,4,8,70,0", ":                120 compressed (70%)\n"},
           {4, "120,120,3", "1,4,8,1,0", ":                120 compressed\n"},
           {5, "120,100,3", "1,4,8,0,1", " (min/max):      100/120 encrypted\n"}}) {
    SCOPED_TRACE(version);
    const std::string name = "g" + std::to_string(version);
    make(path(name),
         {.sizes = sizes,
          .keys = "1,0,8,0,3,1,4,8,4,20,2,30,1,1,30,40",
          .version = version,
          .storage = storage,
          .comment = "golden",
          .segment_size = 8192},
         records_up_to(300, 120));
    std::string block = read_file(path(name)).substr(0, 512);
    const int node_width = version == 5 ? 4 : 2;
    put_field(block, version, KF_RECORDS, 4, 1234567);
    put_field(block, version, KF_DELETED, 4, 3);
    if (version == 5) put_field(block, version, KF_ABANDONED, 4, 2);
    put_field(block, version, KF_NODES, node_width, 4);
    put_field(block, version, KF_DELETED_NODES, node_width, 1);
    put_field(block, version, KF_NODE_SPACE, 4, 1000, version == 5 ? 2 : 0);
    put_field(block, version, KF_USER_COUNT, 2, 3);
    patch(path(name), 0, block);
    const std::string head = name + "  (golden)  [kelvra version " + std::to_string(version) +
                             "]\n\n# of records:           1234567\n# of deleted records:  " +
                             (version == 5 ? "       5 (3+2)\n" : "       3\n") +
                             size_lines(name, version) + "record size" + record_line +
                             "# of keys:                    3\n";
    EXPECT_EQ(said(run({"-info", "-xk", name})),
              "0 [" + head +
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
                  "user count:                   3\n\n"
                  "Key  Dups    Seg-1     Seg-2     Seg-3     Seg-4     Seg-5     Seg-6\n"
                  "            (sz/of)   (sz/of)   (sz/of)   (sz/of)   (sz/of)   (sz/of)\n\n"
                  "  0    N    8/0       \n"
                  "  1    Y    4/8       4/20      2/30      \n"
                  "  2    Y    30/40     \n][]");
    EXPECT_EQ(run({"-info", name}).out, head + "user count:                   3\n");
  }
}

// Version 2: one file size, flags after the record size, blocks of 1024 bytes, no granules,
// one tree height.
TEST_F(Describe, InfoReportOfVersion2) {
  make(path("old"),
       {.version = 2, .v2_parameters = "2,0", .v2_description = "60,2,8,0,5,8,Y,N,Y,Y,old file"});
  edit(path("old"), records_up_to(100, 60), {record(3, 60), record(4, 60)});
  KHeaderRecord h{};
  ASSERT_EQ(ki_header_from_v2(read_file(path("old")).data(), &h), 1);
  char expected[1024];
  snprintf(expected, sizeof expected,
           "old  (old file)  [kelvra version 2]\n\n"
           "# of records:                98\n"
           "# of deleted records:         2\n"
           "file size:%21u\n"
           "record size:                 60 compressed encrypted\n"
           "# of keys:                    2\n"
           "key size:                     8      5\n"
           "key offset:                   0      8\n"
           "duplicates okay:              N      Y\n\n"
           "block size:                1024\n"
           "blocks per granule:           0\n"
           "tree height:%19u\n# of nodes:%20u\n# of deleted nodes:%12u\ntotal node space:%14u\n"
           "node space used:%15u (%.2f%%)\nuser count:                   0\n",
           h.end_offset, h.tree_height, h.nodes, h.deleted_nodes, 1022 * h.nodes, h.node_space_used,
           100.0 * static_cast<float>(h.node_space_used) / static_cast<float>(1022 * h.nodes));
  EXPECT_EQ(said(run({"-info", "-x", "old"})), "0 [" + std::string(expected) + "][]");
}

// Tree heights average to one decimal, cut off (2, 3, 3, 3 give 2.7).
TEST_F(Describe, InfoTreeHeightsAreCutOff) {
  make(path("h"),
       {.sizes = "120,120,4",
        .keys = "1,0,8,0,1,1,30,8,1,1,30,40,1,1,16,70",
        .storage = "1,0,0,0,0"},
       records_up_to(300, 120));
  EXPECT_NE(run({"-info", "-x", "h"}).out.find("\ntree height:                  3/2/2.7\n"),
            std::string::npos);
}

// Several files in one run, the pause before each later file (also at the end of input),
// quiet that never waits, names read from the console.
TEST_F(Describe, InfoOfSeveralFiles) {
  for (const char* name : {"a", "b"}) make(path(name), {});
  const std::string a = run({"-info", "a"}).out, b = run({"-info", "b"}).out;
  ASSERT_TRUE(a.starts_with("a  [kelvra version 5]\n")) << a;
  EXPECT_EQ(run({"-info", "a", "b"}).out, a + "\n\n" + b);
  EXPECT_EQ(run({"-info", "-p", "a", "b", "a"}, {.input = "go on\n"}).out,
            a + "\nNext file = b: \n" + b + "\nNext file = a: \n" + a);
  EXPECT_EQ(said(run({"-info", "-pq", "a", "b"}, {.input = "\n"})), "99 [" + a + "\n][]");
  EXPECT_EQ(run({"-info", "-Q", "-P", "a"}).out, a);
  EXPECT_EQ(run({"-info"}, {.input = "a\r\nb\n"}).out, a + "\n\n" + b);
  EXPECT_EQ(run({"-info", "-q"}, {.input = "a\n"}).status, 99);
}

// Files that cannot be opened or read: the library's words and the status each command
// ends with; no crash and no change on an empty or a random 4 KiB file.
TEST_F(Describe, FilesThatCannotBeUsed) {
  std::string noise(4096, '\0');
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 7919 + 17) % 251);
  make(path("good"), {});
  write_file(path("text"), "not indexed\n");
  write_file(path("empty"), "");
  write_file(path("noise"), noise);
  const std::string refused = ": not a Kelvra file or an unsupported version (error 13/0)\n";
  RunResult r;
  {
    Library library;
    KFile* held = k5_open(path("good").c_str(), K_MODE_EXCLUSIVE, "0,0,0");
    r = run({"-info", "missing", "text", "empty", "noise", "good"});
    k5_close(held);
  }
  EXPECT_EQ(said(r), "0 [" + std::string(8, '\n') +
                         "][missing: file missing: No such file or directory (error 15/2)\ntext" +
                         refused + "empty" + refused + "noise" + refused +
                         "good: file locked (error 11/0)\n]");
  for (std::vector<std::string> line : std::vector<std::vector<std::string>>{
           {"-zero"}, {"-fixvers"}, {"-note", "text"}, {"-augment", "100"}, {"-tree"}}) {
    line.insert(line.end(), {"noise", "empty"});
    EXPECT_EQ(said(run(line)),
              "0 [][noise" + refused + (line[0] == "-tree" ? "" : "empty" + refused) + "]");
    EXPECT_TRUE(file_holds(path("empty"), "") && file_holds(path("noise"), noise));
  }
  EXPECT_EQ(said(run(words("-size text empty noise missing"))),
            "0 [File                               size   # recs  # empty   % used\n\n][]");
  EXPECT_EQ(run({"-tree"}).err, "ixkit -tree: no file name given\n");
  EXPECT_EQ(run({"-tree", "-q", "good"}).out, "File tree printed in 'k_tree'\n");
}

// -size: its columns, the used share (version 5 counts the deleted chain only, version 2
// adds its free records), long names, and non-Kelvra files shown only with n.
TEST_F(Describe, SizeReport) {
  const std::string long_name = "a-name-of-forty-characters-for-the-table";
  std::vector<std::string> all = records_up_to(100);
  make(path("ninety"), {}, all, std::vector<std::string>(all.begin(), all.begin() + 10));
  make(path("moved"), {.sizes = "60,20,1"});
  all = records_up_to(10, 20);
  edit(path("moved"), all, {all[1], all[2], all[3]}, {record(5, 60), record(6, 60)});
  make(path(long_name), {.version = 3}, records_up_to(3), {record(1)});
  make(path("old"), {.version = 2}, records_up_to(5), {record(4)});
  patch(path("old"), K_offsets[2][KF_V2_FREE_RECORDS], std::string("\5\0\0\0", 4));
  write_file(path("text"), "a text file, long enough to be more than nothing\n");
  KHeaderRecord h{};
  ki_header_from_v2(read_file(path("old")).data(), &h);
  // A line of the table: the name in 30 columns (or more), the end of its data, the counts.
  auto row = [&](std::string name, long end, const std::string& counts) {
    return name.append(name.size() < 30 ? 30 - name.size() : 0, ' ') + right(end, 9) + counts;
  };
  auto end = [&](const std::string& name, int v) {
    return field(read_file(path(name)), v, v == 3 ? KF_V3_END : KF_END_OFFSET, 4);
  };
  EXPECT_EQ(said(run({"-size", "-n", "ninety", "moved", long_name, "old", "text", "missing"})),
            "0 [File                               size   # recs  # empty   % used\n\n" +
                row("ninety", end("ninety", 5), "       90       10      90%\n") +
                row("moved", end("moved", 5), "        7        3      70%\n") +
                row(long_name, end(long_name, 3), "        2        1      66%\n") +
                row("old", h.end_offset, "        4        6      40%\n") +
                "text: not a Kelvra file\nmissing: not a Kelvra file\n][]");
  EXPECT_EQ(run({"-size", "-q"}, {.input = "old\n"}).status, 99);
  // The share is worked out in signed 32-bit integers: past 21474836 records the product
  // wraps, and so can the quotient (-2147483648 / -1); a sum that wraps to 0 gives 0.
  for (const auto& [records, empty, share] :
       std::vector<std::tuple<uint32_t, uint32_t, long>>{{21474836, 1, 99},
                                                         {30000000, 10, -43},
                                                         {536870912, 3758096383u, -2147483648L},
                                                         {4294967286u, 10, 0}}) {
    set_field(path("ninety"), 5, KF_RECORDS, 4, records);
    set_field(path("ninety"), 5, KF_DELETED, 4, empty);
    EXPECT_EQ(said(run({"-size", "ninety"})),
              "0 [File                               size   # recs  # empty   % used\n\n" +
                  row("ninety", end("ninety", 5), right(records, 9) + right(empty, 9)) +
                  right(share, 8) + "%\n][]");
  }
}

// -zero, -note and -augment change only their own header bytes, in each version: the user
// count, 30 characters of comment (an empty word clears them), the maximum record size
// (version 2 also marks its records variable, and unmarks them back at the minimum).
TEST_F(Describe, HeaderEditsChangeOnlyTheirBytes) {
  for (int version = 2; version <= 5; ++version) {
    SCOPED_TRACE(version);
    const std::string name = path("v" + std::to_string(version)),
                      min = version == 2 ? "40,1" : "20,1";
    make(name, {.sizes = "40,20,1", .version = version}, records_up_to(20));
    const int users = version == 2 ? 126 : K_offsets[version][KF_USER_COUNT];
    const int comment = version == 2 ? 248 : K_offsets[version][KF_COMMENT];
    const std::vector<int> sizes =
        version == 2 ? std::vector<int>{162, 163, 244}
                     : span(K_offsets[version][KF_MAX_RECORD] + (version == 5 ? 2 : 0), 2);
    patch(name, users, version == 2 ? "\3\1" : "\1\3");
    // Runs the words, then compares the bytes changed and a description text of the file.
    auto step = [&](const std::vector<std::string>& words, const std::vector<int>& changed,
                    int code, const std::string& text) {
      const std::string before = read_file(name);
      EXPECT_EQ(run(words).status, 0) << words[0];
      EXPECT_EQ(differences(before, read_file(name)), changed) << words[0];
      EXPECT_EQ(info(name, code), text) << words[0];
    };
    step({"-zero", name}, span(users, 2), -3, "");
    step({"-note", "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789", name}, span(comment, 30), -3,
         "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123");
    step({"-note", "-q", "", name}, span(comment, 30), -3, "");
    step({"-augment", "1000", name}, sizes, -1, "1000," + min);
    step({"-augment", "40", name}, sizes, -1, "40," + min);
    EXPECT_EQ(read_file(name).substr(users, 2), std::string(2, '\0'));
  }
}

// -augment: a caution below the current maximum, an error below the minimum (the run ends,
// later files untouched), the range 1 to 67108864, and what a version's header holds (the
// file is left, the next one done).
TEST_F(Describe, AugmentLimits) {
  make(path("five"), {.sizes = "200,100,1"});
  make(path("four"), {.version = 4});
  const std::string four = read_file(path("four")),
                    range = "Error: new max record size is out of range\n";
  // The words after -augment, the outcome, the sizes of "five" after it.
  for (const auto& [line, outcome, sizes] : std::vector<std::array<std::string, 3>>{
           {"150 five",
            "0 [Caution: new max record size (150) < current max record size (200)\n][]",
            "150,100,1"},
           {"50 five four",
            "255 [Error: new max record size (50) < current min record size (100)\n][]",
            "150,100,1"},
           {"0 five", "255 [" + range + "][]", "150,100,1"},
           {"67108865 five", "255 [" + range + "][]", "150,100,1"},
           {"32768 four five",
            "255 [][four: new max record size (32768) is above the largest of a version 4 file "
            "(32767); file not changed\n]",
            "32768,100,1"},
           {"67108864 five", "0 [][]", "67108864,100,1"}}) {
    EXPECT_EQ(said(run(words("-augment " + line))), outcome);
    EXPECT_EQ(info(path("five"), -1), sizes) << line;
    EXPECT_TRUE(file_holds(path("four"), four));
  }
  EXPECT_EQ(run({"-augment", "32767", "four"}).status, 0);
  EXPECT_EQ(info(path("four"), -1), "32767,40,1");
  EXPECT_EQ(run({"-augment", "-q"}).status, 255);
}

// -fixvers writes the stamp only into the segments whose stamp differs (the others keep
// their bytes and times), nothing for versions 2 and 3, and says when a segment is too short.
TEST_F(Describe, Fixvers) {
  const std::filesystem::file_time_type long_ago{};
  for (int version = 2; version <= 5; ++version) {
    SCOPED_TRACE(version);
    const std::string name = "s" + std::to_string(version);
    make(path(name), {.version = version, .segment_size = 4096}, records_up_to(400));
    const std::vector<std::string> all = segments(name);
    ASSERT_EQ(all.size() >= 5, version >= 4);
    std::vector<std::string> expected;
    for (const std::string& s : all) {
      const int place = s == name + ".d1" ? KF_DATA_STAMP : s == name + ".x1" ? KF_INDEX_STAMP : 0;
      expected.push_back(read_file(path(s)));
      if (place) {
        patch(path(s), K_offsets[version][place], "\xde\xad\xbe\xef");
        expected.back().replace(K_offsets[version][place], 4,
                                read_file(path(name)).substr(K_offsets[version][KF_STAMP], 4));
      }
      std::filesystem::last_write_time(path(s), long_ago);
    }
    EXPECT_EQ(info(path(name), -1), version >= 4 ? "(refused)" : "40,40,1");
    EXPECT_EQ(said(run({"-fixvers", name})), "0 [][]");
    for (size_t i = 0; i < all.size(); ++i) {
      EXPECT_EQ(std::filesystem::last_write_time(path(all[i])) == long_ago,
                all[i] != name + ".d1" && all[i] != name + ".x1");
      EXPECT_TRUE(file_holds(path(all[i]), expected[i]));
    }
    EXPECT_EQ(info(path(name), -1), "40,40,1");
  }
  patch(path("s5.d1"), K_offsets[5][KF_DATA_STAMP], std::string(4, '\0'));
  ASSERT_EQ(truncate(path("s5.x1").c_str(), 100), 0);
  EXPECT_EQ(said(run({"-fixvers", "s5"})),
            "255 [][s5.x1: cannot update the header: fewer than 512 bytes could be read\n]");
  EXPECT_EQ(std::filesystem::file_size(path("s5.x1")), 100u);
}

}  // namespace
