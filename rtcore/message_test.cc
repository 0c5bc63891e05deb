// Message catalogue: defaults, overrides from the configured file, escapes and reloading.
#include "rtcore/internal.h"
#include "rtcore/test_support.h"

namespace {

class MessageTest : public RtTest {};

TEST_F(MessageTest, CatalogueReplacesOnlyItsNumbers) {
  const char* text = "Really quit? ";
  EXPECT_EQ(rt_message(943, 0, text), text);
  EXPECT_STREQ(rt_message(943, 0, nullptr), "");
  rt_shutdown();
  write_file(path("texts.cat"),
             "# ixkit messages\n943 Wirklich beenden? \r\n944  two blanks\n"
             "not a message line\n945x glued to the number\n946\n");
  setenv("RT_MESSAGES", path("texts.cat").c_str(), 1);
  EXPECT_STREQ(rt_message(943, 0, text), "Wirklich beenden? ");
  EXPECT_STREQ(rt_message(944, 0, "x"), " two blanks");
  EXPECT_STREQ(rt_message(945, 0, "kept"), "kept");
  EXPECT_STREQ(rt_message(946, 0, "kept"), "");
  EXPECT_STREQ(rt_message(947, 0, "default"), "default");
}

TEST_F(MessageTest, EscapesInText) {
  write_file(path("esc.cat"), "1 a\\nb\\tc\\\\d\\qe\\\n");
  write_file(path("rt.cfg"), "RT_MESSAGES " + path("esc.cat") + "\n");
  setenv("RT_CONFIG", path("rt.cfg").c_str(), 1);  // named through the configuration file
  EXPECT_STREQ(rt_message(1, 0, ""), "a\nb\tc\\d\\qe\\");
}

TEST_F(MessageTest, CatalogueReadOnceUnlessReloading) {
  std::string cat = path("m.cat");
  write_file(cat, "7 old\n");
  setenv("RT_MESSAGES", cat.c_str(), 1);
  const char* old_text = rt_message(7, 0, "");
  EXPECT_STREQ(old_text, "old");
  write_file(cat, "7 newer text\n");
  EXPECT_STREQ(rt_message(7, 0, ""), "old");

  rt_init_option(RT_OPTION_RELOAD_MESSAGES);
  EXPECT_STREQ(rt_message(7, 0, ""), "newer text");
  EXPECT_STREQ(old_text, "old");  // earlier texts live until rt_shutdown
  unsetenv("RT_MESSAGES");
  EXPECT_STREQ(rt_message(7, 0, "none"), "none");

  rt_init_option(0);
  setenv("RT_MESSAGES", cat.c_str(), 1);
  rt_shutdown();  // forgets the catalogue: the next use reads it again
  EXPECT_STREQ(rt_message(7, 0, ""), "newer text");
}

}  // namespace
