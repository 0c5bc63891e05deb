// The library's state of one open file, shared by its modules.
#ifndef KELVRA_FILE_H
#define KELVRA_FILE_H

#include <cstdint>
#include <string>
#include <vector>

#include "ixkit/libs/kelvra5.h"
#include "kelvra/format.h"
#include "kelvra/keydesc.h"
#include "kelvra/read_windows.h"

struct BulkState;

// One segment file.
struct SegmentFile {
  int fd = -1;
  int64_t disk_length = 0;  // bytes the file holds on disk
  int exists = 0;
};

// Bytes appended at the end of a segment file and not yet written.
struct PendingWrite {
  int code = K_SEGMENT_DATA;
  int segment = -1;
  uint32_t start = 0;
  std::vector<uint8_t> bytes;
};

// Where k5_next and k5_previous go on from.
enum CursorState {
  CURSOR_NONE,     // nothing read yet: k5_next starts at the first record of the key
  CURSOR_PENDING,  // a start found `entry`: the next read returns it
  CURSOR_CURRENT,  // `entry` was read last
  CURSOR_END,      // a read ran off an end: no current record
};

// A copy of one leaf kept by a reader that steps through a tree, so that reading the
// entries of a leaf one after another reads the leaf once. The holder empties it (leaf 0)
// whenever the tree changes.
struct LeafView {
  uint32_t leaf = 0;
  std::vector<uint8_t> bytes;
};

struct Cursor {
  int key = 0;
  CursorState state = CURSOR_NONE;
  uint8_t entry[K_ENTRY_MAX];  // entry key of the current record
  KAddress address;            // and its record address
  uint32_t leaf = 0;           // where it was found, valid while `generation` is the file's
  int slot = 0;
  uint64_t generation = ~uint64_t{0};
};

enum : int { OP_READ = 1, OP_WRITE = 2 };

struct KFileState {
  KFile pub;  // the open-file record handed to callers
  std::string name;
  int mode = 0;
  int writable = 0;
  int lock_fd = -1;                // data segment 0, the descriptor that holds the locks
  int shared = 0;                  // others may have the file open: operations lock and catch up
  int op_held = 0;                 // the operation lock held: 0, OP_READ or OP_WRITE
  int op_marked = 0;               // this operation has marked the counter on disk odd
  uint64_t cache_epoch = 0;        // cached nodes of another epoch are stale
  std::vector<int> dirty_entries;  // cache entries this shared writer changed
  std::vector<uint64_t> record_locks;  // record locks held (shared opens)
  Header header;
  uint8_t header_block[K_HEADER_SIZE] = {};  // as read, so that unknown bytes are kept
  std::vector<uint8_t> header_image;         // header and dictionary as write_header writes them
  Dictionary dict;
  int no_index = 0;  // opened with k_open_no_index: the trees are not used
  int block_bytes = 0;
  int nodes_per_segment = 0;  // versions 4, 5
  std::vector<SegmentFile> data;
  std::vector<SegmentFile> index;
  std::vector<int64_t> data_size;
  std::vector<int64_t> index_size;
  PendingWrite pending;
  ReadWindows windows;
  std::vector<uint8_t> scratch[3];  // record-sized work areas
  Cursor cursor;
  LeafView view;  // the leaf the cursor read last, valid for view_generation
  uint64_t view_generation = ~uint64_t{0};
  uint64_t generation = 0;  // changes with every change of a tree
  uint32_t next_seed = 0;
  int header_dirty = 0;
  uint16_t disk_end_segment = 0;  // the segment of the record area's end in the header on disk
  BulkState* bulk = nullptr;
  KFileState* next_open = nullptr;  // list of open files
};

inline KFileState* state_of(KFile* f) {
  return f ? f->state : nullptr;
}

// The collating table keys go through, or null.
inline const uint8_t* collating_of(const KFileState* s) {
  return s->dict.has_collating ? s->dict.collating : nullptr;
}

// Copies what the open-file record shows from the state.
void publish(KFileState* s);
// Copies only the heads of the deleted and abandoned chains, which every record change may
// move.
void publish_chains(KFileState* s);
// Writes the header block and the dictionary (tree roots and heights).
int write_header(KFileState* s);
// Reads header and dictionary again from the file (another process changed it) and checks
// them as an open does; the file must still be the one opened.
int reload_header(KFileState* s);

#endif  // KELVRA_FILE_H
