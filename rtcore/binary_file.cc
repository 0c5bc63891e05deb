// Unbuffered binary files on operating-system descriptors.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "ixkit/libs/rtcore.h"

namespace {

// Largest piece handed to one system call.
constexpr long kPiece = 1L << 30;

// Reads until count bytes came or the file ended; a failure loses the partial transfer.
long read_all(int fd, void* buffer, long count) {
  if (count < 0 || (!buffer && count > 0)) {
    errno = EINVAL;
    return -1;
  }
  auto* at = static_cast<char*>(buffer);
  long done = 0;
  while (done < count) {
    long piece = count - done < kPiece ? count - done : kPiece;
    long got = rt_os_read(fd, at + done, static_cast<size_t>(piece));
    if (got < 0) return -1;
    if (got == 0) break;
    done += got;
  }
  return done;
}

long write_all(int fd, const void* buffer, long count) {
  if (count < 0 || (!buffer && count > 0)) {
    errno = EINVAL;
    return -1;
  }
  const auto* at = static_cast<const char*>(buffer);
  long done = 0;
  while (done < count) {
    long piece = count - done < kPiece ? count - done : kPiece;
    long put = rt_os_write(fd, at + done, static_cast<size_t>(piece));
    if (put < 0) return -1;
    if (put == 0) {  // no progress: treat as a full device rather than loop for ever
      errno = ENOSPC;
      return -1;
    }
    done += put;
  }
  return done;
}

}  // namespace

int rt_open(const char* name, int flags) {
  if (!name) {
    errno = EINVAL;
    return -1;
  }
  int mode;
  switch (flags) {
    case RT_OPEN_READ:
    case RT_OPEN_EXISTING:
      mode = O_RDONLY;
      break;
    case RT_OPEN_READ_WRITE:
      mode = O_RDWR;
      break;
    case RT_OPEN_CREATE:
      mode = O_WRONLY | O_CREAT | O_TRUNC;
      break;
    default:
      errno = EINVAL;
      return -1;
  }
  return rt_os_open(name, mode, 0666);
}

long rt_read(int fd, void* buffer, long count) {
  return read_all(fd, buffer, count);
}

long rt_write(int fd, const void* buffer, long count) {
  return write_all(fd, buffer, count);
}

long long rt_seek(int fd, long long offset, int whence) {
  if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) {
    errno = EINVAL;
    return -1;
  }
  return lseek(fd, static_cast<off_t>(offset), whence);
}

// Not repeated on EINTR: the descriptor is released either way.
int rt_close(int fd) {
  return rt_os_close(fd);
}

long rt_fd_read(int fd, void* buffer, long count) {
  return read_all(fd, buffer, count);
}

long rt_fd_write(int fd, const void* buffer, long count) {
  return write_all(fd, buffer, count);
}

long long rt_fd_length(int fd) {
  struct stat info;
  if (fstat(fd, &info) != 0) return -1;
  return info.st_size;
}
