// HV/COBOL-85 files: plain and compressed records, keys with duplicates, descriptors in the
// next block, blocks of other types, the expected-records warning, the header checks and
// damaged files.
#include "tests/e2e/convert/convert_files.h"

namespace {

using namespace e2e;
using namespace cfiles;
using foreign::be16;
using foreign::be32;
using foreign::HvcLayout;

class Hvc : public E2eTest {
 protected:
  std::string convert() { return said(run(words("-convert -a h"))); }
  std::string converting(long count) {
    return "Converting HV-85 file h..." + std::to_string(count) + " records\n";
  }
};

// Records of size bytes that compress in every way: runs of the fill characters, of zero
// bytes and of other bytes, and literals longer than one item holds.
std::vector<std::string> mixed_records(int n, uint16_t size) {
  std::vector<std::string> all;
  for (int i = 0; i < n; ++i) {
    std::string r = kfiles::record(static_cast<uint32_t>(i), 13);
    r += std::string(i % 70, ' ') + std::string(i % 23, '0') + std::string(i % 5, '\0');
    r += std::string(i % 30, 'x') + "a";
    for (int j = 0; r.size() < size; ++j) r += static_cast<char>('!' + (i * 7 + j) % 90);
    all.push_back(r.substr(0, size));
  }
  return all;
}

// Each file converts into a Kelvra file of the same name holding every record (padded with
// spaces) by every key, with the keys and comment of its header.
TEST_F(Hvc, Conversions) {
  struct Case {
    std::string label;
    HvcLayout layout;
    std::string keys;  // the converted file's key texts
  };
  const auto plain = kfiles::records_up_to(120, 40);
  const auto mixed = mixed_records(150, 300);
  std::vector<std::string> short_ones;
  for (const std::string& r : plain) short_ones.push_back(r.substr(0, 13 + r[7] % 20));
  const std::string two = "01,0,008,0000000000|01,1,005,0000000008";
  const Case cases[] = {
      {"plain", {.keys = {{0, 8}, {8, 5, true}}, .records = plain}, two},
      {"shorter records, padded",
       {.keys = {{0, 8}, {8, 5, true}}, .records = short_ones, .per_block = 3},
       two},
      {"compressed",
       {.record_length = 300, .keys = {{0, 8}}, .compressed = true, .records = mixed},
       "01,0,008,0000000000"},
      {"other fill characters",
       {.record_length = 300,
        .keys = {{0, 8}},
        .compressed = true,
        .fill1 = 'x',
        .fill2 = '\0',
        .records = mixed},
       "01,0,008,0000000000"},
      {"two keys with duplicates, primary too",
       {.keys = {{8, 5, true}, {0, 8}, {9, 4, true}}, .records = plain},
       "01,1,005,0000000008|01,0,008,0000000000"},
      {"descriptors in block 1, blocks of other types, spacing",
       {.keys = {{0, 8}, {8, 5, true}},
        .block_length = 250,
        .spacing = 300,
        .records = plain,
        .other_blocks = true},
       two},
      {"the eighth descriptor in block 1",
       {.keys = {{0, 8},
                 {8, 5, true},
                 {1, 7},
                 {2, 6},
                 {3, 5},
                 {4, 4, true},
                 {5, 3, true},
                 {6, 2, true}},
        .records = plain},
       two},
  };
  for (const Case& c : cases) {
    write_file(path("h"), foreign::hvc_file(c.layout));
    EXPECT_EQ(convert(), "0 [" + converting(c.layout.records.size()) + "][]") << c.label;
    std::vector<std::string> want;
    for (std::string r : c.layout.records)
      want.push_back(r.append(c.layout.record_length - r.size(), ' '));
    for (size_t k = 0; k < c.layout.keys.size(); ++k) {
      EXPECT_TRUE(sorted_records(path("h"), static_cast<int>(k)) == sorted(want))
          << c.label << " key " << k;
    }
    const std::string described = kfiles::describe(path("h"));
    EXPECT_NE(described.find("|Converted HV/COBOL-85 file|" + c.keys), std::string::npos)
        << c.label << ": " << described;
  }
}

// Stored bytes taken apart item by item; a record whose items would pass its end stops the
// records with the corrupt-chain message, and the count and the warning show what was found.
TEST_F(Hvc, ExpansionAndWarning) {
  const HvcLayout base = {.record_length = 30,
                          .keys = {{0, 1, true}},
                          .compressed = true,
                          .fill1 = '*',
                          .fill2 = '#',
                          .records = std::vector<std::string>(7)};
  HvcLayout l = base;
  l.stored = {
      "\x03"
      "ABC\x85",
      "\xE8x",
      std::string("\x02Z\0\xD4", 4),
      "\x01Y\xC0",
      "\xFFq",
      "",
      std::string("\x01W\xE8\0", 4)};
  write_file(path("h"), foreign::hvc_file(l));
  EXPECT_EQ(convert(), "0 [" + converting(7) + "][]");
  const std::vector<std::string> want = {
      "ABC*******",         "xxx", std::string("Z\0\0\0", 4), "Y##",
      std::string(26, 'q'), "",    std::string("W\0\0\0", 4)};
  std::vector<std::string> padded;
  for (std::string r : want) padded.push_back(r.append(30 - r.size(), ' '));
  EXPECT_TRUE(sorted_records(path("h"), 0) == sorted(padded));

  l = base;
  l.stated_records = 10;
  l.stored = {
      "\x01"
      "A",
      "\x01"
      "B",
      "\x01"
      "C\xFF"
      "c\x85",
      "\x01"
      "D"};  // 34 bytes
  write_file(path("h"), foreign::hvc_file(l));
  EXPECT_EQ(convert(), "0 [" +
                           converting(2).insert(26,
                                                "\nError: the chain of records appears "
                                                "to be corrupt!\n") +
                           "Warning: expected to find 10 records\n][]");
  EXPECT_EQ(kfiles::records(path("h")),
            (std::vector<std::string>{"A" + std::string(29, ' '), "B" + std::string(29, ' ')}));
}

// The header checks in their order, and damaged blocks: a refused file is left as it was.
TEST_F(Hvc, HeaderChecksAndDamage) {
  const std::string sound = foreign::hvc_file(
      {.keys = {{0, 8}, {8, 5, true}}, .records = kfiles::records_up_to(40), .per_block = 10});
  auto patched = [&](size_t at, const std::string& bytes) {
    return std::string(sound).replace(at, bytes.size(), bytes);
  };
  const std::string corrupt = "\nError: the chain of records appears to be corrupt!\n";
  for (const auto& [label, file, outcome] : std::vector<std::array<std::string, 3>>{
           {"incomplete", patched(33, "\x10"), "h: incomplete indexed file\n"},
           {"code set 105", patched(105, "\x01"), "h: non-ASCII code-set or collating sequence\n"},
           {"code set 107", patched(107, "\x03"), "h: non-ASCII code-set or collating sequence\n"},
           {"code set 110", patched(110, "\x01"), "h: non-ASCII code-set or collating sequence\n"},
           {"record 32768", patched(18, be16(32768)), "h: record or block size too large\n"},
           {"block 32768", patched(26, be16(32768)), "h: record or block size too large\n"},
           {"121 keys", patched(25, "\x79"), "h: too many keys (120 max)\n"},
           {"key of 251", patched(256 + 2, be16(251)), "h: key too large (250 bytes max)\n"},
           {"key of 0", patched(256 + 2, be16(0)), "h: keys or record sizes out of range\n"},
           {"key past the record", patched(256, be16(36)),
            "h: keys or record sizes out of range\n"},
           {"block of 41", patched(26, be16(41)), "h: block length or spacing out of range\n"},
           {"blocks overlap", patched(28, be16(511)), "h: block length or spacing out of range\n"},
           {"descriptors past the end", patched(25, "\x78").substr(0, 520),
            "h: key descriptor beyond the end of the file\n"},
       }) {
    write_file(path("h"), file);
    EXPECT_EQ(convert(), "0 [" + outcome + "][]") << label;
    EXPECT_TRUE(file_holds(path("h"), file)) << label;
  }
  // Damage inside the data blocks ends the records; those before it make the new file.
  struct Damage {
    std::string label, file;
    bool corrupt;
    size_t found;
  };
  for (const Damage& d : std::vector<Damage>{
           {"used area past the block", patched(1024 + 6, be16(513)), true, 10},
           {"entry past the used area", patched(1024 + 8 + 2 + 4, be16(600)), true, 10},
           {"stored length above the record", patched(512 + 8 + 2 + 4, be16(41)), false, 0},
           {"block count far beyond the file", patched(42, be32(0xFFFFFFF0)), false, 40},
           {"file cut inside a block", sound.substr(0, 1024 + 100), true, 10},
       }) {
    write_file(path("h"), d.file);
    std::string outcome = converting(static_cast<long>(d.found));
    if (d.corrupt) outcome.insert(26, corrupt);
    if (d.found != 40) outcome += "Warning: expected to find 40 records\n";
    EXPECT_EQ(convert(), "0 [" + outcome + "][]") << d.label;
    EXPECT_EQ(kfiles::records(path("h")).size(), d.found) << d.label;
  }
}

}  // namespace
