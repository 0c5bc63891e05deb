// Console lines from the runtime's input stream, and system error reports.
#include <cerrno>
#include <cstring>

#include "ixkit/libs/rtcore.h"

namespace {

// The next character, reading again when a signal interrupted the wait.
int next_char(FILE* stream) {
  for (;;) {
    int c = getc(stream);
    if (c != EOF || !ferror(stream) || errno != EINTR) return c;
    clearerr(stream);
  }
}

}  // namespace

// The line end ("\n", or "\r\n") is removed; a line ending at the end of input without
// one is still a line.
int rt_input_line(char* buffer, int size) {
  if (!buffer || size < 1) return 0;
  FILE* stream = rt_stdin();
  int stored = 0;
  bool any = false;
  bool cr_kept = false;  // the last character stored is a '\r'
  for (;;) {
    int c = next_char(stream);
    if (c == EOF) break;
    any = true;
    if (c == '\n') {
      if (cr_kept) --stored;
      break;
    }
    cr_kept = false;
    if (stored < size - 1) {
      buffer[stored++] = static_cast<char>(c);
      cr_kept = c == '\r';
    }
  }
  buffer[stored] = '\0';
  return any ? 1 : 0;
}

void rt_report_error(const char* name) {
  int error = errno;
  FILE* stream = rt_stderr();
  if (name && *name) {
    fprintf(stream, "%s: %s\n", name, strerror(error));
  } else {
    fprintf(stream, "%s\n", strerror(error));
  }
  fflush(stream);
  errno = error;
}
