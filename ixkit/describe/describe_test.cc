// The header reader, the key texts and the header patcher.
#include <cstring>
#include <string>

#include "ixkit/describe/description.h"
#include "ixkit/describe/header.h"
#include "ixkit/describe/header_patch.h"
#include "ixkit/front/state.h"
#include "tests/unit/scratch.h"

namespace {

constexpr uint32_t kMagic = 0x10121416, kSegmented = 0x10121419;

void put_be(std::string& b, int at, int width, uint32_t value) {
  for (int i = width - 1; i >= 0; --i, value >>= 8) b[at + i] = static_cast<char>(value);
}

// A header block with the magic, version and blocking factor; every other byte zero.
std::string block(int version, uint32_t magic = kMagic, int blocking = 2) {
  std::string b(512, '\0');
  put_be(b, 0, 4, magic);
  put_be(b, K_offsets[3][KF_VERSION], 2, version);
  put_be(b, K_offsets[3][KF_BLOCKING] + 1, 1, blocking);
  return b;
}

class Describe : public LibraryScratch {
 protected:
  void TearDown() override {
    exit_status = 0;
    LibraryScratch::TearDown();
  }
  // The header block size when read_header takes the bytes, else minus the file error code.
  int read(const std::string& bytes) {
    rt_set_file_error(0, 0);
    return read_header(put("h", bytes).c_str()) ? header_block_bytes : -*rt_file_error();
  }
};

// Where each field lies in the versions listed, and what read_header made of it.
struct Field {
  int id;
  const char* versions;
  int skip, width;
  uint64_t (*get)();
};
KHeaderRecord& h = file_header;  // short for the table
// clang-format off
#define F(id, versions, skip, width, got) {id, versions, skip, width, [] { return uint64_t(got); }}
const Field kFields[] = {
    F(KF_V3_END, "3", 0, 4, h.end_offset),         F(KF_END_OFFSET, "45", 0, 4, h.end_offset),
    F(KF_END_SEGMENT, "45", 0, 2, h.end_segment),  F(KF_ADDRESS7, "345", 0, 4, h.address7),
    F(KF_SEGMENT8, "45", 0, 2, h.segment8),        F(KF_ADDRESS9, "345", 0, 4, h.address9),
    F(KF_SEGMENT10, "45", 0, 2, h.segment10),      F(KF_ADDRESS18, "345", 0, 4, h.address18),
    F(KF_SEGMENT19, "45", 0, 2, h.segment19),      F(KF_FIRST_RECORD, "345", 0, 4, h.first_record),
    F(KF_FIRST_SEGMENT, "45", 0, 2, h.first_record_segment),
    F(KF_DELETED_HEAD, "345", 0, 4, h.deleted_head),
    F(KF_DELETED_SEGMENT, "45", 0, 2, h.deleted_head_segment),
    F(KF_ABANDONED_HEAD, "5", 0, 4, h.abandoned_head),
    F(KF_ABANDONED_SEGMENT, "5", 0, 2, h.abandoned_head_segment),
    F(KF_RECORDS, "345", 0, 4, h.records),         F(KF_DELETED, "345", 0, 4, h.deleted),
    F(KF_ABANDONED, "5", 0, 4, h.abandoned),       F(KF_KEPT23, "345", 0, 4, h.kept23),
    F(KF_STAMP, "345", 0, 4, h.stamp),             F(KF_KEPT27, "345", 1, 1, h.kept27),
    F(KF_USER_COUNT, "345", 0, 2, h.user_count),   F(KF_SEGMENT_SIZE, "45", 0, 4, h.segment_size),
    F(KF_NODES, "34", 0, 2, h.nodes),              F(KF_NODES, "5", 0, 4, h.nodes),
    F(KF_DELETED_NODES, "34", 0, 2, h.deleted_nodes),
    F(KF_DELETED_NODES, "5", 0, 4, h.deleted_nodes),
    F(KF_NODE_SPACE, "34", 0, 4, h.node_space_used),
    F(KF_NODE_SPACE, "5", 2, 4, h.node_space_used),  // the low 32 of 48 bits
    F(KF_RECORD_HEADER, "345", 1, 1, raw_header_size),
    F(KF_SEED_FLAG, "345", 1, 1, per_record_seed),
};
#undef F
// clang-format on

// Every field holds its own number in each of its bytes, so that one read from the wrong
// place, in the wrong width or byte order shows.
TEST_F(Describe, EveryFieldOfVersions3To5) {
  auto value = [](const Field& f) {
    return 0x01010101u * f.id & 0xffffffffu >> (32 - 8 * f.width);
  };
  for (char v : {'3', '4', '5'}) {
    std::string b = block(v - '0');
    for (const Field& f : kFields) {
      if (strchr(f.versions, v)) put_be(b, K_offsets[v - '0'][f.id] + f.skip, f.width, value(f));
    }
    ASSERT_EQ(read(b), 1024) << v;
    for (const Field& f : kFields) {
      if (!strchr(f.versions, v)) continue;
      EXPECT_EQ(f.get(), value(f)) << "version " << v << " field " << f.id;
    }
  }
}

// Short and zero files, magic and version combinations, blocking factors at and past each limit.
TEST_F(Describe, HeaderChecks) {
  const struct {
    int version;
    uint32_t magic;
    int blocking;
    size_t size;
    int result;
  } cases[] = {
      {5, kMagic, 2, 0, -13},       {5, kMagic, 2, 511, -13},      {0, 0, 0, 512, -13},
      {3, kMagic, 2, 512, 1024},    {4, kMagic, 2, 512, 1024},     {5, kMagic, 2, 512, 1024},
      {3, kSegmented, 2, 512, -13}, {4, kSegmented, 2, 512, 1024}, {5, kSegmented, 2, 512, 1024},
      {5, 0x10121417, 2, 512, -13}, {4, 0x16141210, 2, 512, -13},  {1, kMagic, 2, 512, -13},
      {6, kMagic, 2, 512, -13},     {0x0105, kMagic, 2, 512, -13}, {3, kMagic, 0, 512, 0},
      {3, kMagic, 3, 512, -13},     {4, kMagic, 3, 512, -13},      {5, kMagic, 16, 512, 8192},
      {5, kMagic, 17, 512, -13}};
  for (const auto& c : cases) {
    EXPECT_EQ(read(block(c.version, c.magic, c.blocking).substr(0, c.size)), c.result)
        << "version " << c.version << " magic " << std::hex << c.magic << " blocking " << c.blocking
        << " size " << c.size;
  }
}

// Segment count, duplicates, size@offset of each segment, and the total size.
std::string describe(const KeyTextInfo& k) {
  std::string s = std::to_string(k.segment_count) + " " + std::to_string(k.duplicates);
  for (unsigned i = 0; i < k.segment_count; ++i) {
    s += " " + std::to_string(k.size[i]) + "@" + std::to_string(k.offset[i]);
  }
  return s + " =" + std::to_string(k.total_size);
}

// Key texts of 1, 3 (blank or zero padded) and 16 segments, the last filling the buffer.
TEST(KeyText, OneThreeAndSixteenSegments) {
  std::string sixteen = "16,0", want = "16 0";
  for (int i = 0; i < 16; ++i) {
    char segment[16];
    snprintf(segment, sizeof segment, ",%03d,%010d", i + 1, 1000 + i);
    sixteen += segment;
    want += " " + std::to_string(i + 1) + "@" + std::to_string(1000 + i);
  }
  KeyTextInfo key;
  for (auto [text, parsed] :
       {std::pair<std::string, std::string>{"01,0,010,0000000000", "1 0 10@0 =10"},
        {"03,1,  4,        12,004,0000000000,  2,       100", "3 1 4@12 4@0 2@100 =10"},
        {sixteen, want + " =136"}}) {
    parse_key_text(text.c_str(), &key);
    EXPECT_EQ(describe(key), parsed);
  }
}

// Keys of 1, 2 and 1 segments read by number and joined as k5_make takes them again.
TEST_F(Describe, JoinedKeyTextsMakeTheSameKeys) {
  const char* keys = "1,0,8,0,2,1,4,8,6,20,1,1,3,40";
  ASSERT_NE(k5_make(path("a").c_str(), "three", "1,0,0,0,0", "60,60,3", keys, nullptr), 0);
  KFile* file = k5_open(path("a").c_str(), K_MODE_READ, "0,0,0");
  ASSERT_NE(file, nullptr);
  KeyTextInfo key;
  ASSERT_EQ(read_key_text(file, 1, &key), 1);
  EXPECT_EQ(describe(key), "2 1 4@8 6@20 =10");
  EXPECT_EQ(read_key_text(file, 3, &key), 0);
  char* joined = join_key_texts(file, 3);
  k5_close(file);
  // 19 + 34 + 19 characters and two commas.
  EXPECT_STREQ(joined,
               "01,0,008,0000000000,02,1,004,0000000008,006,0000000020,01,1,003,0000000040");
  EXPECT_NE(k5_make(path("b").c_str(), "", "1,0,0,0,0", "60,60,3", joined, nullptr), 0);
  rt_free(joined, IXKIT_SOURCE, __LINE__, 0);
}

// Only the bytes asked for are written, and nothing at all after a short read.
TEST_F(Describe, HeaderPatcherWritesOnlyAfterAFullRead) {
  std::string bytes(700, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i % 251);
  HeaderPatch fill = [](uint8_t* b, void*) -> int { return memset(b, 0xff, 512) != nullptr; };
  ASSERT_EQ(patch_header(put("f", bytes).c_str(), 144, 136, fill, nullptr), 1);
  EXPECT_EQ(get("f"), bytes.substr(0, 144) + std::string(136, '\xff') + bytes.substr(280));
  capture();
  EXPECT_EQ(patch_header(put("f", bytes.substr(0, 511)).c_str(), 0, 100, fill, nullptr), 0);
  EXPECT_EQ(printed(2),
            path("f") + ": cannot update the header: fewer than 512 bytes could be read\n");
  EXPECT_EQ(get("f"), bytes.substr(0, 511));
  EXPECT_EQ(exit_status, 255);
}

}  // namespace
