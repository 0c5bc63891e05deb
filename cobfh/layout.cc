// Layouts from the key definition block and from k5_info, and the texts of k5_make.
#include "cobfh/layout.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cobfh/fcd.h"

namespace {

// Can a Kelvra file of version 4 or 5 (the ones k5_make makes) hold this key?
bool key_fits(const KeyLayout& key, uint32_t max_record) {
  if (key.parts.empty() || key.size == 0 || key.size > static_cast<uint32_t>(K_MAX_KEY_SIZE)) {
    return false;
  }
  for (const KeyPart& p : key.parts) {
    if (p.size == 0 || p.offset + p.size > max_record) return false;
  }
  return true;
}

// Appends n to a text of numbers separated by commas.
void add_number(std::string* text, size_t n) {
  if (!text->empty()) *text += ',';
  *text += std::to_string(n);
}

}  // namespace

FileLayout layout_from_fcd(const FCD3* fcd) {
  FileLayout layout;
  layout.max_record = get_be32(fcd->maxRecLen);
  layout.min_record = get_be32(fcd->minRecLen);
  if (layout.min_record == 0 || fcd->recordMode != REC_MODE_VARIABLE) {
    layout.min_record = fcd->recordMode == REC_MODE_VARIABLE ? 1 : layout.max_record;
  }
  const KDB* kdb = fcd->kdbPtr;
  if (!kdb) return layout;
  uint32_t count = get_be16(kdb->nkeys);
  if (count == 0 || count > static_cast<uint32_t>(K_MAX_KEYS) || count > MF_MAXKEYS) return layout;
  const unsigned char* base = reinterpret_cast<const unsigned char*>(kdb);
  for (uint32_t k = 0; k < count; k++) {
    const KDB_KEY& def = kdb->key[k];
    KeyLayout key;
    key.duplicates = (def.keyFlags & KEY_DUPS) != 0 || (def.compFlags & KEY_COMP_DUPS) != 0;
    uint32_t parts = get_be16(def.count), at = get_be16(def.offset);
    if ((def.keyFlags & KEY_SPARSE) || parts > static_cast<uint32_t>(K_MAX_SEGMENTS)) {
      return {layout.min_record, layout.max_record, {}};
    }
    for (uint32_t i = 0; i < parts; i++) {
      const EXTKEY* part = reinterpret_cast<const EXTKEY*>(base + at + i * sizeof(EXTKEY));
      key.parts.push_back({get_be32(part->pos), get_be32(part->len)});
      key.size += key.parts.back().size;
    }
    if (!key_fits(key, layout.max_record)) return {layout.min_record, layout.max_record, {}};
    layout.keys.push_back(key);
  }
  return layout;
}

FileLayout layout_of_file(KFile* file) {
  FileLayout layout;
  char text[K_KEY_TEXT_SIZE + 16] = {};
  unsigned max = 0, min = 0, keys = 0;
  if (!k5_info(file, -1, text) || sscanf(text, "%u,%u,%u", &max, &min, &keys) != 3) return layout;
  layout.max_record = max;
  layout.min_record = min;
  for (unsigned k = 0; k < keys; k++) {
    if (!k5_info(file, static_cast<int>(k), text)) return FileLayout{};
    KeyLayout key;
    unsigned parts = static_cast<unsigned>(atoi(text));
    key.duplicates = text[3] == '1';
    for (unsigned i = 0; i < parts; i++) {
      unsigned size = 0, offset = 0;
      if (sscanf(text + 5 + 15 * i, "%u,%u", &size, &offset) != 2) return FileLayout{};
      key.parts.push_back({offset, size});
      key.size += size;
    }
    layout.keys.push_back(key);
  }
  return layout;
}

bool layouts_match(const FileLayout& declared, const FileLayout& file) {
  if (declared.max_record != file.max_record || declared.keys.size() != file.keys.size()) {
    return false;
  }
  for (size_t k = 0; k < declared.keys.size(); k++) {
    const KeyLayout& a = declared.keys[k];
    const KeyLayout& b = file.keys[k];
    if (a.duplicates != b.duplicates || a.parts.size() != b.parts.size()) return false;
    for (size_t i = 0; i < a.parts.size(); i++) {
      if (a.parts[i].offset != b.parts[i].offset || a.parts[i].size != b.parts[i].size) {
        return false;
      }
    }
  }
  return true;
}

std::string layout_sizes_text(const FileLayout& layout) {
  std::string text;
  for (size_t n : {size_t{layout.max_record}, size_t{layout.min_record}, layout.keys.size()}) {
    add_number(&text, n);
  }
  return text;
}

std::string layout_keys_text(const FileLayout& layout) {
  std::string text;
  for (const KeyLayout& key : layout.keys) {
    add_number(&text, key.parts.size());
    add_number(&text, key.duplicates ? 1 : 0);
    for (const KeyPart& p : key.parts) {
      add_number(&text, p.size);
      add_number(&text, p.offset);
    }
  }
  return text;
}

void layout_key(const FileLayout& layout, int k, const uint8_t* record, uint32_t length,
                uint8_t* out) {
  for (const KeyPart& p : layout.keys[static_cast<size_t>(k)].parts) {
    uint32_t have = p.offset >= length ? 0 : std::min(p.size, length - p.offset);
    if (have) memcpy(out, record + p.offset, have);
    memset(out + have, 0, p.size - have);
    out += p.size;
  }
}
