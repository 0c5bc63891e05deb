// Buffered streams over the C library's FILE.
#include <cerrno>
#include <string>

#include "ixkit/libs/rtcore.h"

// Mode texts are those of fopen; a 't' (text mode, as on Windows) is accepted and dropped.
// flags are reserved.
FILE* rt_fopen(const char* name, const char* mode, int) {
  if (!name || !mode || (mode[0] != 'r' && mode[0] != 'w' && mode[0] != 'a')) {
    errno = EINVAL;
    return nullptr;
  }
  char plain[16];
  size_t length = 0;
  for (const char* m = mode; *m && length < sizeof plain - 1; ++m) {
    if (*m != 't') plain[length++] = *m;
  }
  plain[length] = '\0';
  if (rt_fault(RT_CALL_OPEN)) return nullptr;
  return fopen(name, plain);
}

int rt_fclose(FILE* stream) {
  if (!stream) return EOF;
  if (rt_fault(RT_CALL_CLOSE)) {
    fclose(stream);
    return EOF;
  }
  return fclose(stream);
}

int rt_getc(FILE* stream) {
  if (!stream || rt_fault(RT_CALL_READ)) return -1;
  for (;;) {
    int c = getc(stream);
    if (c != EOF) return c;
    if (!ferror(stream) || errno != EINTR) return -1;
    clearerr(stream);
  }
}

// Null at the end of input with nothing read, and for a buffer that holds no character.
char* rt_fgets(char* buffer, int size, FILE* stream) {
  if (!buffer || size < 1) return nullptr;
  buffer[0] = '\0';
  if (!stream || size < 2 || rt_fault(RT_CALL_READ)) return nullptr;
  for (;;) {
    if (fgets(buffer, size, stream)) return buffer;
    if (!ferror(stream) || errno != EINTR) return nullptr;
    clearerr(stream);
  }
}

// A null stream flushes every output stream, as with fflush.
int rt_fflush(FILE* stream) {
  return fflush(stream);
}
