// -unload then -load into an emptied copy gives back the same records, byte for byte, in
// every framing; and the flat files hold exactly the framed records in key order.
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "tests/e2e/transfer/transfer_support.h"

namespace {

using transfer_test::be16;
using transfer_test::be32;
using transfer_test::le32;
using transfer_test::NewFile;
using transfer_test::padded;

enum class Layout { fixed, native, portable2, portable4, line };

struct RoundTrip {
  const char* label;
  Layout layout;
  std::string unload_options;  // empty: none
  std::string load_options;
  uint32_t max_size;
  uint32_t min_size;
  const char* block_size;  // C_SEQ_DEFAULT_BLOCK_SIZE, or null
};

std::ostream& operator<<(std::ostream& os, const RoundTrip& t) {
  return os << t.label;
}

// Records with an 8-byte primary key: the shortest and the longest lengths, zero bytes,
// trailing spaces, and (except in line files) every byte value, line ends and byte 26.
std::vector<std::string> sample_records(const RoundTrip& t) {
  bool line = t.layout == Layout::line;
  auto body = [&](uint32_t length, uint32_t seed) {
    std::mt19937 random(seed);
    std::string r;
    for (uint32_t i = 0; i < length; ++i) {
      char c = static_cast<char>(random() % 256);
      if (line && (c == '\n' || c == '\r' || c == 26)) c = 'L';
      r += c;
    }
    return r;
  };
  std::vector<std::string> out;
  uint32_t span = t.max_size - t.min_size;
  out.push_back(padded("00000001", t.min_size, ' '));
  out.push_back(std::string("0000\0\0"
                            "02",
                            8) +
                body(t.max_size - 8, 2));
  out.push_back(padded("00000003" + std::string("a\0b\0", 4), std::max(t.min_size, 12u)));
  out.push_back(padded("00000004tail", t.min_size + span / 2, ' '));
  out.push_back(std::string(8, '\0') + body(t.min_size - 8, 5));
  out.push_back(std::string(8, '\xff') + body(t.max_size - 8, 6));
  for (uint32_t i = 0; i < 20; ++i) {
    char key[16];
    snprintf(key, sizeof key, "%08u", 1000 + i * 37 % 20);
    uint32_t length = t.min_size + (span == 0 ? 0 : (i * 7919u) % (span + 1));
    out.push_back(std::string(key, 8) + body(length - 8, 100 + i));
  }
  if (line) {
    // A line file has no byte 26 and no line end inside a record.
    for (std::string& r : out) std::replace(r.begin(), r.end(), '\n', 'L');
  }
  return out;
}

// The flat file that holds these records (in key order) in the layout.
std::string framed(const std::vector<std::string>& records, const RoundTrip& t) {
  std::string out;
  for (const std::string& r : records) {
    uint32_t n = static_cast<uint32_t>(r.size());
    switch (t.layout) {
      case Layout::fixed:
        out += padded(r, t.max_size);
        break;
      case Layout::native:
        out += le32(n) + r;
        break;
      case Layout::portable2:
        out += be16(n) + r;
        break;
      case Layout::portable4:
        out += be32(n) + r;
        break;
      case Layout::line:
        out += r + "\n";
        break;
    }
  }
  return out;
}

class RoundTripTest : public transfer_test::TransferTest,
                      public ::testing::WithParamInterface<RoundTrip> {};

TEST_P(RoundTripTest, UnloadThenLoadGivesBackEveryRecord) {
  const RoundTrip& t = GetParam();
  NewFile described;
  described.sizes = std::to_string(t.max_size) + "," + std::to_string(t.min_size) + ",2";
  described.keys = "1,0,8,0,1,1,4,8";  // alternate key with duplicates, so its order differs
  std::string source = path("source"), copy = path("copy"), flat = path("flat");
  make(source, described);
  std::vector<std::string> records = sample_records(t);
  std::vector<std::string> shuffled = records;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
  put(source, shuffled);
  std::sort(records.begin(), records.end());
  ASSERT_TRUE(transfer_test::same_records(this->records(source), records));

  e2e::RunOptions env;
  if (t.block_size != nullptr) env.env = {{"C_SEQ_DEFAULT_BLOCK_SIZE", t.block_size}};
  std::vector<std::string> args = {"-unload"};
  if (!t.unload_options.empty()) args.push_back(t.unload_options);
  args.push_back(source);
  args.push_back(flat);
  auto u = run(args, env);
  ASSERT_EQ(u.status, 0) << u;
  EXPECT_EQ(u.out,
            "Record size = " + std::to_string(t.max_size) + "\nUnloading " + source + "...\n");
  EXPECT_EQ(u.err, "");
  EXPECT_TRUE(e2e::file_holds(flat, framed(records, t)));

  make(copy, described);
  args = {"-load"};
  if (!t.load_options.empty()) args.push_back(t.load_options);
  args.push_back(flat);
  args.push_back(copy);
  auto l = run(args, env);
  ASSERT_EQ(l.status, 0) << l;
  EXPECT_EQ(l.out, "Record size = " + std::to_string(t.max_size) + "\nLoading " + copy + "...\n" +
                       std::to_string(records.size()) + " records loaded\n");
  EXPECT_EQ(l.err, "");
  EXPECT_TRUE(transfer_test::same_records(this->records(copy), records));
  // Every record is reached by the alternate key too (its duplicates in any order).
  std::vector<std::string> by_alternate = this->records(copy, 1);
  std::sort(by_alternate.begin(), by_alternate.end());
  EXPECT_TRUE(transfer_test::same_records(by_alternate, records));
}

// Fixed framings need records of one length; the variable ones are tried with lengths from
// 8 bytes to the largest, with 2-byte portable prefixes up to 65535 and 4-byte ones above.
INSTANTIATE_TEST_SUITE_P(
    Framings, RoundTripTest,
    ::testing::Values(
        RoundTrip{"fixed", Layout::fixed, "", "", 100, 100, nullptr},
        RoundTrip{"fixed_b", Layout::fixed, "-b", "-b", 100, 100, "7"},
        RoundTrip{"native", Layout::native, "-v", "-v", 300, 8, nullptr},
        RoundTrip{"native_wide", Layout::native, "-v", "-v", 70000, 8, "5000"},
        RoundTrip{"portable", Layout::portable2, "-bv", "-bv", 300, 8, "1"},
        RoundTrip{"portable_65535", Layout::portable2, "-bv", "-bv", 65535, 8, nullptr},
        RoundTrip{"portable_wide", Layout::portable4, "-bv", "-bvx", 70000, 8, nullptr},
        RoundTrip{"line", Layout::line, "-t", "-t", 300, 8, nullptr},
        RoundTrip{"line_fixed", Layout::line, "-tv", "-t", 100, 100, "0"},
        RoundTrip{"line_wide", Layout::line, "-t", "-t", 70000, 8, "3"}),
    [](const ::testing::TestParamInfo<RoundTrip>& info) { return info.param.label; });

}  // namespace
