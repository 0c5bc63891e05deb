// File error codes, binary files and streams.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "rtcore/test_support.h"

namespace {

class FilesTest : public RtTest {};

TEST_F(FilesTest, ErrorCodes) {
  rt_set_file_error(RT_ERR_DAMAGED, 83);
  EXPECT_EQ(*rt_file_error(), 6);
  EXPECT_EQ(*rt_file_error2(), 83);
  *rt_file_error() = RT_ERR_DUPLICATE;  // callers may write the codes directly
  EXPECT_STREQ(rt_file_error_text(*rt_file_error()), "duplicate key");
  EXPECT_STREQ(rt_file_error_text(RT_ERR_ACCESS), "access denied");
  EXPECT_STREQ(rt_file_error_text(18), "unknown error");
  EXPECT_STREQ(rt_file_error_text(-1), "unknown error");
  rt_set_file_error(0, 0);
}

TEST_F(FilesTest, OpenModes) {
  std::string name = path("data.bin");
  mode_t old_mask = umask(022);
  int fd = rt_open(name.c_str(), RT_OPEN_CREATE);
  umask(old_mask);
  ASSERT_GE(fd, 0);
  struct stat info;
  ASSERT_EQ(stat(name.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
  EXPECT_EQ(rt_write(fd, "0123456789", 10), 10);
  char buffer[16] = {};
  EXPECT_EQ(rt_read(fd, buffer, 1), -1);  // write only
  EXPECT_EQ(rt_fd_length(fd), 10);
  rt_close(fd);

  for (int flags : {RT_OPEN_READ, RT_OPEN_EXISTING}) {
    fd = rt_open(name.c_str(), flags);
    EXPECT_EQ(rt_seek(fd, 4, SEEK_SET), 4);
    EXPECT_EQ(rt_read(fd, buffer, 16), 6);  // short only at the end
    EXPECT_STREQ(buffer, "456789");
    EXPECT_EQ(rt_write(fd, "x", 1), -1);  // read only
    rt_close(fd);
  }

  fd = rt_open(name.c_str(), RT_OPEN_READ_WRITE);
  EXPECT_EQ(rt_fd_write(fd, "ab", 2), 2);
  rt_seek(fd, 0, SEEK_SET);
  EXPECT_EQ(rt_fd_read(fd, buffer, 3), 3);
  EXPECT_EQ(std::string(buffer, 3), "ab2");
  rt_close(fd);
  fd = rt_open(name.c_str(), RT_OPEN_CREATE);  // empties the file
  EXPECT_EQ(rt_fd_length(fd), 0);
  rt_close(fd);

  for (int flags : {RT_OPEN_READ, RT_OPEN_EXISTING, RT_OPEN_READ_WRITE}) {
    EXPECT_EQ(rt_open(path("missing").c_str(), flags), -1);
    EXPECT_EQ(errno, ENOENT);
  }
  EXPECT_EQ(access(path("missing").c_str(), F_OK), -1);  // not created by any of them
  EXPECT_EQ(rt_open(name.c_str(), 1), -1);
  EXPECT_EQ(rt_open(nullptr, RT_OPEN_READ), -1);
  EXPECT_EQ(rt_fd_length(-1), -1);
}

// A pipe delivers the bytes in pieces: the read waits for all of them.
TEST_F(FilesTest, ReadGathersShortTransfers) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  std::thread writer([&] {
    for (const char* piece : {"abc", "defg", "hi"}) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      EXPECT_GT(write(ends[1], piece, strlen(piece)), 0);
    }
    close(ends[1]);
  });
  char buffer[16] = {};
  EXPECT_EQ(rt_read(ends[0], buffer, 9), 9);
  EXPECT_STREQ(buffer, "abcdefghi");
  writer.join();
  EXPECT_EQ(rt_read(ends[0], buffer, 9), 0);
  close(ends[0]);
}

TEST_F(FilesTest, Streams) {
  std::string name = path("text.txt");
  FILE* out = rt_fopen(name.c_str(), "wt", 0);  // Windows text-mode letter accepted
  ASSERT_NE(out, nullptr);
  rt_fprintf(out, "line one\nz");
  EXPECT_EQ(rt_fflush(out), 0);
  EXPECT_EQ(rt_fclose(out), 0);
  FILE* in = rt_fopen(name.c_str(), "rt", 0);
  ASSERT_NE(in, nullptr);
  char buffer[64];
  EXPECT_EQ(rt_fgets(buffer, 1, in), nullptr);  // no room for a character
  EXPECT_EQ(rt_fgets(buffer, sizeof buffer, in), buffer);
  EXPECT_STREQ(buffer, "line one\n");
  EXPECT_EQ(rt_getc(in), 'z');
  EXPECT_EQ(rt_getc(in), -1);
  EXPECT_EQ(rt_fgets(buffer, sizeof buffer, in), nullptr);
  rt_fclose(in);
  EXPECT_EQ(rt_fopen(name.c_str(), "q", 0), nullptr);
  EXPECT_EQ(rt_fopen(nullptr, "r", 0), nullptr);
  EXPECT_EQ(rt_fclose(nullptr), -1);

  EXPECT_EQ(rt_stdout(), stdout);
  capture();
  EXPECT_TRUE(rt_stdin() == in_ && rt_stdout() == out_ && rt_stderr() == err_);
  rt_shutdown();
  EXPECT_TRUE(rt_stdin() == stdin && rt_stdout() == stdout && rt_stderr() == stderr);
}

}  // namespace
