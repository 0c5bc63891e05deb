// read_header: every field of versions 3 to 5 from its own place in the block, version 2
// through the library, the checks and their file error codes, and files the library made.
#include "ixkit/describe/header.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ixkit/libs/rtcore.h"

namespace {

using Block = std::vector<uint8_t>;

class ReadHeader : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/ixkit_header.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    rt_config_reset();
    k5_init_cfg();
    k5_init();
  }
  void TearDown() override {
    k5_exit(0);
    rt_config_reset();
    std::string cmd = "rm -rf '" + dir_ + "'";
    if (system(cmd.c_str()) != 0) ADD_FAILURE() << "could not remove " << dir_;
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  std::string write(const std::string& name, const Block& bytes) {
    std::string p = path(name);
    FILE* f = fopen(p.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    if (f) {
      if (!bytes.empty()) {
        EXPECT_EQ(fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
      }
      fclose(f);
    }
    return p;
  }
  // read_header's result and the file error code.
  std::pair<int, int> read(const std::string& name, const Block& bytes) {
    rt_set_file_error(0, 0);
    int ok = read_header(write(name, bytes).c_str());
    return {ok, *rt_file_error()};
  }

  std::string dir_;
};

void put_be(Block& b, int at, int width, uint32_t value) {
  for (int i = width - 1; i >= 0; --i, value >>= 8) b[at + i] = static_cast<uint8_t>(value);
}
void put_field(Block& b, int version, int field, int skip, int width, uint32_t value) {
  int at = K_offsets[version][field];
  ASSERT_GE(at, 0) << "version " << version << " field " << field;
  put_be(b, at + skip, width, value);
}

// A version 3 to 5 block whose every field holds its own value, so that a field read from
// the wrong place, in the wrong width or byte order shows.
Block synthetic(int version, uint32_t magic = 0x10121416, int blocking = 2) {
  Block b(512, 0);
  put_be(b, 0, 4, magic);
  put_field(b, 3, KF_VERSION, 0, 2, static_cast<uint32_t>(version));
  put_field(b, version, KF_BLOCKING, 1, 1, static_cast<uint32_t>(blocking));
  const bool segmented = version >= 4;
  if (segmented) {
    put_field(b, version, KF_END_OFFSET, 0, 4, 0x05050505);
    put_field(b, version, KF_END_SEGMENT, 0, 2, 0x0606);
    put_field(b, version, KF_SEGMENT8, 0, 2, 0x0808);
    put_field(b, version, KF_SEGMENT10, 0, 2, 0x1010);
    put_field(b, version, KF_FIRST_SEGMENT, 0, 2, 0x1212);
    put_field(b, version, KF_DELETED_SEGMENT, 0, 2, 0x1414);
    put_field(b, version, KF_SEGMENT19, 0, 2, 0x1919);
    put_field(b, version, KF_SEGMENT_SIZE, 0, 4, 0x39393939);
  } else {
    put_field(b, 3, KF_V3_END, 0, 4, 0x40404040);
  }
  put_field(b, version, KF_ADDRESS7, 0, 4, 0x07070707);
  put_field(b, version, KF_ADDRESS9, 0, 4, 0x09090909);
  put_field(b, version, KF_FIRST_RECORD, 0, 4, 0x11111111);
  put_field(b, version, KF_DELETED_HEAD, 0, 4, 0x13131313);
  put_field(b, version, KF_ADDRESS18, 0, 4, 0x18181818);
  put_field(b, version, KF_RECORDS, 0, 4, 0x20202020);
  put_field(b, version, KF_DELETED, 0, 4, 0x21212121);
  put_field(b, version, KF_KEPT23, 0, 4, 0x23232323);
  put_field(b, version, KF_STAMP, 0, 4, 0x24242424);
  put_field(b, version, KF_KEPT27, 1, 1, 0x27);
  put_field(b, version, KF_USER_COUNT, 0, 2, 0x2828);
  put_field(b, version, KF_RECORD_HEADER, 1, 1, 31);
  put_field(b, version, KF_SEED_FLAG, 1, 1, 1);
  if (version == 5) {
    put_field(b, 5, KF_ABANDONED_HEAD, 0, 4, 0x15151515);
    put_field(b, 5, KF_ABANDONED_SEGMENT, 0, 2, 0x1616);
    put_field(b, 5, KF_ABANDONED, 0, 4, 0x22222222);
    put_field(b, 5, KF_NODES, 0, 4, 0x29292929);
    put_field(b, 5, KF_DELETED_NODES, 0, 4, 0x30303030);
    put_field(b, 5, KF_NODE_SPACE, 0, 2, 0xfefe);  // the high 16 of 48 bits are not kept
    put_field(b, 5, KF_NODE_SPACE, 2, 4, 0x26262626);
  } else {
    put_field(b, version, KF_NODES, 0, 2, 0x2929);
    put_field(b, version, KF_DELETED_NODES, 0, 2, 0x3030);
    put_field(b, version, KF_NODE_SPACE, 0, 4, 0x26262626);
  }
  return b;
}

TEST_F(ReadHeader, UnpacksEveryFieldOfVersions3To5) {
  for (int version = 3; version <= 5; ++version) {
    SCOPED_TRACE("version " + std::to_string(version));
    auto [ok, code] = read("v" + std::to_string(version), synthetic(version));
    ASSERT_EQ(ok, 1) << code;
    const KHeaderRecord& h = file_header;
    EXPECT_EQ(h.magic, 0x10121416u);
    EXPECT_EQ(h.version, version);
    EXPECT_EQ(h.blocking_factor, 2);
    EXPECT_EQ(h.address7, 0x07070707u);
    EXPECT_EQ(h.address9, 0x09090909u);
    EXPECT_EQ(h.first_record, 0x11111111u);
    EXPECT_EQ(h.deleted_head, 0x13131313u);
    EXPECT_EQ(h.address18, 0x18181818u);
    EXPECT_EQ(h.records, 0x20202020u);
    EXPECT_EQ(h.deleted, 0x21212121u);
    EXPECT_EQ(h.kept23, 0x23232323u);
    EXPECT_EQ(h.stamp, 0x24242424u);
    EXPECT_EQ(h.kept27, 0x27);
    EXPECT_EQ(h.user_count, 0x2828);
    EXPECT_EQ(h.node_space_used, 0x26262626u);
    EXPECT_EQ(h.nodes, version == 5 ? 0x29292929u : 0x2929u);
    EXPECT_EQ(h.deleted_nodes, version == 5 ? 0x30303030u : 0x3030u);
    if (version == 3) {
      EXPECT_EQ(h.end_offset, 0x40404040u);
      EXPECT_EQ(h.end_segment, 0);
      EXPECT_EQ(
          h.segment8 | h.segment10 | h.first_record_segment | h.deleted_head_segment | h.segment19,
          0);
    } else {
      EXPECT_EQ(h.end_offset, 0x05050505u);
      EXPECT_EQ(h.end_segment, 0x0606);
      EXPECT_EQ(h.segment8, 0x0808);
      EXPECT_EQ(h.segment10, 0x1010);
      EXPECT_EQ(h.first_record_segment, 0x1212);
      EXPECT_EQ(h.deleted_head_segment, 0x1414);
      EXPECT_EQ(h.segment19, 0x1919);
      EXPECT_EQ(h.segment_size, 0x39393939u);
    }
    if (version == 5) {
      EXPECT_EQ(h.abandoned_head, 0x15151515u);
      EXPECT_EQ(h.abandoned_head_segment, 0x1616);
      EXPECT_EQ(h.abandoned, 0x22222222u);
    }
    EXPECT_EQ(header_block_bytes, 1024);
    EXPECT_EQ(raw_header_size, 31);
    EXPECT_EQ(per_record_seed, 1);
  }
}

TEST_F(ReadHeader, FieldsAVersionLacksKeepThePreviousFile) {
  ASSERT_EQ(read("five", synthetic(5)).first, 1);
  ASSERT_EQ(read("three", synthetic(3)).first, 1);
  EXPECT_EQ(file_header.version, 3);
  EXPECT_EQ(file_header.abandoned, 0x22222222u);       // field 22: version 5 only
  EXPECT_EQ(file_header.segment_size, 0x39393939u);    // field 39: not in version 3
  EXPECT_EQ(file_header.abandoned_head, 0x15151515u);  // fields 15, 16: version 5 only
}

TEST_F(ReadHeader, ShortAndEmptyFilesAreNotKelvraFiles) {
  for (size_t size : {0, 1, 100, 511}) {
    Block b = synthetic(5);
    b.resize(size);
    EXPECT_EQ(read("short", b), std::make_pair(0, 13)) << size << " bytes";
  }
  EXPECT_EQ(read("zeros", Block(512, 0)), std::make_pair(0, 13));
  Block longer = synthetic(4);
  longer.resize(4096, 0x5a);
  EXPECT_EQ(read("longer", longer).first, 1);
}

TEST_F(ReadHeader, FailuresOfTheOpenAndTheReadKeepTheirCodes) {
  rt_set_file_error(0, 0);
  EXPECT_EQ(read_header(path("missing").c_str()), 0);
  EXPECT_EQ(*rt_file_error(), RT_ERR_MISSING);
  // A directory opens but cannot be read, and is long enough to hold a header.
  struct stat info;
  ASSERT_EQ(stat(dir_.c_str(), &info), 0);
  ASSERT_GE(info.st_size, 512) << "needs a file system whose directories have a size";
  rt_set_file_error(0, 0);
  EXPECT_EQ(read_header(dir_.c_str()), 0);
  EXPECT_EQ(*rt_file_error(), RT_ERR_LOCKED);
}

TEST_F(ReadHeader, RefusedHeaderLeavesTheRecordOfTheLastGoodRead) {
  ASSERT_EQ(read("good", synthetic(5)).first, 1);
  Block bad = synthetic(4, 0x10121416, 3);
  put_field(bad, 4, KF_RECORDS, 0, 4, 77);
  EXPECT_EQ(read("bad", bad), std::make_pair(0, 13));
  EXPECT_EQ(file_header.version, 5);
  EXPECT_EQ(file_header.records, 0x20202020u);
  EXPECT_EQ(header_block_bytes, 1024);
}

TEST_F(ReadHeader, MagicAndVersionMustAgree) {
  struct Case {
    int version;
    uint32_t magic;
    int accepted;
  };
  const Case cases[] = {
      {3, 0x10121416, 1}, {4, 0x10121416, 1}, {5, 0x10121416, 1}, {3, 0x10121419, 0},
      {4, 0x10121419, 1}, {5, 0x10121419, 1}, {5, 0x10121417, 0}, {4, 0x16141210, 0},
  };
  for (const Case& c : cases) {
    auto [ok, code] = read("m", synthetic(c.version, c.magic));
    EXPECT_EQ(ok, c.accepted) << "version " << c.version << " magic " << std::hex << c.magic;
    EXPECT_EQ(ok ? file_header.magic : code, ok ? c.magic : 13u);
  }
  // The version byte must follow a zero byte, and only versions 2 to 5 exist.
  for (int version : {0, 1, 6, 255}) {
    Block b = synthetic(5);
    put_field(b, 3, KF_VERSION, 0, 2, static_cast<uint32_t>(version));
    EXPECT_EQ(read("v", b), std::make_pair(0, 13)) << "version " << version;
  }
  Block high = synthetic(5);
  put_field(high, 3, KF_VERSION, 0, 2, 0x0105);
  EXPECT_EQ(read("v", high), std::make_pair(0, 13));
}

TEST_F(ReadHeader, BlockingFactorLimitsPerVersion) {
  struct Case {
    int version;
    int blocking;
    int accepted;
  };
  const Case cases[] = {{5, 16, 1}, {5, 17, 0}, {5, 0, 1}, {5, 255, 0}, {4, 2, 1},
                        {4, 3, 0},  {3, 2, 1},  {3, 3, 0}, {3, 0, 1},   {4, 1, 1}};
  for (const Case& c : cases) {
    auto [ok, code] = read("b", synthetic(c.version, 0x10121416, c.blocking));
    EXPECT_EQ(ok, c.accepted) << "version " << c.version << " blocking " << c.blocking;
    EXPECT_EQ(ok ? header_block_bytes : code, ok ? c.blocking * 512 : 13);
  }
}

TEST_F(ReadHeader, Version2GoesThroughTheLibrary) {
  const std::string name = path("old");
  ASSERT_NE(k2_make(name.c_str(), "2,0", "40,2,8,0,4,8,Y,N,N,N,two"), 0);
  per_record_seed = 7;  // version 2 leaves it alone
  ASSERT_EQ(read_header(name.c_str()), 1) << *rt_file_error();
  EXPECT_EQ(file_header.version, 2);
  EXPECT_EQ(file_header.magic, 0x10121416u);
  EXPECT_EQ(file_header.blocking_factor, 2);
  EXPECT_EQ(header_block_bytes, 1024);
  EXPECT_EQ(raw_header_size, 9);
  EXPECT_EQ(per_record_seed, 7);

  Block b(512, 0);
  FILE* f = fopen(name.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(fread(b.data(), 1, 512, f), 512u);
  fclose(f);
  ASSERT_EQ(std::vector<uint8_t>(b.begin(), b.begin() + 6),
            (std::vector<uint8_t>{0x16, 0x14, 0x12, 0x10, 0x02, 0x00}));
  // A zero and a 2 at the version's place make it version 2 as well; the library then
  // decides whether the block is one.
  b[4] = 0;
  b[5] = 2;
  EXPECT_EQ(read("zero-two", b).first, 1);
  EXPECT_EQ(file_header.version, 2);
  put_be(b, 0, 4, 0x10121416);  // big-endian magic: no version-2 block
  file_header.version = 5;
  EXPECT_EQ(read("zero-two-be", b), std::make_pair(0, 13));
  EXPECT_EQ(file_header.version, 5);
}

// Files the library made and filled: the counts it keeps agree with the header read here.
TEST_F(ReadHeader, AgreesWithTheLibraryOnFilesItMade) {
  for (int version = 3; version <= 5; ++version) {
    SCOPED_TRACE("version " + std::to_string(version));
    rt_config_set("K_VERSION", 0, version);
    const std::string name = path("made" + std::to_string(version));
    ASSERT_NE(k5_make(name.c_str(), "", "1,0,0,0,1", "30,30,1", "1,0,6,0", nullptr), 0);
    KFile* file = k5_open(name.c_str(), K_MODE_WRITE, "0,0,0");
    ASSERT_NE(file, nullptr);
    char record[31];
    for (int i = 0; i < 50; ++i) {
      snprintf(record, sizeof record, "%06d%-24s", i, "payload");
      ASSERT_NE(k5_write(file, record, 30), 0);
    }
    for (int i = 0; i < 50; i += 10) {
      snprintf(record, sizeof record, "%06d", i);
      ASSERT_NE(k5_delete(file, record), 0);
    }
    ASSERT_EQ(read_header(name.c_str()), 1) << *rt_file_error();
    EXPECT_EQ(file_header.user_count, 1);  // the open writer
    EXPECT_EQ(raw_header_size, file->record_header_size);
    ASSERT_NE(k5_close(file), 0);

    ASSERT_EQ(read_header(name.c_str()), 1);
    EXPECT_EQ(file_header.version, version);
    EXPECT_EQ(file_header.records, 45u);
    EXPECT_EQ(file_header.deleted, 5u);
    EXPECT_EQ(file_header.user_count, 0);
    EXPECT_EQ(file_header.blocking_factor, 1);
    EXPECT_NE(file_header.first_record, 0u);
    EXPECT_NE(file_header.deleted_head, 0u);
    EXPECT_GE(file_header.nodes, 1u);
    EXPECT_GT(file_header.node_space_used, 0u);
    if (version >= 4) {
      file = k5_open(name.c_str(), K_MODE_READ, "0,0,0");
      ASSERT_NE(file, nullptr);
      EXPECT_EQ(file_header.segment_size, file->segment_size);
      EXPECT_EQ(file_header.end_segment, file->data_segment_high);
      EXPECT_EQ(file_header.end_offset, file->data_segment_size[file->data_segment_high]);
      k5_close(file);
    }
  }
}

}  // namespace
