// printf-style printing, and texts whose "%1" to "%3" take text arguments.
#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <new>
#include <string>

#include "ixkit/libs/rtcore.h"

namespace {

// Room rt_format_args may fill, terminator included.
constexpr int kFormatRoom = 4096;

// "%N" (N from 1 to 3) is a text argument, except when the character after N shows a
// printf conversion with width N, as in "%2d", "%3ld", "%1.4f" or "%2$s".
bool is_placeholder(const char* percent) {
  char digit = percent[1];
  if (digit < '1' || digit > '3') return false;
  char next = percent[2];
  return next == '\0' || !strchr("0123456789.$*diouxXeEfFgGaAcCsSpnmhlLqjzt", next);
}

// The printf format that prints text: each placeholder is replaced by its text argument,
// taken from *args (its own '%' doubled), leaving *args at the first printf argument.
std::string args_format(const char* text, va_list* args) {
  if (!text) return {};
  int highest = 0;
  for (const char* p = text; *p; ++p) {
    if (*p != '%') continue;
    if (p[1] == '%') {
      ++p;
    } else if (is_placeholder(p)) {
      highest = std::max(highest, p[1] - '0');
    }
  }
  const char* words[3] = {};
  for (int i = 0; i < highest; ++i) words[i] = va_arg(*args, const char*);

  std::string format;
  for (const char* p = text; *p; ++p) {
    if (*p == '%' && p[1] == '%') {
      format += "%%";
      ++p;
    } else if (*p == '%' && is_placeholder(p)) {
      for (const char* w = words[p[1] - '1']; w && *w; ++w) {
        if (*w == '%') format += '%';
        format += *w;
      }
      ++p;
    } else if (*p == '%' && p[1] == '\0') {
      format += "%%";  // a lone '%' at the end prints as itself
    } else {
      format += *p;
    }
  }
  return format;
}

}  // namespace

int rt_print(const char* format, ...) {
  if (!format) return -1;
  va_list args;
  va_start(args, format);
  int written = vfprintf(rt_stdout(), format, args);
  va_end(args);
  return written;
}

int rt_fprintf(FILE* stream, const char* format, ...) {
  if (!stream || !format) return -1;
  va_list args;
  va_start(args, format);
  int written = vfprintf(stream, format, args);
  va_end(args);
  return written;
}

int rt_print_args(const char* text, ...) {
  if (!text) return -1;
  va_list args;
  va_start(args, text);
  int written = -1;
  try {
    std::string format = args_format(text, &args);
    written = vfprintf(rt_stdout(), format.c_str(), args);
  } catch (const std::bad_alloc&) {
  }
  va_end(args);
  return written;
}

int rt_fprint_args(FILE* stream, const char* text, ...) {
  if (!stream || !text) return -1;
  va_list args;
  va_start(args, text);
  int written = -1;
  try {
    std::string format = args_format(text, &args);
    written = vfprintf(stream, format.c_str(), args);
  } catch (const std::bad_alloc&) {
  }
  va_end(args);
  return written;
}

// Returns the number of characters placed in buffer (a longer result is cut), -1 on failure.
int rt_format_args(char* buffer, const char* text, ...) {
  if (!buffer) return -1;
  buffer[0] = '\0';
  if (!text) return -1;
  va_list args;
  va_start(args, text);
  int written = -1;
  try {
    std::string format = args_format(text, &args);
    written = vsnprintf(buffer, kFormatRoom, format.c_str(), args);
  } catch (const std::bad_alloc&) {
  }
  va_end(args);
  if (written < 0) {
    buffer[0] = '\0';
    return -1;
  }
  return written < kFormatRoom ? written : kFormatRoom - 1;
}
