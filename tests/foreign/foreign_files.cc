// The three foreign layouts, written from their descriptions.
#include "tests/foreign/foreign_files.h"

#include <algorithm>
#include <numeric>

namespace foreign {

std::string be16(uint32_t n) {
  return {static_cast<char>(n >> 8), static_cast<char>(n)};
}
std::string be32(uint32_t n) {
  return be16(n >> 16) + be16(n & 0xFFFF);
}

namespace {

void put(std::string& at, size_t offset, const std::string& bytes) {
  if (at.size() < offset + bytes.size()) at.resize(offset + bytes.size(), '\0');
  at.replace(offset, bytes.size(), bytes);
}

}  // namespace

// ---- C-ISAM ----------------------------------------------------------------------------

std::string cisam_index(const CisamLayout& l) {
  std::string dictionary(l.node_size, '\0');
  put(dictionary, 0, "\xFE\x53\x02\x02\x04\x04");
  put(dictionary, 6, be16(l.node_size - 1u));
  put(dictionary, 8, be16(l.declared_keys < 0 ? l.keys.size() : l.declared_keys));
  put(dictionary, 13, be16(l.record_length));
  put(dictionary, 15, be32(2));

  std::vector<std::string> nodes;
  std::string node;
  int in_node = 0;
  for (const CisamKey& key : l.keys) {
    std::string d = be16(7 + 5 * key.parts.size()) + std::string(5, '\0');
    for (size_t i = 0; i < key.parts.size(); ++i) {
      const CisamPart& p = key.parts[i];
      d += be16(p.length | (i == 0 && key.duplicates ? 0x8000 : 0)) + be16(p.offset) +
           static_cast<char>(p.type);
    }
    const bool full =
        l.keys_per_node > 0 ? in_node == l.keys_per_node : 6 + node.size() + d.size() > l.node_size;
    if (in_node > 0 && full) {
      nodes.push_back(node);
      node.clear();
      in_node = 0;
    }
    node += d;
    ++in_node;
  }
  nodes.push_back(node);
  std::string index = dictionary;
  for (size_t i = 0; i < nodes.size(); ++i) {
    std::string n = be16(6 + nodes[i].size()) + be32(i + 1 < nodes.size() ? i + 3 : 0) + nodes[i];
    n.resize(std::max<size_t>(n.size(), l.node_size), '\0');
    index += n;
  }
  return index;
}

std::string cisam_slot(const std::string& record, uint16_t length, bool live) {
  std::string slot = record.substr(0, length);
  slot.resize(length, ' ');
  return slot + (live ? '\n' : '\0');
}

// ---- HV/COBOL-85 -------------------------------------------------------------------------

std::string hvc_compress(const std::string& record, uint8_t fill1, uint8_t fill2) {
  size_t n = record.size();
  while (n > 0 && record[n - 1] == ' ') --n;  // expansion pads with spaces
  std::string out, literal;
  auto flush = [&] {
    if (!literal.empty()) out += static_cast<char>(literal.size()) + literal;
    literal.clear();
  };
  for (size_t i = 0; i < n;) {
    const uint8_t c = static_cast<uint8_t>(record[i]);
    size_t run = 1;
    while (i + run < n && static_cast<uint8_t>(record[i + run]) == c) ++run;
    // Each run item: the largest count and the code of a count of 0.
    size_t most = 0;
    int base = 0;
    if (c == fill1 && run >= 2) {
      most = 65, base = 126;
    } else if (c == fill2 && run >= 2) {
      most = 21, base = 190;
    } else if (c == 0 && run >= 2) {
      most = 21, base = 210;
    } else if (run >= 3) {
      most = 26, base = 229;
    }
    if (most == 0) {
      literal += static_cast<char>(c);
      if (literal.size() == 127) flush();
      ++i;
      continue;
    }
    flush();
    const size_t count = std::min(run, most);
    out += static_cast<char>(base + count);
    if (base == 229) out += static_cast<char>(c);
    i += count;
  }
  flush();
  return out;
}

std::string hvc_file(const HvcLayout& l) {
  const size_t spacing = l.spacing ? l.spacing : l.block_length;
  const long duplicates =
      std::count_if(l.keys.begin(), l.keys.end(), [](const HvcKey& k) { return k.duplicates; });
  std::vector<std::string> blocks(1, std::string(l.block_length, '\0'));
  put(blocks[0], 0, be16(1));
  put(blocks[0], 6, "HVKF");
  size_t at = 256;
  for (const HvcKey& k : l.keys) {
    if (at + 36 > l.block_length) {
      blocks.push_back(std::string(l.block_length, '\0'));
      put(blocks.back(), 0, be16(2));
      at = 6;
    }
    put(blocks.back(), at, be16(k.offset) + be16(k.length) + static_cast<char>(k.duplicates));
    at += 36;
  }

  std::string block;
  int in_block = 0;
  auto finish_block = [&] {
    if (in_block == 0) return;
    put(block, 0, be16(blocks.size() % 2 ? 7 : 6));
    put(block, 6, be16(block.size()));
    block.resize(l.block_length, '\0');
    blocks.push_back(block);
    if (l.other_blocks) {
      // Not a data block, though it holds what would read as entries.
      std::string other = block;
      put(other, 0, be16(3));
      blocks.push_back(other);
    }
    in_block = 0;
  };
  for (size_t r = 0; r < l.records.size(); ++r) {
    const std::string stored = r < l.stored.size() ? l.stored[r]
                               : l.compressed      ? hvc_compress(l.records[r], l.fill1, l.fill2)
                                                   : l.records[r];
    const std::string entry =
        be16(r) + std::string(4 * duplicates, 'D') + be16(stored.size()) + stored;
    if (in_block > 0 && ((l.per_block > 0 && in_block == l.per_block) ||
                         block.size() + entry.size() > l.block_length)) {
      finish_block();
    }
    if (in_block == 0) block = std::string(8, '\0');
    block += entry;
    ++in_block;
  }
  finish_block();

  std::string& header = blocks[0];
  put(header, 18, be16(l.record_length));
  header[20] = l.compressed ? 2 : 0;
  header[21] = static_cast<char>(l.fill1);
  header[22] = static_cast<char>(l.fill2);
  header[25] = static_cast<char>(l.keys.size());
  put(header, 26, be16(l.block_length));
  put(header, 28, be16(spacing));
  header[33] = static_cast<char>(l.incomplete);
  put(header, 42, be32(blocks.size()));
  put(header, 50, be32(l.stated_records >= 0 ? l.stated_records : l.records.size()));
  header[105] = static_cast<char>(l.code_set[0]);
  header[107] = static_cast<char>(l.code_set[1]);
  header[111] = static_cast<char>(l.code_set[2]);
  std::string file;
  for (std::string& b : blocks) file += b.append(spacing - b.size(), '\0');
  return file;
}

// ---- Tolvane -----------------------------------------------------------------------------

std::string key_value(const std::string& record, const std::vector<TolvaneComponent>& parts) {
  std::string value;
  for (const TolvaneComponent& c : parts) value += record.substr(c.offset, c.length);
  return value;
}

TolvaneFiles tolvane_files(const TolvaneLayout& l) {
  TolvaneFiles out;
  const bool wide = l.max_length >= 4096;
  std::vector<uint32_t> offsets;  // of each record in the data file
  for (size_t r = 0; r < l.records.size(); ++r) {
    offsets.push_back(static_cast<uint32_t>(out.data.size()));
    // Status 4 in the high bits, which a reader must take off the length.
    const uint32_t length = static_cast<uint32_t>(l.records[r].size());
    out.data += wide ? be32(0x40000000u | length) : be16(0x4000u | length);
    out.data += l.records[r];
  }

  // Key descriptions (their roots filled in below) and the blocks that hold them.
  std::vector<std::vector<size_t>> in_block(1);
  size_t used = 6;
  for (size_t k = 0; k < l.keys.size(); ++k) {
    const size_t size = 7 + 5 * l.keys[k].components.size();
    const bool full = l.descriptions_per_block > 0
                          ? in_block.back().size() == static_cast<size_t>(l.descriptions_per_block)
                          : used + size > l.node_size;
    if (!in_block.back().empty() && full) {
      in_block.emplace_back();
      used = 6;
    }
    in_block.back().push_back(k);
    used += size;
  }
  for (size_t b = 0; b < in_block.size(); ++b) out.key_info.push_back(512 + b * l.node_size);
  std::string index(512 + in_block.size() * l.node_size, '\0');

  for (const TolvaneKey& key : l.keys) {
    const size_t value_size = key_value(std::string(l.max_length, ' '), key.components).size();
    const size_t entry = value_size + (key.duplicates ? 2 : 0) + 4;
    // At least two entries a node, so that every level has fewer nodes than the one below
    // (a node of entries too large for it is cut, as only refused files have them).
    const size_t per_node = std::max<size_t>(2, (l.node_size - 3) / entry);
    std::vector<size_t> order(l.records.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
      return key_value(l.records[a], key.components) < key_value(l.records[b], key.components);
    });
    // Each level: (first key value, pointer) of every entry, grouped into nodes.
    std::vector<std::pair<std::string, uint32_t>> entries;
    for (size_t r : order)
      entries.emplace_back(key_value(l.records[r], key.components), offsets[r]);
    int level = 0;
    uint32_t duplicate = 0;
    for (;; ++level) {
      std::vector<std::pair<std::string, uint32_t>> parents;
      for (size_t first = 0; first < entries.size() || first == 0; first += per_node) {
        std::string node = std::string(2, '\0');
        for (size_t e = first; e < std::min(entries.size(), first + per_node); ++e) {
          node += entries[e].first;
          if (key.duplicates) node += be16(++duplicate);
          // Every other pointer carries the top bit, which means nothing here.
          node += be32(entries[e].second | (e % 2 ? 0x80000000u : 0));
        }
        put(node, 0, be16(node.size()));
        node.resize(l.node_size, '\0');
        node.back() = static_cast<char>(level);
        const uint32_t offset = static_cast<uint32_t>(index.size());
        index += node;
        parents.emplace_back(first < entries.size() ? entries[first].first : "", offset);
        if (entries.empty()) break;
      }
      if (parents.size() == 1) {
        out.roots.push_back(parents[0].second);
        out.levels.push_back(level + 1);
        break;
      }
      entries = parents;
    }
  }

  for (size_t b = 0; b < in_block.size(); ++b) {
    std::string block = be16(0);
    block += be32(b + 1 < in_block.size() ? out.key_info[b + 1] : 0);
    for (size_t k : in_block[b]) {
      const TolvaneKey& key = l.keys[k];
      block += be16(7 + 5 * key.components.size()) + be32(out.roots[k]) +
               static_cast<char>(key.compression);
      for (size_t c = 0; c < key.components.size(); ++c) {
        block += be16(key.components[c].length | (c == 0 && key.duplicates ? 0x8000 : 0)) +
                 be16(key.components[c].offset) + '\0';
      }
    }
    put(index, out.key_info[b], block);
  }

  std::string header(512, '\0');
  put(header, 0, wide ? be16(0x3000) + be16(512) : be16(0x3000 | 512));
  put(header, 8, "20260101120000");
  header[39] = 2;
  header[41] = static_cast<char>(l.compression);
  header[48] = l.min_length < l.max_length;
  put(header, 56, be16(l.max_length));
  put(header, 60, be16(l.min_length));
  put(header, 108, be32(1));
  put(header, 124, be32(index.size()));
  put(header, 132, be32(out.data.size()));
  put(header, 140, be16(l.declared_keys < 0 ? l.keys.size() : l.declared_keys));
  header[142] = 1;
  put(header, 148, be32(out.key_info[0]));
  put(header, 174, be16(l.node_size));
  put(index, 0, header);
  out.index = index;
  return out;
}

}  // namespace foreign
