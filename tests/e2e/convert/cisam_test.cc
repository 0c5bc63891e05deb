// C-ISAM files: the limits a Kelvra file sets, the data file's forms, and damaged files.
#include "tests/e2e/convert/convert_files.h"

namespace {

using namespace e2e;
using namespace cfiles;
using foreign::CisamKey;
using foreign::CisamLayout;

const std::string kWord = "Header word : fe530202\n";

class Cisam : public E2eTest {
 protected:
  // Converts c; the run's outcome.
  std::string convert(const std::string& options = "-a") {
    return said(run(words("-convert " + options + " c")));
  }
  // Nothing but the foreign files is left in the directory.
  void nothing_made(const std::string& label) {
    EXPECT_EQ(names_in(scratch()), (std::vector<std::string>{"c.dat", "c.idx"})) << label;
  }
};

// count parts from byte 7 on, where the records' keys begin to differ.
CisamKey parts(int count, uint16_t length = 1) {
  CisamKey key;
  for (int i = 0; i < count; ++i) key.parts.push_back({length, static_cast<uint16_t>(7 + i)});
  return key;
}

// Each limit in its turn: a file beyond it is refused with its message and nothing is made;
// one at the limit is converted.
TEST_F(Cisam, Limits) {
  struct Case {
    std::string label, options;
    CisamLayout layout;
    std::string message;  // empty: converted
  };
  const CisamKey key8 = {.parts = {{8, 0}}};
  const Case cases[] = {
      {"record 32768",
       "-a",
       {.record_length = 32768, .keys = {key8}},
       "c: record or block size too large\n"},
      {"node 32768",
       "-a",
       {.keys = {key8}, .node_size = 32768},
       "c: record or block size too large\n"},
      {"121 keys", "-a", {.keys = {key8}, .declared_keys = 121}, "c: too many keys (120 max)\n"},
      {"7 parts", "-a", {.keys = {parts(7)}}, "c: too many segments (6 max)\n"},
      {"7 parts, -4", "-a4", {.keys = {parts(7)}}, ""},
      {"7 parts, -3", "-a3", {.keys = {parts(7)}}, "c: too many segments (6 max)\n"},
      {"16 parts, -5", "-a5", {.keys = {parts(16)}}, ""},
      {"17 parts, -5", "-a5", {.keys = {parts(17)}}, "c: too many segments (16 max)\n"},
      {"primary duplicates",
       "-a",
       {.keys = {{.parts = {{8, 0}}, .duplicates = true}}},
       "Primary key allows duplicates!\n"},
      {"250 bytes", "-a", {.record_length = 300, .keys = {parts(2, 125)}}, ""},
      {"251 bytes",
       "-a",
       {.record_length = 300, .keys = {{.parts = {{200, 0}, {51, 200}}}}},
       "c: key too large (250 bytes max)\n"},
      {"2 of 3 keys",
       "-a",
       {.keys = {key8, key8}, .declared_keys = 3},
       "c: Key mismatch.  Found 2, should have 3\n"},
      {"type 3",
       "-a",
       {.keys = {{.parts = {{8, 0, 3}}}}},
       "Warning: Unsupported data type detected in key, (type = 3)\n"},
      {"type -1", "-a", {.keys = {{.parts = {{8, 0, -1}}}}}, ""},
  };
  for (const Case& c : cases) {
    empty_directory(scratch());
    std::vector<std::string> records;
    for (uint32_t i = 0; i < 5; ++i) records.push_back(kfiles::record(i, c.layout.record_length));
    write_cisam(path("c"), c.layout, records);
    const bool refused = !c.message.empty() && !c.message.starts_with("Warning");
    EXPECT_EQ(convert(c.options), "0 [" + kWord + c.message +
                                      (refused ? "" : "Converting CISAM file c...5 records\n") +
                                      "][]")
        << c.label;
    if (refused) nothing_made(c.label);
    if (!refused) {
      EXPECT_EQ(sorted_records(path("c.kvl"), 0), records) << c.label;
    }
  }
}

// The data file under the name itself, deleted slots left out, the bytes after the last whole
// slot ignored, and key descriptions spread over a chain of nodes.
TEST_F(Cisam, DataFileAndKeyChain) {
  CisamLayout layout = cisam_layout();
  layout.keys.push_back({.parts = {{2, 38}, {3, 13}}, .duplicates = true});
  layout.keys_per_node = 1;
  const auto records = kfiles::records_up_to(300);
  write_cisam(path("c"), layout, records, {kfiles::record(900), kfiles::record(901)}, false);
  write_file(path("c"), read_file(path("c")) + "partial slot");
  EXPECT_EQ(convert(), "0 [" + kWord + "Converting CISAM file c...300 records\n][]");
  for (int k = 0; k < 3; ++k) {
    EXPECT_TRUE(sorted_records(path("c.kvl"), k) == records) << k;
    EXPECT_TRUE(in_key_order(path("c.kvl"), k)) << k;
  }
  EXPECT_EQ(kfiles::info(path("c.kvl"), 2), "02,1,002,0000000038,003,0000000013");
}

// Damaged index files end with a message naming the file, and nothing is made.
TEST_F(Cisam, DamagedFiles) {
  const std::string sound = foreign::cisam_index(cisam_layout());
  auto patched = [&](size_t at, const std::string& bytes) {
    return std::string(sound).replace(at, bytes.size(), bytes);
  };
  using foreign::be16;
  using foreign::be32;
  const std::string out_of_index = "c: key description node out of the index file\n";
  const std::string description = "c: key description out of its node\n";
  for (const auto& [label, index, message] : std::vector<std::array<std::string, 3>>{
           {"truncated", sound.substr(0, 100), out_of_index},
           {"first node 0", patched(15, be32(0)), out_of_index},
           {"first node far away", patched(15, be32(0xFFFFFFFF)), out_of_index},
           {"node size 6", patched(6, be16(5)), out_of_index},
           {"chain loops", patched(1024 + 2, be32(2)),
            "c: key description chain out of the index file or looping\n"},
           {"chain leaves the file", patched(1024 + 2, be32(1000)),
            "c: key description chain out of the index file or looping\n"},
           {"used count past the node", patched(1024, be16(0xFFFF)), description},
           {"description of 3 bytes", patched(1024 + 6, be16(3)), description},
           {"description past the used bytes", patched(1024 + 6, be16(40)), description},
           {"a part cut short", patched(1024 + 6, be16(14)),
            "c: key part out of its key description\n"},
           {"part outside the record", patched(1024 + 6 + 9, be16(38)),
            "c: keys or record sizes out of range\n"},
           {"record length 0", patched(13, be16(0)), "c: keys or record sizes out of range\n"},
       }) {
    write_file(path("c.idx"), index);
    write_file(path("c.dat"), foreign::cisam_slot(kfiles::record(1), 40, true));
    const std::string word = index.size() >= 4 ? kWord : "";
    EXPECT_EQ(convert(), "0 [" + word + message + "][]") << label;
    nothing_made(label);
  }
}

}  // namespace
