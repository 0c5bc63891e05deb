// Tracked allocation: every live block is registered with where and why it was made, so
// that frees of unknown pointers are harmless and rt_shutdown can name forgotten blocks.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "ixkit/libs/rtcore.h"
#include "rtcore/internal.h"

namespace {

struct Block {
  size_t size;
  const char* source;   // interned
  const char* purpose;  // interned
  int line;
  int flags;
  int extra;
  uint64_t serial;  // allocation order, for the report
};

struct Registry {
  std::unordered_map<void*, Block> blocks;
  std::unordered_set<std::string> names;  // source and purpose texts, kept for the run
  size_t bytes = 0;
  uint64_t serial = 0;
};

// Created on first use and never destroyed: blocks may still be freed while the process exits.
Registry& registry() {
  static Registry* r = new Registry;
  return *r;
}

// Requests above this are refused before they reach the C library.
constexpr size_t kLargest = PTRDIFF_MAX;

// A copy of text that lives for the run, so callers may pass texts they later change.
const char* intern(const char* text) {
  return registry().names.insert(text ? text : "?").first->c_str();
}

void untracked(const char* what, const void* pointer, const char* source, int line) {
  if (!rtcore::leak_report_wanted()) return;
  fprintf(rt_stderr(), "%s of untracked block %p at %s line %d\n", what, pointer,
          source ? source : "?", line);
}

}  // namespace

void* rt_alloc(size_t size, int flags, const char* source, int line, const char* purpose,
               int extra) {
  if (size > kLargest) return nullptr;
  // A zero-size request still gets a distinct block, so that null always means failure.
  void* pointer = calloc(size ? size : 1, 1);
  if (!pointer) return nullptr;
  Registry& r = registry();
  try {
    Block block{size, intern(source), intern(purpose), line, flags, extra, ++r.serial};
    r.blocks.emplace(pointer, block);
  } catch (const std::bad_alloc&) {
    free(pointer);
    return nullptr;
  }
  r.bytes += size;
  return pointer;
}

void rt_free(void* pointer, const char* source, int line, int) {
  if (!pointer) return;
  Registry& r = registry();
  auto found = r.blocks.find(pointer);
  if (found == r.blocks.end()) {
    untracked("free", pointer, source, line);  // foreign or freed twice: left alone
    return;
  }
  r.bytes -= found->second.size;
  r.blocks.erase(found);
  free(pointer);
}

// The block keeps the source, line and purpose of its allocation; those of the resize only
// name it when the pointer is unknown.
void* rt_realloc(void* pointer, size_t size, const char* source, int line, int flags) {
  if (!pointer) return rt_alloc(size, flags, source, line, "rt_realloc", 0);
  if (size > kLargest) return nullptr;
  Registry& r = registry();
  auto found = r.blocks.find(pointer);
  if (found == r.blocks.end()) {
    untracked("realloc", pointer, source, line);
    return nullptr;
  }
  // Taking the entry out first means putting it back needs no allocation.
  auto node = r.blocks.extract(found);
  size_t old_size = node.mapped().size;
  void* moved = realloc(pointer, size ? size : 1);
  if (!moved) {
    r.blocks.insert(std::move(node));
    return nullptr;
  }
  if (size > old_size) memset(static_cast<char*>(moved) + old_size, 0, size - old_size);
  node.key() = moved;
  node.mapped().size = size;
  r.blocks.insert(std::move(node));
  r.bytes = r.bytes - old_size + size;
  return moved;
}

size_t rt_alloc_count() {
  return registry().blocks.size();
}

size_t rt_alloc_bytes() {
  return registry().bytes;
}

void rtcore::report_leaks(FILE* stream) {
  Registry& r = registry();
  if (!stream || r.blocks.empty()) return;
  std::vector<const Block*> live;
  live.reserve(r.blocks.size());
  for (const auto& entry : r.blocks) live.push_back(&entry.second);
  std::sort(live.begin(), live.end(),
            [](const Block* a, const Block* b) { return a->serial < b->serial; });
  fprintf(stream, "Memory still allocated: %zu block(s), %zu bytes\n", live.size(), r.bytes);
  for (const Block* block : live) {
    fprintf(stream, "  %s line %d: %s, %zu bytes\n", block->source, block->line, block->purpose,
            block->size);
  }
}
