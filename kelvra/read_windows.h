// Read windows: stretches of an open file's segment files kept in memory, so that reads
// that follow one another, or come back near an earlier one, cost no system call. A window
// that reads run through is read on in larger pieces; one met by a lone read stays small.
//
// The bytes are copied from the file with positioned reads, never seen through a mapping:
// a file that another open shortens then gives short reads (a damaged-file code), not a
// signal. Every write of the library passes through windows_store, so that a window holds
// what the file holds; windows_forget drops them all at once.
#ifndef KELVRA_READ_WINDOWS_H
#define KELVRA_READ_WINDOWS_H

#include <cstddef>
#include <cstdint>
#include <vector>

struct ReadWindow {
  int code = 0;      // segment code (K_SEGMENT_DATA, K_SEGMENT_INDEX) and number
  int segment = -1;  // -1: holds nothing
  uint64_t start = 0;
  uint64_t length = 0;         // bytes held from start (fewer than read at the end of the file)
  std::vector<uint8_t> bytes;  // as many as were asked for at the last read
  uint64_t used = 0;           // when it last gave bytes, for choosing one to read anew
};

struct ReadWindows {
  std::vector<ReadWindow> windows;
  size_t last = 0;  // the window that gave bytes last, looked at first
  uint64_t clock = 0;
  uint64_t misses = 0;  // reads that went to the file
};

// Copies count bytes at pos of segment (code, n), open on descriptor fd, into out: from a
// window, else after reading a window there. 1 when all count bytes were there, 0 when the
// file ends before them, -1 when the system refused the read (errno says why).
int window_read(ReadWindows* r, int code, int n, int fd, uint64_t pos, uint8_t* out,
                uint32_t count);
// Bytes written at pos of segment (code, n): windows that hold that place take them.
void windows_store(ReadWindows* r, int code, int n, uint64_t pos, const uint8_t* bytes,
                   uint64_t count);
// Drops what every window holds.
void windows_forget(ReadWindows* r);

#endif  // KELVRA_READ_WINDOWS_H
