// -check on sound files: nothing but the title and the passes' "OK"s, exit status 0.
#include <string>

#include "tests/e2e/harness.h"
#include "tests/e2e/repair/kelvra_files.h"

namespace {

using repair_files::FilePlan;
using repair_files::make_file;

struct SoundCase {
  const char* label;
  FilePlan plan;
};

class CheckSound : public e2e::E2eTest, public ::testing::WithParamInterface<SoundCase> {};

TEST_P(CheckSound, ExtendedCheckFindsNothing) {
  const SoundCase& c = GetParam();
  std::string name = path("f");
  make_file(name, c.plan);
  if (c.plan.segment_size) {
    ASSERT_TRUE(file_exists(ki_segment_name(name.c_str(), K_SEGMENT_DATA, 1))) << "two segments";
  }
  if (c.plan.rewritten) {
    ASSERT_GT(repair_files::read_field(name, 5, KF_ABANDONED, 4), 0u) << "abandoned records";
  }
  auto r = run({"-check", "-fx", name});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, name + ":\n");
  std::string expected =
      "reading all records by key #0...OK\n"
      "reading all records by key #1...OK\n"
      "reading all records raw...OK\n";
  if (c.plan.version >= 3) expected += "checking deleted records list...OK\n";
  EXPECT_EQ(r.err, expected);
}

FilePlan plan(int version, uint32_t records, uint32_t deleted, const char* storage,
              long segment_size = 0, uint32_t rewritten = 0) {
  FilePlan s;
  s.rewritten = rewritten;
  s.version = version;
  s.records = records;
  s.deleted = deleted;
  s.storage = storage;
  s.segment_size = segment_size;
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    Versions, CheckSound,
    ::testing::Values(SoundCase{"v2", plan(2, 300, 0, "")},
                      SoundCase{"v2_deleted", plan(2, 300, 20, "")},
                      SoundCase{"v3", plan(3, 300, 0, "0,0,0,0,0")},
                      SoundCase{"v3_deleted_compressed", plan(3, 300, 25, "0,0,0,1,0")},
                      SoundCase{"v3_encrypted", plan(3, 300, 10, "0,0,0,1,1")},
                      SoundCase{"v3_blocking2", plan(3, 300, 10, "2,0,0,0,0")},
                      SoundCase{"v4_segments", plan(4, 400, 30, "0,0,0,1,0", 4096)},
                      SoundCase{"v4_encrypted", plan(4, 200, 5, "0,0,0,0,1")},
                      SoundCase{"v5", plan(5, 300, 0, "0,0,0,0,0")},
                      SoundCase{"v5_segments_deleted", plan(5, 400, 40, "0,0,0,1,1", 4096)},
                      SoundCase{"v5_abandoned", plan(5, 300, 20, "0,0,0,1,0", 4096, 30)},
                      SoundCase{"v5_empty", plan(5, 0, 0, "0,0,0,0,0")}),
    [](const ::testing::TestParamInfo<SoundCase>& info) { return std::string(info.param.label); });

}  // namespace
