// Addition of zero-padded decimal texts.
#include "rtcore/test_support.h"

namespace {

// Segment sizes summed the way the info report does, against the machine's arithmetic.
TEST(DecimalTest, RunningTotalWithCarries) {
  char total[16] = "000000000000000";
  long long expected = 0;
  for (long size : {2147483647L, 513L, 99487L, 1L, 2147483647L, 40960000L}) {
    char text[16];
    snprintf(text, sizeof text, "%0*ld", 15, size);
    ASSERT_EQ(rt_decimal_add(total, text, 15), 1);
    expected += size;
  }
  char want[16];
  snprintf(want, sizeof want, "%015lld", expected);
  EXPECT_STREQ(total, want);
}

TEST(DecimalTest, OverflowAndUnusualTexts) {
  char total[] = "999";
  EXPECT_EQ(rt_decimal_add(total, "002", 3), 0);
  EXPECT_STREQ(total, "001");  // the low digits
  char blanks[] = "  5";
  EXPECT_EQ(rt_decimal_add(blanks, "7", 3), 1);  // blanks count as 0; short addend right-aligned
  EXPECT_STREQ(blanks, "012");
  char shorter[] = "95";
  EXPECT_EQ(rt_decimal_add(shorter, "010", 3), 0);  // never written past its terminator
  EXPECT_STREQ(shorter, "05");
  EXPECT_EQ(rt_decimal_add(blanks, nullptr, 3), 1);
  EXPECT_STREQ(blanks, "012");
  EXPECT_EQ(rt_decimal_add(nullptr, "1", 3), 0);
}

}  // namespace
