// File names: path parts, temporary names, extensions and removal.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <set>

#include "rtcore/test_support.h"

namespace {

class NamesTest : public RtTest {};

bool exists(const std::string& name) {
  return access(name.c_str(), F_OK) == 0;
}

TEST_F(NamesTest, PathBaseAndAppend) {
  const char* path = "dir/sub\\file.dat";
  EXPECT_EQ(rt_path_base(path), path + 8);
  EXPECT_STREQ(rt_path_base("/tmp/x/"), "");
  EXPECT_EQ(rt_path_base(path + 4), path + 8);
  EXPECT_EQ(rt_path_base(path + 8), path + 8);
  for (auto [directory, joined] :
       {std::pair{"dir", "dir/f"}, {"dir/", "dir/f"}, {"dir\\", "dir\\f"}, {"", "f"}}) {
    char area[32];
    strcpy(area, directory);
    rt_path_append(area, "f");
    EXPECT_STREQ(area, joined) << directory;
  }
}

TEST_F(NamesTest, TempNamesAreNewAndInsideTheDirectory) {
  std::set<std::string> seen;
  for (const std::string& directory : {dir_, dir_ + "/"}) {
    for (int i = 0; i < 50; ++i) {
      char out[257];
      ASSERT_EQ(rt_temp_name(directory.c_str(), "T", 0, out, sizeof out), 1);
      EXPECT_EQ(std::string(out).rfind(dir_ + "/T", 0), 0u) << out;
      EXPECT_EQ(rt_path_base(out), out + dir_.size() + 1) << out;
      EXPECT_FALSE(exists(out));
      EXPECT_TRUE(seen.insert(out).second) << out;
      write_file(out, "");
    }
  }
  char area[257];
  strcpy(area, dir_.c_str());
  ASSERT_EQ(rt_temp_name(area, "R", 0, area, sizeof area), 1);  // in place
  EXPECT_EQ(std::string(area).rfind(dir_ + "/R", 0), 0u) << area;
  ASSERT_EQ(rt_temp_name("", "R", 0, area, sizeof area), 1);  // current directory
  EXPECT_EQ(area[0], 'R');
  EXPECT_EQ(rt_path_base(area), area);

  char small[12] = "###########";
  EXPECT_EQ(rt_temp_name(dir_.c_str(), "T", 0, small, sizeof small), 0);
  EXPECT_STREQ(small, "");
  EXPECT_EQ(rt_temp_name(nullptr, nullptr, 0, nullptr, 10), 0);
}

TEST_F(NamesTest, ExtensionAndRemove) {
  char out[32];
  rt_name_with_extension(out, "a", "rej");
  EXPECT_STREQ(out, "a.rej");
  rt_name_with_extension(out, out, "rej");  // in place, never the base itself
  EXPECT_STREQ(out, "a.rej.rej");

  write_file(path("gone"), "x");
  EXPECT_EQ(rt_remove(path("gone").c_str()), 0);
  EXPECT_FALSE(exists(path("gone")));
  EXPECT_NE(rt_remove(path("gone").c_str()), 0);
  ASSERT_EQ(mkdir(path("sub").c_str(), 0755), 0);
  EXPECT_NE(rt_remove(path("sub").c_str()), 0);  // files only
  EXPECT_TRUE(exists(path("sub")));
}

}  // namespace
