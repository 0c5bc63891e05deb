// Library start and stop, its settings, the flags the program sets, and the open files.
#include "kelvra/lifecycle.h"

#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"
#include "kelvra/file.h"
#include "kelvra/nodes.h"

int bKForceOpen = 0;
int k_open_no_index = 0;
int k_ixkit = 0;

namespace {

LibrarySettings g_settings;
bool g_configured = false;
KFileState* g_open = nullptr;

long clamp(long v, long low, long high) {
  return v < low ? low : (v > high ? high : v);
}

}  // namespace

void k5_init_cfg() {
  g_settings.buffers = static_cast<int>(clamp(rt_config_int("K_BUFFERS", 128), 8, 1 << 20));
  g_settings.max_files = static_cast<int>(clamp(rt_config_int("MAX_FILES", 128), 1, 1 << 16));
  cache_configure(g_settings.buffers);
  g_configured = true;
}

int k5_init() {
  if (!g_configured) k5_init_cfg();
  return 1;
}

void k5_exit(int) {
  while (g_open) k5_close(&g_open->pub);
}

const LibrarySettings& library_settings() {
  if (!g_configured) k5_init_cfg();
  return g_settings;
}

int make_version() {
  long v = rt_config_int("K_VERSION", 0);
  if (v >= 2 && v <= 5) return static_cast<int>(v);
  return 5;  // unset, 0, below 2 and above 5 all make the newest format
}

uint32_t make_segment_size() {
  return static_cast<uint32_t>(
      clamp(rt_config_int("K_SEGMENT_SIZE", 0x7FFFFFFF), 4096, 0xFFFFFFFFL));
}

uint64_t sort_memory() {
  return static_cast<uint64_t>(
      clamp(rt_config_int("K_SORT_MEMORY", 64L << 20), 1L << 16, 1L << 40));
}

void register_open(KFileState* s) {
  s->next_open = g_open;
  g_open = s;
}

void unregister_open(KFileState* s) {
  for (KFileState** p = &g_open; *p; p = &(*p)->next_open) {
    if (*p == s) {
      *p = s->next_open;
      return;
    }
  }
}

int open_file_count() {
  int n = 0;
  for (KFileState* p = g_open; p; p = p->next_open) n++;
  return n;
}
