// Tolvane files: records of their own lengths in primary-key order, trees of several levels,
// 2- and 4-byte record headers, chains of key information blocks, the limits of a Kelvra
// file, and damaged indexes and data files.
#include <random>

#include "tests/e2e/convert/convert_files.h"

namespace {

using namespace e2e;
using namespace cfiles;
using foreign::be16;
using foreign::be32;
using foreign::TolvaneKey;
using foreign::TolvaneLayout;

const std::string kWord = "Header word : 32000000\n";

class Tolvane : public E2eTest {
 protected:
  std::string convert(const std::string& options = "-a") {
    return said(run(words("-convert " + options + " t")));
  }
  std::string converting(long count) {
    return "Converting Tolvane file t..." + std::to_string(count) + " records\n";
  }
};

// n records from 13 to max bytes (or all of max bytes when fixed), in shuffled order.
std::vector<std::string> records(uint32_t n, uint32_t max, bool fixed) {
  std::vector<std::string> all;
  for (uint32_t i = 0; i < n; ++i) {
    all.push_back(kfiles::record(i, fixed ? max : 13 + (i * 7919u) % (max - 12)));
  }
  std::shuffle(all.begin(), all.end(), std::mt19937(n));
  return all;
}

// The records as the primary key orders them: by key value, equal ones in file order.
std::vector<std::string> in_primary_order(const TolvaneLayout& l) {
  std::vector<std::string> r = l.records;
  std::stable_sort(r.begin(), r.end(), [&](const std::string& a, const std::string& b) {
    return foreign::key_value(a, l.keys[0].components) <
           foreign::key_value(b, l.keys[0].components);
  });
  return r;
}

const TolvaneKey kPrimary = {.components = {{8, 0}}};
const TolvaneKey kSecond = {.components = {{5, 8}}, .duplicates = true};

// Each file converts into t.kvl: record sizes and keys as described, every record with its
// own length, written in primary-key order and found by every key.
TEST_F(Tolvane, Conversions) {
  struct Case {
    std::string label;
    TolvaneLayout layout;
    std::string data_name, word, sizes;
  };
  const Case cases[] = {
      {"fixed, three levels",
       {.keys = {kPrimary}, .node_size = 128, .records = records(300, 40, true)},
       "t",
       kWord,
       "40,40,1"},
      {"variable, duplicates, two levels",
       {.max_length = 200,
        .min_length = 10,
        .keys = {kPrimary, kSecond},
        .node_size = 256,
        .records = records(200, 200, false)},
       "t",
       kWord,
       "200,10,2"},
      {"4-byte record headers",
       {.max_length = 5000,
        .min_length = 13,
        .keys = {kPrimary, kSecond},
        .records = records(40, 5000, false)},
       "t",
       "Header word : 30000200\n",
       "5000,13,2"},
      {"two components, data in t.dat",
       {.keys = {{.components = {{3, 5}, {5, 0}}}}, .records = records(50, 40, true)},
       "t.dat",
       kWord,
       "40,40,1"},
      {"key information in three blocks",
       {.keys = {kPrimary, kSecond, {.components = {{2, 6}}, .duplicates = true}},
        .records = records(60, 40, true),
        .descriptions_per_block = 1},
       "t",
       kWord,
       "40,40,3"},
      {"primary key with duplicates, minimum 0",
       {.min_length = 0,
        .keys = {{.components = {{2, 6}}, .duplicates = true}, kPrimary},
        .records = records(80, 40, false)},
       "t",
       kWord,
       "40,1,2"},
  };
  for (const Case& c : cases) {
    empty_directory(scratch());
    write_tolvane(path("t"), c.layout, path(c.data_name));
    EXPECT_EQ(convert(), "0 [" + c.word + converting(c.layout.records.size()) + "][]") << c.label;
    EXPECT_EQ(kfiles::info(path("t.kvl"), -1), c.sizes) << c.label;
    EXPECT_EQ(kfiles::info(path("t.kvl"), -3), "Converted Tolvane file") << c.label;
    EXPECT_TRUE(kfiles::records(path("t.kvl"), 0) == in_primary_order(c.layout)) << c.label;
    for (size_t k = 1; k < c.layout.keys.size(); ++k) {
      EXPECT_TRUE(sorted_records(path("t.kvl"), static_cast<int>(k)) == sorted(c.layout.records))
          << c.label << " key " << k;
    }
  }
  const auto levels = foreign::tolvane_files(cases[0].layout).levels;
  EXPECT_EQ(levels[0], 3);  // the first case had a tree of three levels to walk
}

// The header's compression byte makes the new file compressed unless -c says otherwise; an
// empty primary key gives an empty file, which replaces an earlier t.kvl.
TEST_F(Tolvane, CompressionAndEmptyRoot) {
  TolvaneLayout l = {.keys = {kPrimary}, .compression = 1, .records = records(20, 40, true)};
  write_tolvane(path("t"), l);
  EXPECT_EQ(convert(), "0 [" + kWord + converting(20) + "][]");
  EXPECT_EQ(kfiles::info(path("t.kvl"), -2).substr(6), "1,0");
  EXPECT_EQ(convert("-ac"), "0 [" + kWord + converting(20) + "][]");
  EXPECT_EQ(kfiles::info(path("t.kvl"), -2).substr(6), "0,0");
  l.records.clear();
  write_tolvane(path("t"), l);
  EXPECT_EQ(convert(), "0 [" + kWord + converting(0) + "][]");
  EXPECT_TRUE(kfiles::records(path("t.kvl")).empty());
}

// Files refused before anything is made: with the reader's own lines, or with the limit a
// Kelvra file sets.
TEST_F(Tolvane, Refusals) {
  struct Case {
    std::string label, options;
    TolvaneLayout layout;
    std::string outcome;
    size_t cut = 0;  // index file cut to this size when not 0
    std::vector<std::pair<size_t, std::string>> patches = {};
  };
  TolvaneKey seventeen, seven, wide = {.components = {{200, 0}, {51, 200}}};
  for (uint16_t i = 0; i < 17; ++i) seventeen.components.push_back({1, i});
  for (uint16_t i = 0; i < 7; ++i) seven.components.push_back({1, i});
  std::vector<TolvaneKey> many(121, {.components = {{1, 9}}, .duplicates = true});
  many[0] = kPrimary;
  const auto some = records(5, 40, true);
  const std::string keys = "Couldn't read keys\n";
  const Case cases[] = {
      {"key compression",
       "-a",
       {.keys = {kPrimary, {.components = {{5, 8}}, .compression = 2}}, .records = some},
       "Key compression not supported yet.\n" + keys},
      {"121 keys", "-a", {.keys = many, .records = some}, "t: too many keys (120 max)\n"},
      {"17 components",
       "-a",
       {.keys = {seventeen}, .records = some},
       "t: too many segments (16 max)\n"},
      {"7 components, -3",
       "-a3",
       {.keys = {seven}, .records = some},
       "t: too many segments (6 max)\n"},
      {"key of 251",
       "-a",
       {.max_length = 300, .min_length = 300, .keys = {wide}, .records = records(5, 300, true)},
       "t: key too large (250 bytes max)\n"},
      {"records of 40000, -3",
       "-a3",
       {.max_length = 40000, .min_length = 13, .keys = {kPrimary}, .records = some},
       "t: record or block size too large\n"},
      {"short header", "-a", {.keys = {kPrimary}, .records = some}, "Couldn't read headers\n", 300},
      {"node size 10",
       "-a",
       {.keys = {kPrimary}, .records = some},
       "t.idx: index record length 10 too small\n" + keys,
       0,
       {{174, be16(10)}}},
      {"2 of 3 keys",
       "-a",
       {.keys = {kPrimary, kSecond}, .records = some, .declared_keys = 3},
       "t.idx: 1 of 3 keys not described\n" + keys},
      {"no key information",
       "-a",
       {.keys = {kPrimary}, .records = some},
       "t.idx: 1 of 1 keys not described\n" + keys,
       0,
       {{148, be32(0)}}},
      {"key information beyond the file",
       "-a",
       {.keys = {kPrimary}, .records = some},
       "t.idx: key information at offset 4294967040 beyond the end of the file\n" + keys,
       0,
       {{148, be32(0xFFFFFF00)}}},
      {"key information chain loops",
       "-a",
       {.keys = {kPrimary, kSecond}, .records = some, .descriptions_per_block = 1},
       "t.idx: index loops or overlaps at offset 512; reading ends there\n" + keys,
       0,
       {{512 + 2, be32(512)}}},
  };
  for (const Case& c : cases) {
    empty_directory(scratch());
    const std::string word = c.layout.max_length >= 4096 ? "Header word : 30000200\n" : kWord;
    write_tolvane(path("t"), c.layout);
    std::string index = read_file(path("t.idx"));
    for (const auto& [at, bytes] : c.patches) index.replace(at, bytes.size(), bytes);
    write_file(path("t.idx"), c.cut ? index.substr(0, c.cut) : index);
    EXPECT_EQ(convert(c.options), "0 [" + word + c.outcome + "][]") << c.label;
    EXPECT_EQ(names_in(scratch()), (std::vector<std::string>{"t", "t.idx"})) << c.label;
  }
}

// Damaged trees end where the damage is, keeping what came before it; a record that cannot
// be fetched fails the conversion and leaves nothing behind.
TEST_F(Tolvane, DamagedFiles) {
  // 40 records of 40 bytes: a root at level 1 over four leaves of 10 entries each (node 128).
  const TolvaneLayout layout = {
      .keys = {kPrimary}, .node_size = 128, .records = records(40, 40, true)};
  const foreign::TolvaneFiles sound = foreign::tolvane_files(layout);
  ASSERT_EQ(sound.levels[0], 2);
  const uint32_t root = sound.roots[0], entry = 12;              // 8 key bytes and a pointer
  auto child = [&](int i) { return root + 2 + entry * i + 8; };  // the pointer of entry i
  const uint32_t first_leaf = 512 + 128;
  const std::vector<std::string> ordered = in_primary_order(layout);
  // A chain of 40 nodes of one entry each above the root: deeper than any sound tree.
  std::string deep = sound.index;
  for (uint32_t j = 0; j < 40; ++j) {
    std::string node = be16(2 + entry) + std::string(8, 'k');
    node += be32(j + 1 < 40 ? static_cast<uint32_t>(sound.index.size()) + (j + 1) * 128 : root);
    node.resize(127, '\0');
    deep += node + '\x05';
  }
  deep.replace(512 + 8, 4, be32(static_cast<uint32_t>(sound.index.size())));
  deep.replace(124, 4, be32(static_cast<uint32_t>(deep.size())));

  struct Case {
    std::string label, index, data, messages;
    size_t kept;      // records kept from the start of the primary order; npos: a failure
    size_t lost = 0;  // then so many after those are missing
  };
  const std::string loops = "t.idx: index loops or overlaps at offset ";
  auto patched = [&](uint32_t at, const std::string& bytes) {
    return std::string(sound.index).replace(at, bytes.size(), bytes);
  };
  const Case cases[] = {
      {"child is its own parent", patched(child(0), be32(root)), sound.data,
       loops + std::to_string(root) + "; reading ends there\n", 0},
      {"two entries share a child", patched(child(1), be32(first_leaf)), sound.data,
       loops + std::to_string(first_leaf) + "; reading ends there\n", 10},
      {"child beyond the end of the index", patched(child(2), be32(0x7FFFFFF0)), sound.data, "",
       20},
      {"child in the header", patched(child(2), be32(100)), sound.data,
       loops + "100; reading ends there\n", 20},
      {"leaf entry beyond the end of data",
       patched(first_leaf + 2 + entry * 4 + 8, be32(0x7FFFFFF0)), sound.data, "", 4, 6},
      {"used count beyond the node", patched(first_leaf, be16(0x7FFF)), sound.data, "", 40},
      {"forty levels", deep, sound.data,
       "t.idx: index tree deeper than 32 levels; reading ends there\n", 0},
      {"record longer than the maximum", sound.index,
       std::string(sound.data).replace(0, 2, be16(0x4000 | 41)), "", std::string::npos},
      {"record of no bytes", sound.index, std::string(sound.data).replace(0, 2, be16(0x4000)), "",
       std::string::npos},
      {"data file cut", sound.index, sound.data.substr(0, sound.data.size() - 5), "",
       std::string::npos},
  };
  for (const Case& c : cases) {
    empty_directory(scratch());
    write_file(path("t.idx"), c.index);
    write_file(path("t"), c.data);
    const auto r = run(words("-convert -a t"));
    if (c.kept == std::string::npos) {
      EXPECT_EQ(r.out, kWord + "Converting Tolvane file t...error!\n") << c.label;
      EXPECT_TRUE(r.err.starts_with("t: damaged file (error 6/8")) << c.label << r;
      EXPECT_EQ(names_in(scratch()), (std::vector<std::string>{"t", "t.idx"})) << c.label;
      continue;
    }
    std::vector<std::string> kept(ordered.begin(), ordered.begin() + c.kept);
    if (c.lost > 0) kept.insert(kept.end(), ordered.begin() + c.kept + c.lost, ordered.end());
    EXPECT_EQ(said(r), "0 [" + kWord + c.messages + converting(kept.size()) + "][]") << c.label;
    EXPECT_TRUE(kfiles::records(path("t.kvl")) == kept) << c.label;
  }
}

}  // namespace
