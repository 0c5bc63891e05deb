// The harness itself, on plain shell commands: what the tests of ixkit rely on.
#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "tests/e2e/harness.h"

namespace {

using namespace e2e;

class Harness : public E2eTest {};

// Streams, status, input (more than a pipe holds), environment without the runtime's
// variables, working directory, time-out and a program that is missing (the console is
// shown by the console service tests).
TEST_F(Harness, RunsAChildAsAsked) {
  setenv("K_BUFFERS", "5", 1);
  auto r =
      run({"-c", "cat; echo \"[$K_BUFFERS][$K_VERSION]\"; pwd -P; printf err >&2; exit 7"},
          {.input = std::string(300000, 'i'), .env = {{"K_VERSION", "3"}}, .program = "/bin/sh"});
  unsetenv("K_BUFFERS");
  EXPECT_EQ(said(r), "7 [" + std::string(300000, 'i') + "[][3]\n" +
                         std::filesystem::canonical(scratch()).string() + "\n][err]");
  r = run_program({"/bin/sh", "-c", "sleep 20"}, {.timeout = milliseconds(300)});
  EXPECT_TRUE(r.timed_out && r.signal == SIGKILL);
  EXPECT_EQ(said(run_program({path("none")}, {})),
            "127 [][harness: cannot run " + path("none") + "\n]");
}

// File comparison, and the scratch directory removed with its contents.
TEST_F(Harness, FilesAndScratchDirectory) {
  write_file(path("a"), std::string("x\0y", 3));
  EXPECT_EQ(file_holds(path("a"), std::string("x\0z", 3)).message(),
            path("a") + " (3 bytes, expected 3) first differs at offset 2");
  EXPECT_FALSE(file_holds(path("missing"), ""));
  // Another fixture's directory, with a tree of files, goes with the fixture.
  struct Other : E2eTest {
    using E2eTest::path;
    void TestBody() override {}
  };
  auto other = std::make_unique<Other>();
  const std::string where = other->path("x");
  std::filesystem::create_directories(where + "/y");
  write_file(where + "/y/f", "data");
  other.reset();
  EXPECT_FALSE(file_exists(where));
}

}  // namespace
