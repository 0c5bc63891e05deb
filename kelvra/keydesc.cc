// Key descriptions: make texts, key texts, key extraction and the dictionary area.
#include "kelvra/keydesc.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ixkit/libs/rtcore.h"
#include "kelvra/bytes.h"
#include "kelvra/errors.h"

namespace {

constexpr uint32_t kDictionaryMagic = 0x4B444943;  // "KDIC"
constexpr int kMaxFields = 4 + K_MAX_KEYS * (2 + 2 * K_MAX_SEGMENTS);

// Splits a comma-separated text of numbers; blanks around a number are allowed. Returns the
// number of fields, or -1 when a field is empty, not a number, or too large.
int split_numbers(const char* text, uint32_t* out, int capacity) {
  if (!text) return -1;
  int n = 0;
  const char* p = text;
  while (true) {
    while (*p == ' ' || *p == '\t') p++;
    if (!isdigit(static_cast<unsigned char>(*p))) return -1;
    uint64_t v = 0;
    while (isdigit(static_cast<unsigned char>(*p))) {
      v = v * 10 + static_cast<uint64_t>(*p - '0');
      if (v > 0xFFFFFFFFull) return -1;
      p++;
    }
    while (*p == ' ' || *p == '\t') p++;
    if (n == capacity) return -1;
    out[n++] = static_cast<uint32_t>(v);
    if (*p == 0) return n;
    if (*p != ',') return -1;
    p++;
  }
}

void finish_key(KeyDesc* k) {
  k->length = 0;
  for (int i = 0; i < k->segment_count; i++) k->length += static_cast<int>(k->segments[i].size);
  k->entry = k->length + (k->duplicates ? K_SERIAL_SIZE : 0);
}

int fits_blocks(const FileDescription& d, int blocking) {
  for (int k = 0; k < d.key_count; k++) {
    if (leaf_capacity(d.version, blocking * 512, d.keys[k]) < 3) return 0;
    if (inner_capacity(d.version, blocking * 512, d.keys[k]) < 3) return 0;
    // Version 2 counts a node's entries in one byte.
    if (d.version == 2 && leaf_capacity(2, blocking * 512, d.keys[k]) > 255) return 0;
  }
  return 1;
}

}  // namespace

uint32_t version_record_limit(int version) {
  return version >= 5 ? 67108864u : 32767u;
}

int leaf_capacity(int version, int block_bytes, const KeyDesc& k) {
  int room = block_bytes - node_header_size(version) - 8;
  return room / (k.entry + address_size(version));
}

int inner_capacity(int version, int block_bytes, const KeyDesc& k) {
  int room = block_bytes - node_header_size(version) - 4;
  return room / (k.entry + 4);
}

int parse_storage(const char* text, FileDescription* d) {
  uint32_t f[5] = {};
  int n = split_numbers(text, f, 5);
  if (n < 1) return k_fail(RT_ERR_PARAMETER, 1);
  d->blocking = static_cast<int>(f[0]);
  d->preallocate = f[1];
  d->extension = f[2];
  d->compression = static_cast<int>(f[3]);
  d->encryption = static_cast<int>(f[4]);
  return 1;
}

int parse_sizes(const char* text, FileDescription* d) {
  uint32_t f[3] = {};
  if (split_numbers(text, f, 3) != 3) return k_fail(RT_ERR_PARAMETER, 2);
  d->max_record = f[0];
  d->min_record = f[1];
  if (f[2] < 1 || f[2] > K_MAX_KEYS) return k_fail(RT_ERR_PARAMETER, 2);
  d->key_count = static_cast<int>(f[2]);
  return 1;
}

int parse_keys(const char* text, FileDescription* d) {
  static uint32_t f[kMaxFields];
  int n = split_numbers(text, f, kMaxFields);
  if (n < 0) return k_fail(RT_ERR_PARAMETER, 3);
  int at = 0;
  for (int k = 0; k < d->key_count; k++) {
    if (at + 2 > n) return k_fail(RT_ERR_PARAMETER, 3);
    KeyDesc* key = &d->keys[k];
    if (f[at] < 1 || f[at] > K_MAX_SEGMENTS || f[at + 1] > 1) return k_fail(RT_ERR_PARAMETER, 3);
    key->segment_count = static_cast<int>(f[at]);
    key->duplicates = static_cast<int>(f[at + 1]);
    at += 2;
    if (at + 2 * key->segment_count > n) return k_fail(RT_ERR_PARAMETER, 3);
    for (int s = 0; s < key->segment_count; s++) {
      key->segments[s].size = f[at++];
      key->segments[s].offset = f[at++];
    }
    finish_key(key);
  }
  if (at != n) return k_fail(RT_ERR_PARAMETER, 3);
  return 1;
}

int parse_v2_texts(const char* parameters, const char* description, FileDescription* d) {
  uint32_t p[2] = {};
  if (!description || split_numbers(parameters, p, 2) != 2) return k_fail(RT_ERR_PARAMETER, 1);
  d->version = 2;
  d->blocking = static_cast<int>(p[0]);
  d->preallocate = p[1];
  // Fields one by one: the comment at the end may hold commas of its own.
  const char* s = description;
  char field[32];
  auto next = [&](char* out) -> int {
    const char* c = strchr(s, ',');
    size_t len = c ? static_cast<size_t>(c - s) : strlen(s);
    if (len >= 32) return 0;
    memcpy(out, s, len);
    out[len] = 0;
    s = c ? c + 1 : s + len;
    return c ? 1 : 2;  // 2: this was the last field
  };
  auto number = [&](uint32_t* v) -> int {
    int r = next(field);
    uint32_t one[1];
    if (!r || split_numbers(field, one, 1) != 1) return 0;
    *v = one[0];
    return r;
  };
  auto yes_no = [&](int* v) -> int {
    int r = next(field);
    if (!r || (strcmp(field, "Y") != 0 && strcmp(field, "N") != 0)) return 0;
    *v = field[0] == 'Y';
    return r;
  };
  uint32_t size = 0, keys = 0;
  if (number(&size) != 1 || number(&keys) != 1) return k_fail(RT_ERR_PARAMETER, 2);
  if (keys < 1 || keys > K_MAX_KEYS) return k_fail(RT_ERR_PARAMETER, 2);
  d->max_record = d->min_record = size;
  d->key_count = static_cast<int>(keys);
  for (int k = 0; k < d->key_count; k++) {
    KeyDesc* key = &d->keys[k];
    key->segment_count = 1;
    if (number(&key->segments[0].size) != 1 || number(&key->segments[0].offset) != 1) {
      return k_fail(RT_ERR_PARAMETER, 3);
    }
    if (k > 0 && yes_no(&key->duplicates) != 1) return k_fail(RT_ERR_PARAMETER, 3);
    finish_key(key);
  }
  int reserved = 0, compressed = 0, encrypted = 0;
  // The field after the keys is always N.
  if (yes_no(&reserved) != 1 || reserved || yes_no(&compressed) != 1) {
    return k_fail(RT_ERR_PARAMETER, 4);
  }
  int last = yes_no(&encrypted);
  if (!last) return k_fail(RT_ERR_PARAMETER, 4);
  d->compression = compressed;
  d->encryption = encrypted;
  if (last == 1) snprintf(d->comment, sizeof d->comment, "%s", s);
  return 1;
}

int check_description(FileDescription* d) {
  int v = d->version;
  if (v < 2 || v > 5) return k_fail(RT_ERR_PARAMETER, 5);
  if (d->compression < 0 || d->compression > 100) return k_fail(RT_ERR_PARAMETER, 1);
  if (d->encryption < 0 || d->encryption > 1) return k_fail(RT_ERR_PARAMETER, 1);
  if (d->max_record < 1 || d->max_record > version_record_limit(v)) {
    return k_fail(RT_ERR_PARAMETER, 2);
  }
  if (d->min_record == 0) d->min_record = d->max_record;
  if (d->min_record > d->max_record) return k_fail(RT_ERR_PARAMETER, 2);
  if (d->key_count < 1 || d->key_count > K_MAX_KEYS) return k_fail(RT_ERR_PARAMETER, 2);
  int max_segments = v <= 3 ? 6 : K_MAX_SEGMENTS;
  for (int k = 0; k < d->key_count; k++) {
    KeyDesc* key = &d->keys[k];
    if (key->segment_count < 1 || key->segment_count > max_segments) {
      return k_fail(RT_ERR_PARAMETER, 3);
    }
    for (int s = 0; s < key->segment_count; s++) {
      const KeySegment& g = key->segments[s];
      if (g.size < 1 || g.size > K_MAX_KEY_SIZE || g.offset > d->max_record ||
          g.size > d->max_record - g.offset) {
        return k_fail(RT_ERR_PARAMETER, 3);
      }
    }
    finish_key(key);
    if (key->length > K_MAX_KEY_SIZE) return k_fail(RT_ERR_PARAMETER, 3);
  }
  int limit = v == 5 ? 16 : 2;
  if (d->blocking == 0) {
    // No blocking factor given: the smallest of 2, 4, 8, 16 whose nodes hold the keys.
    for (int b = 2; b <= limit && d->blocking == 0; b *= 2) {
      if (fits_blocks(*d, b)) d->blocking = b;
    }
    if (d->blocking == 0) return k_fail(RT_ERR_PARAMETER, 6);
  }
  if (d->blocking > limit) return k_fail(RT_ERR_PARAMETER, 1);
  // Every node must hold at least three entries of each key.
  if (!fits_blocks(*d, d->blocking)) return k_fail(RT_ERR_PARAMETER, 6);
  return 1;
}

void format_key_text(const KeyDesc& k, char* text) {
  int at = snprintf(text, K_KEY_TEXT_SIZE, "%02d,%d", k.segment_count, k.duplicates ? 1 : 0);
  for (int s = 0; s < k.segment_count; s++) {
    at += snprintf(text + at, static_cast<size_t>(K_KEY_TEXT_SIZE - at), ",%03u,%010u",
                   k.segments[s].size, k.segments[s].offset);
  }
}

void extract_key(const KeyDesc& k, const uint8_t* collating, const uint8_t* record, uint32_t len,
                 uint8_t* out) {
  int at = 0;
  for (int s = 0; s < k.segment_count; s++) {
    uint32_t off = k.segments[s].offset;
    uint32_t size = k.segments[s].size;
    uint32_t have = off < len ? (len - off < size ? len - off : size) : 0;
    if (have) memcpy(out + at, record + off, have);
    if (have < size) memset(out + at + have, 0, size - have);
    at += static_cast<int>(size);
  }
  translate(collating, out, k.length);
}

uint32_t dictionary_size(const Dictionary& d) {
  uint32_t n = 8;
  for (int k = 0; k < d.key_count; k++) n += 2 + 6 * static_cast<uint32_t>(d.keys[k].segment_count);
  n += 5 * static_cast<uint32_t>(d.key_count);
  if (d.has_collating) n += 256;
  return n + 4;
}

void encode_dictionary(const Dictionary& d, int version, uint8_t* out) {
  bool big = version != 2;
  uint8_t* p = out;
  put_uint(p, 4, big, kDictionaryMagic);
  put_uint(p + 4, 2, big, static_cast<uint64_t>(d.key_count));
  put_uint(p + 6, 2, big, d.has_collating ? 1 : 0);
  p += 8;
  for (int k = 0; k < d.key_count; k++) {
    const KeyDesc& key = d.keys[k];
    p[0] = static_cast<uint8_t>(key.segment_count);
    p[1] = static_cast<uint8_t>(key.duplicates);
    p += 2;
    for (int s = 0; s < key.segment_count; s++) {
      put_uint(p, 2, big, key.segments[s].size);
      put_uint(p + 2, 4, big, key.segments[s].offset);
      p += 6;
    }
  }
  for (int k = 0; k < d.key_count; k++) {
    put_uint(p, 4, big, d.root[k]);
    p[4] = d.height[k];
    p += 5;
  }
  if (d.has_collating) {
    memcpy(p, d.collating, 256);
    p += 256;
  }
  put_uint(p, 4, big, crc32(out, static_cast<uint32_t>(p - out)));
}

int decode_dictionary(const uint8_t* in, uint32_t size, int version, Dictionary* d) {
  bool big = version != 2;
  if (size < 12 || get_uint(in, 4, big) != kDictionaryMagic) return 0;
  if (get_uint(in + size - 4, 4, big) != crc32(in, size - 4)) return 0;
  d->key_count = static_cast<int>(get_uint(in + 4, 2, big));
  d->has_collating = get_uint(in + 6, 2, big) & 1;
  if (d->key_count < 1 || d->key_count > K_MAX_KEYS) return 0;
  const uint8_t* p = in + 8;
  const uint8_t* end = in + size - 4;
  for (int k = 0; k < d->key_count; k++) {
    if (end - p < 2) return 0;
    KeyDesc* key = &d->keys[k];
    key->segment_count = p[0];
    key->duplicates = p[1];
    p += 2;
    if (key->segment_count < 1 || key->segment_count > K_MAX_SEGMENTS || key->duplicates > 1) {
      return 0;
    }
    if (end - p < 6 * key->segment_count) return 0;
    for (int s = 0; s < key->segment_count; s++) {
      key->segments[s].size = static_cast<uint32_t>(get_uint(p, 2, big));
      key->segments[s].offset = static_cast<uint32_t>(get_uint(p + 2, 4, big));
      if (key->segments[s].size < 1 || key->segments[s].size > K_MAX_KEY_SIZE) return 0;
      p += 6;
    }
    finish_key(key);
    if (key->length > K_MAX_KEY_SIZE) return 0;
  }
  if (end - p < 5 * d->key_count) return 0;
  for (int k = 0; k < d->key_count; k++) {
    d->root[k] = static_cast<uint32_t>(get_uint(p, 4, big));
    d->height[k] = p[4];
    p += 5;
  }
  if (d->has_collating) {
    if (end - p < 256) return 0;
    memcpy(d->collating, p, 256);
    p += 256;
  }
  return p == end;
}

void dictionary_from_description(const FileDescription& f, Dictionary* d) {
  *d = Dictionary{};
  d->key_count = f.key_count;
  for (int k = 0; k < f.key_count; k++) d->keys[k] = f.keys[k];
  d->has_collating = f.has_collating;
  memcpy(d->collating, f.collating, 256);
}

uint32_t crc32(const uint8_t* p, uint32_t n) {
  static uint32_t table[256];
  static bool ready = false;
  if (!ready) {
    for (uint32_t i = 0; i < 256; i++) {
      uint32_t c = i;
      for (int b = 0; b < 8; b++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[i] = c;
    }
    ready = true;
  }
  uint32_t c = 0xFFFFFFFFu;
  for (uint32_t i = 0; i < n; i++) c = table[(c ^ p[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}
