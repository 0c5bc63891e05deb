// ki_dump: every key's index nodes, written to the text file 'k_tree'.
#include <cctype>
#include <cstdio>
#include <set>
#include <vector>

#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"
#include "kelvra/btree.h"
#include "kelvra/bytes.h"
#include "kelvra/errors.h"
#include "kelvra/file.h"
#include "kelvra/nodes.h"
#include "kelvra/share.h"

namespace {

void print_key(FILE* out, const uint8_t* p, int n) {
  bool printable = true;
  for (int i = 0; i < n; i++) printable = printable && isprint(p[i]);
  if (printable) {
    fprintf(out, "\"%.*s\"", n, reinterpret_cast<const char*>(p));
  } else {
    fprintf(out, "x'");
    for (int i = 0; i < n; i++) fprintf(out, "%02X", p[i]);
    fprintf(out, "'");
  }
}

// Prints node n and the nodes below it; seen stops a walk that would visit a node twice.
int dump_node(KFileState* s, int k, uint32_t n, FILE* out, std::set<uint32_t>* seen, int depth) {
  if (!seen->insert(n).second || depth > 32) return k_damaged(K_DAMAGE_TREE_LOOP);
  std::vector<uint8_t> node(static_cast<size_t>(s->block_bytes));
  if (!node_read(s, n, node.data())) return 0;
  const KeyDesc& key = s->dict.keys[k];
  int level = node_level(node.data());
  int count = node_count(s, node.data());
  int header = node_header_size(s->header.version);
  fprintf(out, "%*snode %u: level %d, %d entries\n", depth * 2, "", n, level, count);
  if (level == 0) {
    int stride = key.entry + address_size(s->header.version);
    if (count > leaf_capacity(s->header.version, s->block_bytes, key))
      return k_damaged(K_DAMAGE_NODE);
    for (int i = 0; i < count; i++) {
      const uint8_t* e = node.data() + header + 8 + i * stride;
      KAddress a = get_address(s, e + key.entry);
      fprintf(out, "%*s  ", depth * 2, "");
      print_key(out, e, key.length);
      fprintf(out, " -> %u/%u\n", a.segment, a.offset);
    }
    return 1;
  }
  if (count > inner_capacity(s->header.version, s->block_bytes, key))
    return k_damaged(K_DAMAGE_NODE);
  int stride = key.entry + 4;
  std::vector<uint32_t> children;
  bool big = s->header.version != 2;
  children.push_back(static_cast<uint32_t>(get_uint(node.data() + header, 4, big)));
  for (int i = 0; i < count; i++) {
    const uint8_t* e = node.data() + header + 4 + i * stride;
    uint32_t c = static_cast<uint32_t>(get_uint(e + key.entry, 4, big));
    fprintf(out, "%*s  separator ", depth * 2, "");
    print_key(out, e, key.length);
    fprintf(out, "\n");
    children.push_back(c);
  }
  for (uint32_t c : children) {
    if (!dump_node(s, k, c, out, seen, depth + 1)) return 0;
  }
  return 1;
}

}  // namespace

int ki_dump(KFile* file) {
  KFileState* s = state_of(file);
  if (!s) return k_fail(RT_ERR_PARAMETER);
  if (s->no_index || s->bulk) return k_fail(RT_ERR_MODE);
  FILE* out = rt_fopen("k_tree", "w", 0);
  if (!out) return k_fail_errno();
  // The trees as they are at one moment: other processes wait until the dump is written.
  int ok = !s->shared || (op_lock(s, 0) && catch_up(s));
  for (int k = 0; ok && k < s->dict.key_count; k++) {
    fprintf(out, "key %d: root %u, height %d\n", k, s->dict.root[k], s->dict.height[k]);
    std::set<uint32_t> seen;
    if (s->dict.root[k] != 0) ok = dump_node(s, k, s->dict.root[k], out, &seen, 0);
  }
  op_unlock(s);
  if (rt_fclose(out) != 0 && ok) ok = k_fail_errno();
  return ok;
}
