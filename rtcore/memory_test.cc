// Tracked memory: zero fill, resizing, counts and the leak report.
#include <cstdint>
#include <cstring>

#include "rtcore/test_support.h"

namespace {

class MemoryTest : public RtTest {};

bool all_zero(const char* bytes, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

TEST_F(MemoryTest, ZeroFillAndCounts) {
  size_t count = rt_alloc_count(), bytes = rt_alloc_bytes();
  auto* block = static_cast<char*>(rt_alloc(64, 0, "test", 1, "zero", 0));
  void* other = rt_realloc(nullptr, 28, "test", 2, 0);
  void* empty = rt_alloc(0, 0, "test", 3, "empty", 0);
  ASSERT_TRUE(block && other && empty);
  EXPECT_TRUE(all_zero(block, 64));
  EXPECT_EQ(rt_alloc_count(), count + 3);
  EXPECT_EQ(rt_alloc_bytes(), bytes + 92);

  memset(block, 0x5a, 64);
  block = static_cast<char*>(rt_realloc(block, 4096, "test", 4, 0));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block[63], 0x5a);
  EXPECT_TRUE(all_zero(block + 64, 4096 - 64));
  EXPECT_EQ(rt_alloc_bytes(), bytes + 4124);
  block = static_cast<char*>(rt_realloc(block, 8, "test", 5, 0));
  EXPECT_EQ(block[7], 0x5a);

  for (void* p : {static_cast<void*>(block), other, empty}) rt_free(p, "test", 6, 0);
  EXPECT_EQ(rt_alloc_count(), count);
  EXPECT_EQ(rt_alloc_bytes(), bytes);
}

TEST_F(MemoryTest, BadRequestsAreHarmless) {
  size_t count = rt_alloc_count();
  EXPECT_EQ(rt_alloc(SIZE_MAX, 0, "test", 1, "huge", 0), nullptr);
  auto* block = static_cast<char*>(rt_alloc(16, 0, "test", 2, "kept", 0));
  block[0] = 'k';
  EXPECT_EQ(rt_realloc(block, SIZE_MAX, "test", 3, 0), nullptr);
  EXPECT_EQ(block[0], 'k');  // still valid after the refused resize
  int local = 0;
  rt_free(&local, "test", 4, 0);  // not a tracked block
  EXPECT_EQ(rt_realloc(&local, 8, "test", 5, 0), nullptr);
  rt_free(nullptr, "test", 6, 0);
  rt_free(block, "test", 7, 0);
  rt_free(block, "test", 8, 0);  // twice
  EXPECT_EQ(rt_alloc_count(), count);
}

TEST_F(MemoryTest, LeakReportOnlyWhenConfigured) {
  char source[] = "ixkit/ixkit";
  void* block = rt_alloc(24, 0, source, 812, "vmalloc()", 0);
  strcpy(source, "changed");  // the block keeps its own copy of the name
  capture();
  rt_shutdown();
  EXPECT_EQ(stream_text(err_), "");

  capture();
  setenv("RT_LEAK_REPORT", "1", 1);
  rt_shutdown();
  std::string report = stream_text(err_);
  EXPECT_NE(report.find("ixkit/ixkit line 812: vmalloc(), 24 bytes"), std::string::npos) << report;

  rt_config_set("RT_LEAK_REPORT", 0, 0);  // outranks the environment
  capture();
  rt_shutdown();
  EXPECT_EQ(stream_text(err_), report);  // nothing added
  rt_free(block, "test", 1, 0);
}

}  // namespace
