// Temporary names and the move of a finished file into place, segment by segment.
#include "ixkit/repair/replace.h"

#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "ixkit/front/console.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/kelvra5.h"
#include "tests/unit/scratch.h"

namespace {

class Replace : public LibraryScratch {
 protected:
  void SetUp() override {
    LibraryScratch::SetUp();
    capture();
  }
  void TearDown() override {
    exit_status = 0;
    temp_directory[0] = '\0';
    fixed_temp_name[0] = '\0';
    LibraryScratch::TearDown();
  }
  // A file of the version with n records of 40 bytes; versions 4 and 5 in 2 KiB segments.
  void make(const std::string& name, int version, int n) {
    rt_config_set("K_VERSION", 0, version);
    rt_config_set("K_SEGMENT_SIZE", 0, 2048);
    ASSERT_NE(k5_make(name.c_str(), "", "1,0,0,0,0", "40,40,1", "1,0,8,0", nullptr), 0);
    KFile* f = k5_open(name.c_str(), K_MODE_WRITE, "0,0,0");
    ASSERT_NE(f, nullptr);
    for (int i = 0; i < n; ++i) {
      char r[41];
      snprintf(r, sizeof r, "%08d%032d", i, version);
      ASSERT_NE(k5_write(f, r, 40), 0);
    }
    ASSERT_NE(k5_close(f), 0);
  }
  // The names in the scratch directory.
  std::vector<std::string> names() const {
    std::vector<std::string> all;
    for (auto& e : std::filesystem::directory_iterator(dir_)) {
      all.push_back(e.path().filename().string());
    }
    std::sort(all.begin(), all.end());
    return all;
  }
  // Records and format version of a file as the library reads it; -1 when it does not open.
  std::pair<int, int> opened(const std::string& name) {
    KFile* f = k5_open(name.c_str(), K_MODE_READ, "0,0,0");
    if (f == nullptr) return {-1, -1};
    char count[32] = {};
    k5_info(f, -4, count);
    std::pair<int, int> got{atoi(count), f->version};
    k5_close(f);
    return got;
  }
  char area_[TEMP_NAME_SIZE];
};

TEST_F(Replace, TemporaryNames) {
  make_temp_name(area_, "dir/sub/file");
  EXPECT_EQ(std::string(area_).rfind("dir/sub/K", 0), 0u) << area_;
  make_temp_name(area_, "file");
  EXPECT_EQ(area_[0], 'K') << area_;
  std::string first = area_;
  make_temp_name(area_, "file");
  EXPECT_NE(first, area_);  // every call a new name

  strcpy(temp_directory, "/tmp/x");
  make_temp_name(area_, "dir/file");
  EXPECT_EQ(std::string(area_).rfind("/tmp/x/K", 0), 0u) << area_;
  strcpy(fixed_temp_name, "work");
  make_temp_name(area_, "dir/file");
  EXPECT_STREQ(area_, "/tmp/x/work");
  temp_directory[0] = '\0';
  make_temp_name(area_, "dir/file");
  EXPECT_STREQ(area_, "dir/work");
  make_temp_name(area_, "file");
  EXPECT_STREQ(area_, "work");

  // A name that would not fit is empty rather than cut.
  std::string deep(TEMP_NAME_SIZE, 'd');
  make_temp_name(area_, (deep + "/file").c_str());
  EXPECT_STREQ(area_, "");
}

// A single-file version moves with one name; a segmented one moves every data and index
// segment, and no temporary name is left.
TEST_F(Replace, EverySegmentTakesTheTargetName) {
  for (int version : {3, 5}) {
    SCOPED_TRACE(version);
    make(path("t"), version, 200);
    KFile* f = k5_open(path("t").c_str(), K_MODE_READ, "0,0,0");
    ASSERT_NE(f, nullptr);
    const int data = f->data_segment_high, index = f->index_segment_high;
    k5_close(f);
    if (version == 5) {
      ASSERT_GE(data, 2);
    }

    ASSERT_EQ(make_durable(path("t").c_str()), 1);
    replace_file(path("t").c_str(), path("target").c_str());
    EXPECT_EQ(exit_status, 0);
    EXPECT_EQ(opened(path("target")), std::make_pair(200, version));
    std::vector<std::string> expected{"target"};
    for (int n = 1; n <= data; ++n) expected.push_back("target.d" + std::to_string(n));
    for (int n = 0; n <= index; ++n) expected.push_back("target.x" + std::to_string(n));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names(), expected);
    ASSERT_EQ(k5_remove(path("target").c_str()), 1);
  }
}

// With a temporary directory the result stays there under the target's name and the target
// itself is untouched.
TEST_F(Replace, ResultStaysInTheTemporaryDirectory) {
  std::filesystem::create_directory(path("tmp"));
  make(path("tmp/K1"), 3, 10);
  put("target", "old");
  replace_file(path("tmp/K1").c_str(), path("target").c_str());
  EXPECT_EQ(get("target"), "old");
  EXPECT_EQ(opened(path("tmp/target")), std::make_pair(10, 3));
  EXPECT_FALSE(std::filesystem::exists(path("tmp/K1")));
}

// A segment that cannot take its name is reported with the status 255; the others still
// move, and the new file stays whole under its temporary names, as the message says.
TEST_F(Replace, AFailedSegmentDoesNotStopTheOthers) {
  make(path("t"), 4, 200);
  std::filesystem::create_directories(path("target.d1/blocked"));
  replace_file(path("t").c_str(), path("target").c_str());
  EXPECT_EQ(exit_status, 255);
  const std::string said = printed(2);
  EXPECT_NE(said.find("target.d1: "), std::string::npos) << said;
  EXPECT_TRUE(said.ends_with("target: the new file is kept whole as " + path("t") + "\n")) << said;
  EXPECT_TRUE(std::filesystem::exists(path("target.x0")));
  EXPECT_TRUE(std::filesystem::is_regular_file(path("target")));
  EXPECT_EQ(opened(path("t")), std::make_pair(200, 4));
}

TEST_F(Replace, MissingTemporaryFileMovesNothing) {
  put("target", "old");
  replace_file(path("none").c_str(), path("target").c_str());
  EXPECT_EQ(exit_status, 255);
  EXPECT_EQ(get("target"), "old");
  EXPECT_NE(printed(2).find("none"), std::string::npos);
}

}  // namespace
