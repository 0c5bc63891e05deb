// Library-wide settings and the list of open files.
#ifndef KELVRA_LIFECYCLE_H
#define KELVRA_LIFECYCLE_H

#include <cstdint>

struct KFileState;

// Settings read from the configuration by k5_init_cfg (and on first use).
struct LibrarySettings {
  int buffers = 128;    // K_BUFFERS: blocks in the node cache
  int max_files = 128;  // MAX_FILES: files open at once
};

const LibrarySettings& library_settings();

// Format version that k5_make makes now (K_VERSION).
int make_version();
// Largest data or index segment of files made now (K_SEGMENT_SIZE, default 2 GiB - 1).
uint32_t make_segment_size();
// Bytes of keys a fast fill sorts in memory before it spills sorted runs (K_SORT_MEMORY).
uint64_t sort_memory();

// k5_open; made: the file was just made with its user count raised for this opener.
struct KFile* open_file(const char* name, int mode, int made);

void register_open(KFileState* s);
void unregister_open(KFileState* s);
int open_file_count();

#endif  // KELVRA_LIFECYCLE_H
