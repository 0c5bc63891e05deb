// Configuration values: precedence, the configuration file and number reading.
#include <climits>

#include "rtcore/test_support.h"

namespace {

class ConfigTest : public RtTest {
 protected:
  void TearDown() override {
    for (const char* name : {"RTT_A", "RTT_B"}) unsetenv(name);
    RtTest::TearDown();
  }

  void use_file(const std::string& text) {
    write_file(path("rt.cfg"), text);
    setenv("RT_CONFIG", path("rt.cfg").c_str(), 1);
  }
};

TEST_F(ConfigTest, SetOverEnvironmentOverFileOverDefault) {
  EXPECT_EQ(rt_config_int("RTT_A", 5), 5);
  use_file("RTT_A 10\n");
  rt_config_reset();
  EXPECT_EQ(rt_config_int("RTT_A", 5), 10);
  setenv("RTT_A", "20", 1);
  EXPECT_EQ(rt_config_int("RTT_A", 5), 20);
  rt_config_set("RTT_A", 0, 30);
  EXPECT_EQ(rt_config_int("RTT_A", 5), 30);
  EXPECT_STREQ(rt_config_text("RTT_A"), "20");  // text values ignore set ones
  rt_config_reset();
  EXPECT_EQ(rt_config_int("RTT_A", 5), 20);
  setenv("RTT_A", "", 1);  // empty counts as not given
  EXPECT_EQ(rt_config_int("RTT_A", 5), 10);
  EXPECT_EQ(rt_config_int(nullptr, 4), 4);
}

TEST_F(ConfigTest, FileLinesReadOnceUntilReset) {
  use_file(
      "# runtime settings\n   RTT_A    7   \r\n#RTT_B 1\n\nRTT_C\n"
      "RTT_D first\nRTT_D /data/with space/messages  \n");
  EXPECT_EQ(rt_config_int("RTT_A", 0), 7);
  EXPECT_EQ(rt_config_int("RTT_B", -1), -1);
  EXPECT_EQ(rt_config_text("RTT_C"), nullptr);
  const char* text = rt_config_text("RTT_D");
  EXPECT_STREQ(text, "/data/with space/messages");

  use_file("RTT_A 2\n");
  EXPECT_EQ(rt_config_int("RTT_A", 0), 7);
  rt_config_reset();
  EXPECT_EQ(rt_config_int("RTT_A", 0), 2);
  EXPECT_STREQ(text, "/data/with space/messages");  // texts handed out stay valid
}

TEST_F(ConfigTest, NumbersReadLikeTheCLibrary) {
  for (auto [text, value] : {std::pair{"12abc", 12L},
                             {"  -7", -7L},
                             {"abc", 0L},
                             {"0x10", 0L},
                             {"99999999999999999999", LONG_MAX}}) {
    setenv("RTT_B", text, 1);
    EXPECT_EQ(rt_config_int("RTT_B", 1), value) << text;
  }
}

}  // namespace
