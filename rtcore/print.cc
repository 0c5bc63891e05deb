// printf-style printing, and texts whose "%1" to "%3" take text arguments.
#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <new>
#include <string>

#include "ixkit/libs/rtcore.h"
#include "rtcore/internal.h"

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

// The kind of argument of one printf conversion (p at the character after its '%'), with
// p left after it: a letter per argument that its '*' width and precision and the
// conversion itself take ("" for %m), or false for one that no text may hold: %n, which
// writes, a numbered argument ("%2$s"), or an unknown or missing conversion.
bool conversion_arguments(const char*& p, std::string* kinds) {
  while (*p && strchr("-+ #0'", *p)) ++p;
  for (int part = 0; part < 2; ++part) {  // the width, then the precision after a '.'
    if (part == 1) {
      if (*p != '.') break;
      ++p;
    }
    if (*p == '*') {
      *kinds += 'i';
      ++p;
    }
    while (*p >= '0' && *p <= '9') ++p;
    if (*p == '$') return false;
  }
  // The length modifier: the arguments of "%hd" and "%d" are passed alike, as are those of
  // "%lld" and "%qd".
  char length = ' ';
  if (p[0] == 'h') {
    p += p[1] == 'h' ? 2 : 1;
  } else if (p[0] == 'l' && p[1] == 'l') {
    length = 'q';
    p += 2;
  } else if (*p && strchr("lLqjzt", *p)) {
    length = *p == 'L' ? 'q' : *p;
    ++p;
  }
  const char conversion = *p;
  if (conversion == '\0') return false;
  ++p;
  if (strchr("diouxXc", conversion)) {
    *kinds += length == ' ' ? 'i' : length;
  } else if (strchr("eEfFgGaA", conversion)) {
    *kinds += length == 'q' ? 'D' : 'd';
  } else if (conversion == 's') {
    *kinds += length == 'l' ? 'S' : 's';
  } else if (conversion == 'p') {
    *kinds += 'p';
  } else if (conversion != 'm') {
    return false;
  }
  return true;
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

bool rtcore::text_arguments(const char* text, std::string* kinds) {
  kinds->clear();
  if (!text) return false;
  int highest = 0;
  for (const char* p = text; *p;) {
    if (*p++ != '%') continue;
    if (*p == '%') {
      ++p;
    } else if (is_placeholder(p - 1)) {
      highest = std::max(highest, *p++ - '0');
    } else if (!conversion_arguments(p, kinds)) {
      return false;
    }
  }
  *kinds += static_cast<char>('0' + highest);
  return true;
}

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
