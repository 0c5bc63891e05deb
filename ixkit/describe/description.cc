// Key texts of k5_info: read by their fixed positions, and joined for k5_make.
#include "ixkit/describe/description.h"

#include <cstdio>
#include <cstring>

#include "ixkit/front/console.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/rtcore.h"

namespace {

// Characters of a key text: 4 for count and duplicates, then 15 per segment.
constexpr size_t key_text_length(unsigned segments) {
  return 4 + 15 * static_cast<size_t>(segments);
}

}  // namespace

void parse_key_text(const char* text, KeyTextInfo* key) {
  *key = KeyTextInfo{};
  const size_t length = strnlen(text, K_KEY_TEXT_SIZE);
  unsigned count = 0;
  if (length < key_text_length(0) || sscanf(text, "%2u", &count) != 1) return;
  sscanf(text + 3, "%1u", &key->duplicates);
  // Only the segments the text really holds are read: a count above 16 or beyond the end
  // of the text is cut to what is there.
  if (count > K_MAX_SEGMENTS) count = K_MAX_SEGMENTS;
  while (count > 0 && key_text_length(count) > length) --count;
  for (unsigned i = 0; i < count; ++i) {
    sscanf(text + 5 + 15 * i, "%u,%u", &key->size[i], &key->offset[i]);
    key->total_size += key->size[i];
  }
  key->segment_count = count;
}

int read_key_text(KFile* file, int key, KeyTextInfo* out) {
  char text[K_KEY_TEXT_SIZE] = {};
  *out = KeyTextInfo{};
  // Negative codes describe the file, not a key.
  if (key < 0 || !k5_info(file, key, text)) return 0;
  text[K_KEY_TEXT_SIZE - 1] = '\0';
  parse_key_text(text, out);
  return 1;
}

int collating_edge(const uint8_t* table, int highest) {
  int best = 0;
  for (int c = 1; c < 256; c++) {
    if (highest ? table[c] >= table[best] : table[c] < table[best]) best = c;
  }
  return best;
}

char* join_key_texts(KFile* file, int count) {
  // No file has more than K_MAX_KEYS keys; the count comes from a description text.
  if (count < 0) count = 0;
  if (count > K_MAX_KEYS) count = K_MAX_KEYS;
  const size_t size = K_KEY_TEXT_SIZE * static_cast<size_t>(count > 0 ? count : 1);
  char* joined = static_cast<char*>(rt_alloc(size, 0, IXKIT_SOURCE, __LINE__, "vmalloc()", 0));
  if (joined == nullptr) out_of_memory();
  // Each text is written at the end of the last one and its terminator replaced by ",". A key
  // the library does not describe ends the text there; k5_make then refuses the short list.
  size_t at = 0;
  for (int k = 0; k < count; ++k) {
    if (!k5_info(file, k, joined + at)) break;
    at += strnlen(joined + at, K_KEY_TEXT_SIZE - 1);
    joined[at++] = ',';
  }
  joined[at > 0 ? at - 1 : 0] = '\0';
  return joined;
}
