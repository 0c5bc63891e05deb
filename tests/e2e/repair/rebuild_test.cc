// -rebuild of sound and damaged files: every live record comes back, in a new file that checks
// sound, with the description the options ask for.
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <sstream>

#include "tests/e2e/repair/repair_fixture.h"

namespace {

using namespace e2e;
using namespace kfiles;

// A run's outcome with each temporary file name (K, process number, "_", serial) as TEMP.
std::string outcome(const RunResult& r) {
  std::string text = said(r);
  const char* digits = "0123456789";
  for (size_t k = text.find('K'); k != std::string::npos; k = text.find('K', k + 1)) {
    const size_t bar = text.find_first_not_of(digits, k + 1);
    if (bar == k + 1 || bar == std::string::npos || text[bar] != '_') continue;
    const size_t end = text.find_first_not_of(digits, bar + 1);
    if (end != bar + 1) text.replace(k, end - k, "TEMP");
  }
  return text;
}

class Rebuild : public RepairTest {
 protected:
  // The records of a file in the order of key 0; those of key 1 sorted, and the key values
  // in key 1's order (equal values keep the order they were written in, which a rebuild
  // that reads the record area need not keep).
  std::vector<std::vector<std::string>> contents(const std::string& name) {
    std::vector<std::string> by_key1 = records(name, 1), values;
    for (const std::string& r : by_key1) values.push_back(r.substr(8, 5));
    std::sort(by_key1.begin(), by_key1.end());
    return {records(name, 0), by_key1, values};
  }
  // The names in the scratch directory, in order.
  std::vector<std::string> listing() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(scratch())) {
      names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  // The names of file f's own segments.
  std::vector<std::string> segments_of_f() {
    std::vector<std::string> names;
    for (const std::string& n : listing()) {
      if (n == "f" || n.starts_with("f.d") || n.starts_with("f.x")) names.push_back(n);
    }
    return names;
  }
};

// Sound files of every version and storage: all live records, nothing else, a new file that
// checks sound, the same description (an encrypted file comes back plain without +e), and
// no temporary file left.
TEST_F(Rebuild, CleanRebuildOfEveryKind) {
  for (const FileKind& k : kFileKinds) {
    SCOPED_TRACE(std::to_string(k.version) + " " + k.storage);
    make_file(k);
    const auto before = contents(f_);
    std::string description = describe(f_);
    if (k.storage.ends_with(",1")) description.replace(description.find(",1|"), 2, ",0");
    const std::string live = std::to_string(k.n - k.deleted);
    EXPECT_EQ(outcome(run({"-rebuild", "-a", "f"})),
              "0 [Input = f, Output = TEMP, " + live + " records\nRebuilding...\n" + kLine + live +
                  " records recovered, " + std::to_string(k.deleted) +
                  " deleted records removed\n" + "Renaming temporary file...\n][]");
    EXPECT_EQ(contents(f_), before);
    EXPECT_EQ(describe(f_), description);
    EXPECT_EQ(check().status, 0);
    EXPECT_EQ(segments_of_f(), listing());  // nothing but the file
  }
}

// Records of their own lengths, compressed or not, come back with those lengths.
TEST_F(Rebuild, VariableRecords) {
  for (const auto& [version, storage] : std::vector<std::pair<int, std::string>>{
           {3, "0,0,0,1,0"}, {4, "0,0,0,0,1"}, {5, "0,0,0,1,1"}}) {
    SCOPED_TRACE(version);
    std::vector<std::string> all;
    for (uint32_t i = 0; i < 200; ++i) all.push_back(record(i, 10 + i * 37 % 491, i % 3 == 0));
    make(f_, {.sizes = "500,10,1", .version = version, .storage = storage}, all,
         {all[7], all[100]});
    const auto before = records(f_);
    auto r = run({"-rebuild", "-a", "f"});
    EXPECT_TRUE(ended(r, 0,
                      "\n198 records recovered, 2 deleted records removed\n"
                      "Renaming temporary file...\n"));
    EXPECT_EQ(records(f_), before);
    EXPECT_EQ(check().status, 0);
  }
}

// Reading by a key: the records in that key's order, with a damaged record skipped and
// counted.
TEST_F(Rebuild, ReadByKey) {
  make_file(5, 300, 20, 0, "0,0,0,0,0");
  const auto before = contents(f_);
  auto r = run({"-rebuild", "-a", "-k", "1", "f"});
  EXPECT_EQ(outcome(r), "0 [Input = f, Output = TEMP, 280 records\nRebuilding...\n" + kLine +
                            "280 records recovered, 0 broken records skipped\n"
                            "Renaming temporary file...\n][]");
  EXPECT_EQ(contents(f_), before);
  // A record that no longer carries the key that points at it.
  patch(f_, record_at(100, 15), "X");
  r = run({"-rebuild", "-aa", "-k", "0", "f"});
  EXPECT_TRUE(ended(r, 2,
                    "279 records recovered, 1 broken records skipped\n"
                    "Warning: 1 records lost!\nRenaming temporary file...\n"));
  EXPECT_EQ(records(f_).size(), 279u);
  EXPECT_EQ(check().status, 0);
}

// Multi-segment files of versions 4 and 5 keep their segment size (the same data segments;
// the index, built afresh, may take fewer), unless the configuration names another.
TEST_F(Rebuild, SegmentsComeBack) {
  auto data_segments = [&] {
    std::vector<std::string> names = segments_of_f();
    std::erase_if(names, [](const std::string& n) { return n.starts_with("f.x"); });
    return names;
  };
  for (int version : {4, 5}) {
    make_file(version, 400, 0, 0, "0,0,0,0,0", 4096);
    const auto names = data_segments();
    ASSERT_GE(names.size(), 4u);
    ASSERT_EQ(run({"-rebuild", "-a", "f"}).status, 0);
    EXPECT_EQ(data_segments(), names);
    EXPECT_EQ(field(read_file(f_), version, KF_SEGMENT_SIZE, 4), 4096u);
    EXPECT_EQ(listing(), segments_of_f());
  }
  ASSERT_EQ(run({"-rebuild", "-a", "f"}, {.env = {{"K_SEGMENT_SIZE", "65536"}}}).status, 0);
  EXPECT_EQ(data_segments(), std::vector<std::string>{"f"});
  EXPECT_EQ(field(read_file(f_), 5, KF_SEGMENT_SIZE, 4), 65536u);
  EXPECT_EQ(check().status, 0);
}

// Options that change the new file: format version, blocking factor, compression and
// encryption show in -info, and the records stay the same.
TEST_F(Rebuild, OptionsChangeTheNewFile) {
  struct Case {
    int version;
    std::string storage, options, shown, gone;
  };
  for (const Case& c : std::vector<Case>{
           {5, "0,0,0,0,0", "-3", "[kelvra version 3]", "[kelvra version 5]"},
           {5, "0,0,0,1,0", "-2", "[kelvra version 2]", "[kelvra version 5]"},
           {3, "0,0,0,0,0", "-4", "[kelvra version 4]", "[kelvra version 3]"},
           {2, "", "-5", "[kelvra version 5]", "[kelvra version 2]"},
           {5, "1,0,0,0,0", "-b 2", "block size:                1024",
            "block size:                 512"},
           {5, "0,0,0,1,0", "-c", "record size:", " compressed"},
           {5, "0,0,0,0,0", "+c", " compressed\n", "(40%)"},
           {5, "0,0,0,1,0", "-f 40", " compressed (40%)", "encrypted"},
           {5, "0,0,0,0,0", "+e", " encrypted", " compressed"},
           {3, "0,0,0,0,1", "-e", "record size:", "encrypted"},
           {4, "0,0,0,0,1", "+e", " encrypted", " compressed"},
       }) {
    SCOPED_TRACE(std::to_string(c.version) + " " + c.options);
    make_file(c.version, 200, 10, 0, c.storage);
    const auto before = contents(f_);
    auto r = run(words("-rebuild -a " + c.options + " f"));
    ASSERT_EQ(r.status, 0) << r;
    const std::string info = run({"-info", "-x", "f"}).out;
    EXPECT_NE(info.find(c.shown), std::string::npos) << info;
    EXPECT_EQ(info.find(c.gone), std::string::npos) << info;
    EXPECT_EQ(contents(f_), before);
    EXPECT_EQ(check().status, 0);
  }
}

// Damaged files: every record that can still be read comes back, with the counts and
// warnings of the copy, status 2 when records were lost, and a new file that checks sound.
TEST_F(Rebuild, DamagedFiles) {
  struct Case {
    std::string label;
    std::function<void()> damage;
    std::string said;  // the outcome
    size_t recovered;  // records in the new file
  };
  const std::vector<Case> cases = {
      {"a record too short", [&] { patch(f_, record_at(5, 4), be32(20)); },
       "2 [Input = f, Output = TEMP, 280 records\nRebuilding...\n" +
           kLine.substr(0, kLine.size() - 1) +
           "\n279 records recovered, 20 deleted records removed, 1 broken records skipped\n"
           "Warning: 1 records lost!\nRenaming temporary file...\n][]",
       279},
      {"a broken record header", [&] { patch(f_, record_at(100), be32(0x7fffffff)); },
       // 80 live and 20 deleted records before it; the line goes on while indexes are built.
       "2 [Input = f, Output = TEMP, 280 records\nRebuilding...\n....\n"
       "Chain of records is broken!\n" +
           kLine.substr(4) +
           "80 records recovered, 20 deleted records removed\n"
           "Warning: 200 records lost!\nRenaming temporary file...\n][]",
       80},
      {"index nodes overwritten", [&] { overwrite_index_nodes(); },
       "0 [Input = f, Output = TEMP, 280 records\nRebuilding...\n" + kLine +
           "280 records recovered, 20 deleted records removed\nRenaming temporary file...\n][]",
       280},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    make_file(5, 300, 20, 0, "0,0,0,0,0");
    const auto before = records(f_);
    c.damage();
    const auto r = run({"-rebuild", "-aa", "f"});
    EXPECT_EQ(outcome(r), c.said);
    const auto after = records(f_);
    EXPECT_EQ(after.size(), c.recovered);
    EXPECT_TRUE(std::includes(before.begin(), before.end(), after.begin(), after.end()));
    EXPECT_EQ(check().status, 0);
  }
}

// Version 3 keeps its records in a chain of blocks: a link into nowhere ends the copy with
// the records before it.
TEST_F(Rebuild, BrokenBlockChain) {
  make_file(3, 300, 0, 0, "1,0,0,0,0");
  const std::string block = read_file(f_).substr(0, 512);
  const long first = field(block, 3, KF_FIRST_RECORD, 4);
  patch(f_, first + 4 * 512 + 508, be32(0x00fffffe));
  const auto r = run({"-rebuild", "-aa", "f"});
  EXPECT_EQ(r.status, 2) << r;
  EXPECT_NE(r.out.find("\nChain of records is broken!\n"), std::string::npos) << r;
  EXPECT_NE(r.out.find("Warning: "), std::string::npos) << r;
  const size_t kept = records(f_).size();
  EXPECT_GT(kept, 30u);
  EXPECT_LT(kept, 300u);
  EXPECT_EQ(check().status, 0);
}

// A missing further data segment: the copy cannot go on and the file is given up, with the
// source as it was and no temporary file left.
TEST_F(Rebuild, MissingSegmentGivesUp) {
  make_file(5, 400, 0, 0, "0,0,0,0,0", 4096);
  ASSERT_EQ(unlink(ki_segment_name(f_.c_str(), K_SEGMENT_DATA, 1)), 0);
  const auto names = listing();
  const std::string bytes = read_file(f_);
  const auto r = run({"-rebuild", "-aa", "f"});
  EXPECT_EQ(r.status, 255) << r;
  EXPECT_EQ(r.err, "f.d1: No such file or directory\n");
  EXPECT_EQ(read_file(f_), bytes);
  EXPECT_EQ(listing(), names);
}

// Reading by key through a broken leaf: the library's reason, then the records from the
// highest key backward until the break; the records of the broken leaf are lost.
TEST_F(Rebuild, BrokenKeyChainReadsFromTheEnd) {
  make_file(5, 1000, 0, 0, "1,0,0,0,0");
  ASSERT_EQ(run({"-tree", "f"}).status, 0);
  // The leaves of key 1 as the dump lists them: "  node N: level 0, E entries".
  const std::string tree = read_file(path("k_tree"));
  std::vector<std::pair<long, long>> leaves;
  std::istringstream lines(tree.substr(tree.find("key 1:")));
  for (std::string line; std::getline(lines, line);) {
    long node, entries;
    if (sscanf(line.c_str(), "  node %ld: level 0, %ld entries", &node, &entries) == 2) {
      leaves.emplace_back(node, entries);
    }
  }
  ASSERT_GE(leaves.size(), 5u);
  const auto [leaf, entries] = leaves[leaves.size() / 2];
  patch(index_of_f(), 512 + (leaf - 1) * 512, std::string(16, '\x77'));

  const auto r = run({"-rebuild", "-aa", "-k", "1", "f"});
  EXPECT_EQ(r.status, 2) << r;
  const std::string lost = std::to_string(entries);
  EXPECT_NE(r.out.find("\nTrying to read from end...\n"), std::string::npos) << r;
  EXPECT_NE(r.out.find(std::to_string(1000 - entries) +
                       " records recovered, 0 broken records skipped\nWarning: " + lost +
                       " records lost!\n"),
            std::string::npos)
      << r;
  EXPECT_EQ(r.err, "f: damaged file (error 6/10)\nf: damaged file (error 6/10)\n");
  EXPECT_EQ(records(f_).size(), static_cast<size_t>(1000 - entries));
  EXPECT_EQ(check().status, 0);
}

}  // namespace
