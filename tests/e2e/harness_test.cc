// The harness itself, on plain shell commands: what the tests of ixkit rely on.
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/e2e/harness.h"

namespace {

class Harness : public e2e::E2eTest {
 protected:
  e2e::RunResult sh(const std::string& script, e2e::RunOptions options = {}) {
    return run_program("/bin/sh", {"-c", script}, std::move(options));
  }
};

TEST_F(Harness, StatusAndStreamsAreSeparate) {
  auto r = sh("printf out; printf err >&2; exit 7");
  EXPECT_EQ(r.status, 7);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.out, "out");
  EXPECT_EQ(r.err, "err");
}

TEST_F(Harness, EndBySignalIsReported) {
  auto r = sh("kill -TERM $$");
  EXPECT_EQ(r.status, -1);
  EXPECT_EQ(r.signal, SIGTERM);
}

TEST_F(Harness, LargeOutputOnBothStreamsDoesNotBlock) {
  auto r = sh("head -c 3000000 /dev/zero | tr '\\0' a; head -c 2000000 /dev/zero | tr '\\0' b >&2");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string(3000000, 'a'));
  EXPECT_EQ(r.err, std::string(2000000, 'b'));
}

TEST_F(Harness, LargeInputWhileOutputFlows) {
  std::string input;
  for (int i = 0; i < 200000; ++i) input += std::to_string(i) + "\n";
  auto r = sh("cat", {.input = input});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, input);
}

TEST_F(Harness, InputIsClosedAfterTheText) {
  auto r = sh("cat; echo end", {.input = "a\nb"});
  EXPECT_EQ(r.out, "a\nbend\n");
}

TEST_F(Harness, WorkingDirectoryIsTheScratchDirectory) {
  auto r = sh("pwd -P");
  EXPECT_EQ(r.out, std::filesystem::canonical(scratch()).string() + "\n");
  std::filesystem::create_directory(path("sub"));
  auto sub = sh("pwd -P", {.cwd = path("sub")});
  EXPECT_EQ(sub.out, std::filesystem::canonical(path("sub")).string() + "\n");
}

TEST_F(Harness, RuntimeVariablesNeverReachTheChild) {
  setenv("K_BUFFERS", "5", 1);
  setenv("RT_MESSAGES", "/nowhere", 1);
  setenv("IXKIT_HARNESS_PROBE", "kept", 1);
  auto r = sh("echo \"[$K_BUFFERS][$RT_MESSAGES][$IXKIT_HARNESS_PROBE]\"");
  unsetenv("K_BUFFERS");
  unsetenv("RT_MESSAGES");
  unsetenv("IXKIT_HARNESS_PROBE");
  EXPECT_EQ(r.out, "[][][kept]\n");
}

TEST_F(Harness, EnvironmentCanBeSetAndRemoved) {
  setenv("IXKIT_HARNESS_PROBE", "parent", 1);
  auto set = sh("echo \"[$K_VERSION][$IXKIT_HARNESS_PROBE]\"",
                {.env = {{"K_VERSION", "3"}, {"IXKIT_HARNESS_PROBE", "child"}}});
  auto removed = sh("echo \"[${IXKIT_HARNESS_PROBE-unset}]\"", {.unset = {"IXKIT_HARNESS_PROBE"}});
  unsetenv("IXKIT_HARNESS_PROBE");
  EXPECT_EQ(set.out, "[3][child]\n");
  EXPECT_EQ(removed.out, "[unset]\n");
}

TEST_F(Harness, NoControllingTerminalUnlessGiven) {
  auto none = sh("echo x > /dev/tty");
  EXPECT_NE(none.status, 0);

  auto given = sh("read line < /dev/tty; printf '<%s>' \"$line\" > /dev/tty; echo done",
                  {.terminal = "typed\n"});
  EXPECT_EQ(given.status, 0) << given;
  EXPECT_EQ(given.terminal, "<typed>");
  EXPECT_EQ(given.out, "done\n");
}

TEST_F(Harness, TerminalEndOfInput) {
  auto r = sh("if read line < /dev/tty; then echo line; else echo end; fi", {.terminal = "\x04"});
  EXPECT_EQ(r.out, "end\n") << r;
}

TEST_F(Harness, TimeoutKillsTheChild) {
  auto r = e2e::run_program({"/bin/sh", "-c", "sleep 20"}, {.timeout = e2e::milliseconds(300)});
  EXPECT_TRUE(r.timed_out);
  EXPECT_EQ(r.signal, SIGKILL);
}

TEST_F(Harness, MissingProgramIsReported) {
  auto r = e2e::run_program({path("no-such-program")}, {});
  EXPECT_EQ(r.status, 127);
  EXPECT_NE(r.err.find("cannot run"), std::string::npos);
}

TEST_F(Harness, BackgroundProcessTakesInputAndSignals) {
  auto p = start(
      {"-c", "trap 'echo got-int; exit 4' INT; echo ready; while read l; do echo \"<$l>\"; done"},
      {.program = "/bin/sh"});
  ASSERT_TRUE(p->wait_for_output("ready"));
  p->write_input("one\n");
  ASSERT_TRUE(p->wait_for_output("<one>"));
  ASSERT_TRUE(p->wait_until_reading());
  p->send_signal(SIGINT);
  auto r = p->wait();
  EXPECT_EQ(r.status, 4) << r;
  EXPECT_EQ(r.out, "ready\n<one>\ngot-int\n");
}

TEST_F(Harness, BackgroundProcessEndsWhenInputCloses) {
  auto p = start({}, {.program = "/bin/cat"});
  p->write_input("abc");
  p->close_input();
  auto r = p->wait();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "abc");
}

TEST_F(Harness, FileHelpers) {
  write_file(path("a"), std::string("x\0y\n", 4));
  e2e::copy_file(path("a"), path("b"));
  EXPECT_EQ(read_file(path("b")), std::string("x\0y\n", 4));
  EXPECT_TRUE(e2e::same_bytes(path("a"), path("b")));
  EXPECT_TRUE(e2e::file_holds(path("a"), std::string("x\0y\n", 4)));
  EXPECT_EQ(e2e::list_dir(scratch()), (std::vector<std::string>{"a", "b"}));

  write_file(path("c"), std::string("x\0z\n", 4));
  auto differ = e2e::same_bytes(path("a"), path("c"));
  EXPECT_FALSE(differ);
  EXPECT_NE(std::string(differ.message()).find("offset 2: 0x79 against 0x7a"), std::string::npos)
      << differ.message();
  EXPECT_FALSE(e2e::file_holds(path("a"), "x"));
  EXPECT_FALSE(e2e::same_bytes(path("a"), path("missing")));
}

TEST(ScratchDirectory, RemovedWithItsContents) {
  std::string where;
  {
    e2e::ScratchDir dir("probe");
    where = dir.path();
    ASSERT_FALSE(where.empty());
    std::filesystem::create_directories(where + "/x/y");
    e2e::write_file(where + "/x/y/f", "data");
    EXPECT_TRUE(e2e::file_exists(where + "/x/y/f"));
  }
  EXPECT_FALSE(e2e::file_exists(where));
}

}  // namespace
