// Command selection and the configuration defaults of start-up.
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "ixkit/front/commands.h"
#include "ixkit/front/startup.h"
#include "ixkit/libs/rtcore.h"

namespace {

struct Selection {
  const char* word;
  CommandFunction command;
};

TEST(SelectCommand, EveryLetterSelectsItsCommand) {
  const Selection table[] = {
      {"-augment", augment_command}, {"-check", check_command},     {"-convert", convert_command},
      {"-deleted", deleted_command}, {"-extract", extract_command}, {"-fixvers", fixvers_command},
      {"-gen", gen_command},         {"-info", info_command},       {"-load", load_command},
      {"-note", note_command},       {"-rebuild", rebuild_command}, {"-size", size_command},
      {"-tree", tree_command},       {"-unload", unload_command},   {"-version", run_version},
      {"-zero", zero_command},
  };
  for (const Selection& s : table) EXPECT_EQ(select_command(s.word), s.command) << s.word;
}

TEST(SelectCommand, OnlyTheSecondCharacterCountsInEitherCase) {
  EXPECT_EQ(select_command("-i"), info_command);
  EXPECT_EQ(select_command("-Inventory"), info_command);
  EXPECT_EQ(select_command("-Z"), zero_command);
  EXPECT_EQ(select_command("-zebra"), zero_command);
  EXPECT_EQ(select_command("-V"), run_version);
  EXPECT_EQ(select_command("-Rx"), rebuild_command);
}

TEST(SelectCommand, ThirdLetterOAfterCSelectsConvert) {
  for (const char* word : {"-co", "-cO", "-Co", "-CONV", "-convert", "-coffee"}) {
    EXPECT_EQ(select_command(word), convert_command) << word;
  }
  for (const char* word : {"-c", "-C", "-cq", "-cx", "-check", "-c-o", "-cp"}) {
    EXPECT_EQ(select_command(word), check_command) << word;
  }
}

TEST(SelectCommand, OtherCharactersSelectNothing) {
  for (const char* word : {"-", "", "-x", "-xyz", "-b", "-h", "-1", "--info", "- info", "-?"}) {
    EXPECT_EQ(select_command(word), nullptr) << '"' << word << '"';
  }
  // Characters of 128 and above are taken as they are and select nothing.
  EXPECT_EQ(select_command("-\xc9nfo"), nullptr);
  EXPECT_EQ(select_command("-\xe9"), nullptr);
}

// Sets or removes an environment variable for one test and puts it back afterwards.
class EnvironmentVariable {
 public:
  explicit EnvironmentVariable(const char* name) : name_(name) {
    const char* value = getenv(name);
    if (value != nullptr) saved_ = value;
    had_ = value != nullptr;
  }
  ~EnvironmentVariable() {
    if (had_) {
      setenv(name_, saved_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  void set(const char* value) { setenv(name_, value, 1); }
  void remove() { unsetenv(name_); }

 private:
  const char* name_;
  std::string saved_;
  bool had_;
};

class ConfigDefaults : public ::testing::Test {
 protected:
  void SetUp() override { rt_config_reset(); }
  void TearDown() override { rt_config_reset(); }
  EnvironmentVariable buffers_{"K_BUFFERS"};
  EnvironmentVariable files_{"MAX_FILES"};
};

TEST_F(ConfigDefaults, UnsetVariablesGet128) {
  buffers_.remove();
  files_.remove();
  ASSERT_EQ(rt_config_int("K_BUFFERS", -7), -7);
  set_config_defaults();
  EXPECT_EQ(rt_config_int("K_BUFFERS", -7), 128);
  EXPECT_EQ(rt_config_int("MAX_FILES", -7), 128);
}

TEST_F(ConfigDefaults, ValuesFromTheEnvironmentAreLeftAlone) {
  buffers_.set("40");
  files_.set("3000");
  set_config_defaults();
  EXPECT_EQ(rt_config_int("K_BUFFERS", -7), 40);
  EXPECT_EQ(rt_config_int("MAX_FILES", -7), 3000);
}

TEST_F(ConfigDefaults, EachVariableIsDecidedOnItsOwn) {
  buffers_.set("16");
  files_.remove();
  set_config_defaults();
  EXPECT_EQ(rt_config_int("K_BUFFERS", -7), 16);
  EXPECT_EQ(rt_config_int("MAX_FILES", -7), 128);

  rt_config_reset();
  buffers_.remove();
  files_.set("9");
  set_config_defaults();
  EXPECT_EQ(rt_config_int("K_BUFFERS", -7), 128);
  EXPECT_EQ(rt_config_int("MAX_FILES", -7), 9);
}

TEST_F(ConfigDefaults, AnyValueInTheEnvironmentCountsAsSet) {
  // Even a value that is no number, or an empty one, is the libraries' to judge.
  buffers_.set("");
  files_.set("lots");
  set_config_defaults();
  EXPECT_NE(rt_config_int("K_BUFFERS", -7), 128);
  EXPECT_NE(rt_config_int("MAX_FILES", -7), 128);
}

}  // namespace
