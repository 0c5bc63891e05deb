// Growable text buffer, kept in tracked memory under the purpose and source given at creation.
#include <cstring>

#include "ixkit/libs/rtcore.h"

struct RtStrBuf {
  char* data;  // always zero-terminated
  size_t length;
  size_t capacity;  // bytes of data, terminator included
};

namespace {

constexpr size_t kSmallest = 16;

// Grows data to hold at least needed bytes; false (buffer unchanged) when memory runs out.
bool reserve(RtStrBuf* buffer, size_t needed) {
  if (needed <= buffer->capacity) return true;
  size_t capacity = buffer->capacity;
  while (capacity < needed) capacity = capacity > SIZE_MAX / 2 ? needed : capacity * 2;
  void* grown = rt_realloc(buffer->data, capacity, __FILE__, __LINE__, 0);
  if (!grown) return false;
  buffer->data = static_cast<char*>(grown);
  buffer->capacity = capacity;
  return true;
}

}  // namespace

RtStrBuf* rt_strbuf_new(const char* purpose, size_t size, const char* source, int line, int flags) {
  size_t capacity = size < kSmallest ? kSmallest : size;
  if (capacity == SIZE_MAX) return nullptr;
  ++capacity;  // room for the terminator
  auto* buffer =
      static_cast<RtStrBuf*>(rt_alloc(sizeof(RtStrBuf), flags, source, line, purpose, 0));
  if (!buffer) return nullptr;
  buffer->data = static_cast<char*>(rt_alloc(capacity, flags, source, line, purpose, 0));
  if (!buffer->data) {
    rt_free(buffer, source, line, 0);
    return nullptr;
  }
  buffer->length = 0;
  buffer->capacity = capacity;
  return buffer;
}

// Copies no further than the text's terminator, so a count too large never reads past it.
int rt_strbuf_append(RtStrBuf* buffer, const char* text, long count) {
  if (!buffer) return 0;
  if (!text || count == 0) return 1;
  size_t size = count < 0 ? strlen(text) : strnlen(text, static_cast<size_t>(count));
  if (size >= SIZE_MAX - buffer->length) return 0;
  // The text may lie inside the buffer itself; find it again after the buffer moves.
  bool inside = text >= buffer->data && text < buffer->data + buffer->capacity;
  size_t offset = inside ? static_cast<size_t>(text - buffer->data) : 0;
  if (!reserve(buffer, buffer->length + size + 1)) return 0;
  if (inside) text = buffer->data + offset;
  memmove(buffer->data + buffer->length, text, size);
  buffer->length += size;
  buffer->data[buffer->length] = '\0';
  return 1;
}

void rt_strbuf_clear(RtStrBuf* buffer) {
  if (!buffer) return;
  buffer->length = 0;
  buffer->data[0] = '\0';
}

char* rt_strbuf_text(RtStrBuf* buffer) {
  static char empty[1];
  if (!buffer) {
    empty[0] = '\0';
    return empty;
  }
  return buffer->data;
}

size_t rt_strbuf_length(const RtStrBuf* buffer) {
  return buffer ? buffer->length : 0;
}

void rt_strbuf_free(RtStrBuf* buffer) {
  if (!buffer) return;
  rt_free(buffer->data, __FILE__, __LINE__, 0);
  rt_free(buffer, __FILE__, __LINE__, 0);
}
