// kelvra5: the Kelvra indexed file library.
//
// Makes, opens, reads and writes Kelvra files of format versions 2 to 5: fixed or
// variable records reached through up to 120 B+tree keys, data and index segments,
// compression, scrambling, deleted and abandoned record chains. Failures return 0 or
// null and leave the reason in the runtime's file error code (rtcore.h). The on-disk
// format is described in docs/file-format.md.
//
// Usable from C as well: the functions have C linkage, and what C cannot express (the table
// K_offsets, the layout checks) is left out there.
#ifndef IXKIT_LIBS_KELVRA5_H
#define IXKIT_LIBS_KELVRA5_H

#include <stddef.h>
#include <stdint.h>

// A constant: an int in C++, an enumerator in C.
#ifdef __cplusplus
#define K5_CONSTANT(name, value) constexpr int name = value
extern "C" {
#else
#define K5_CONSTANT(name, value) enum { name = value }
#endif

// ---- Limits and codes -------------------------------------------------------------

K5_CONSTANT(K_MAX_KEYS, 120);
K5_CONSTANT(K_MAX_SEGMENTS, 16);    // per key; 6 in versions 2 and 3
K5_CONSTANT(K_MAX_KEY_SIZE, 250);   // bytes of one key
K5_CONSTANT(K_KEY_TEXT_SIZE, 245);  // buffer for one key text of k5_info
K5_CONSTANT(K_HEADER_SIZE, 512);    // header block of a file and of every segment

// Open modes of k5_open. A mode with K_MODE_WRITE may change the file.
//
// A mode with K_MODE_EXCLUSIVE (512 and the fill modes) has the file alone: it is refused
// with code 11 while any other open of the file exists, in this process or another, and
// while it is held every other open is refused with 11. Every other mode shares the file
// with any number of readers and writers, in any process:
//
//   held \ asked    | 0, 2, 256 (shared) | 512, 1538, 34306 (exclusive)
//   shared          | allowed            | 11
//   exclusive       | 11                 | 11
//
// In a shared open every call is atomic with respect to other processes: it sees the file
// as other calls left it, never half-way through one, and notices their changes.
enum {
  K_MODE_READ = 0,         // read, shared
  K_MODE_WRITE = 2,        // read and change, shared
  K_MODE_SHARED = 256,     // read, shared
  K_MODE_EXCLUSIVE = 512,  // nobody else may have the file open
  K_MODE_NEW = 1024,       // filling a new file
  K_MODE_FILL = 1538,      // K_MODE_NEW | K_MODE_EXCLUSIVE | K_MODE_WRITE
  K_MODE_FAST = 32768,     // with K_MODE_FILL: build the indexes at close, with callbacks
  K_MODE_FAST_FILL = 34306,
};

// Flags of k5_next_lock and k5_previous_lock (record locks, for shared opens).
enum {
  K_LOCK = 1,       // lock the record read; code 5 when another open holds its lock
  K_LOCK_WAIT = 2,  // with K_LOCK: wait until the other open lets it go
  K_LOCK_KEEP = 4,  // with K_LOCK: keep the records this open locked before (else released)
};

// Modes of k5_start.
enum {
  K_START_EQUAL = 0,
  K_START_NOT_LESS = 1,
  K_START_GREATER = 2,
  K_START_LESS = 3,
  K_START_NOT_GREATER = 4,
};

// Segment codes of ki_segment_name.
enum { K_SEGMENT_DATA = 255, K_SEGMENT_INDEX = 254 };

// Secondary codes of file error 6 (damaged file).
enum {
  K_DAMAGE_HEADER = 1,        // header fields out of range
  K_DAMAGE_STAMP = 2,         // a segment carries another version stamp
  K_DAMAGE_MARK = 3,          // the file carries the damage mark
  K_DAMAGE_SEGMENT = 4,       // a segment file is missing or too short
  K_DAMAGE_DICTIONARY = 5,    // key descriptions unreadable
  K_DAMAGE_NODE = 10,         // an index node is out of range or malformed
  K_DAMAGE_TREE_LOOP = 11,    // an index walk did not end
  K_DAMAGE_FREE_LIST = 12,    // the free node list is broken
  K_DAMAGE_CHAIN = 13,        // a deleted or abandoned chain is broken or loops
  K_DAMAGE_COUNT = 14,        // counts in the header disagree with the file
  K_DAMAGE_REC_ADDRESS = 80,  // a key points outside the record area
  K_DAMAGE_REC_HEADER = 81,   // a record header is unreadable or malformed
  K_DAMAGE_REC_DELETED = 82,  // a key points at a deleted or abandoned record
  K_DAMAGE_REC_LENGTH = 83,   // a record's length is outside the file's limits
  K_DAMAGE_REC_EXPAND = 84,   // compressed data does not expand
  K_DAMAGE_REC_KEY = 85,      // the record does not carry the key that points at it
};

// ---- The open-file record ------------------------------------------------------------

typedef struct KFileState KFileState;  // the library's own part
typedef struct KFile KFile;

// Returned by k5_open; the fields are kept current while the file is open.
struct KFile {
  int16_t version;                    // format version, 2 to 5
  int32_t mode;                       // the mode given to k5_open
  int32_t data_segment_high;          // highest data segment number (0 for one segment)
  int32_t index_segment_high;         // highest index segment number; -1 in versions 2, 3
  const int64_t* data_segment_size;   // bytes in each data segment file
  const int64_t* index_segment_size;  // bytes in each index segment file
  uint32_t segment_size;              // largest size of one segment file (versions 4, 5)
  uint32_t min_record_size;
  uint32_t max_record_size;
  int32_t key_count;
  uint8_t tree_height[K_MAX_KEYS];  // levels of each key's tree, 0 when empty
  int32_t record_header_size;       // bytes in front of each stored record
  uint32_t deleted_head;            // first deleted record: offset ...
  uint16_t deleted_head_segment;    // ... and data segment
  uint32_t abandoned_head;          // first abandoned record (version 5)
  uint16_t abandoned_head_segment;
  int32_t compression;       // compression factor, 0 when not compressed
  int32_t encryption;        // 1 when records are scrambled
  const uint8_t* collating;  // 256-byte collating table, or null
  KFileState* state;
};

// ---- The header record ---------------------------------------------------------------

// The 200-byte record into which a file header is unpacked (by ki_header_from_v2 for
// version 2, by the program's own reader for later versions). Addresses are a 32-bit
// offset followed by a 16-bit data segment number.
typedef struct KHeaderRecord KHeaderRecord;
struct KHeaderRecord {
  uint32_t magic;   // 0
  int16_t version;  // 4
  uint16_t pad6;
  uint32_t end_offset;   // 8: end of data ("file size")
  uint16_t end_segment;  // 12: last data segment
  uint16_t pad14;
  uint16_t blocking_factor;  // 16
  uint16_t pad18;
  uint32_t address7;  // 20
  uint16_t segment8;  // 24
  uint16_t pad26;
  uint32_t address9;   // 28
  uint16_t segment10;  // 32
  uint16_t pad34;
  uint32_t first_record;          // 36
  uint16_t first_record_segment;  // 40
  uint16_t pad42;
  uint32_t deleted_head;          // 44
  uint16_t deleted_head_segment;  // 48
  uint16_t pad50;
  uint32_t abandoned_head;          // 52
  uint16_t abandoned_head_segment;  // 56
  uint8_t pad58[10];
  uint32_t address18;  // 68
  uint16_t segment19;  // 72
  uint8_t pad74[6];
  uint32_t records;    // 80
  uint32_t deleted;    // 84
  uint32_t abandoned;  // 88
  uint8_t pad92[64];
  uint32_t kept23;       // 156
  uint32_t stamp;        // 160
  uint16_t kept27;       // 164
  uint16_t user_count;   // 166
  uint16_t tree_height;  // 168 (version 2 only)
  uint16_t pad170;
  uint32_t nodes;            // 172
  uint32_t deleted_nodes;    // 176
  uint32_t node_space_used;  // 180
  uint32_t free_records;     // 184 (version 2 only)
  uint8_t pad188[8];
  uint32_t segment_size;  // 196
};
#ifdef __cplusplus
static_assert(sizeof(KHeaderRecord) == 200, "header record is 200 bytes");
static_assert(offsetof(KHeaderRecord, first_record) == 36);
static_assert(offsetof(KHeaderRecord, address18) == 68);
static_assert(offsetof(KHeaderRecord, records) == 80);
static_assert(offsetof(KHeaderRecord, kept23) == 156);
static_assert(offsetof(KHeaderRecord, nodes) == 172);
static_assert(offsetof(KHeaderRecord, segment_size) == 196);
#endif

// Header field numbers, the index of K_offsets.
enum {
  KF_VERSION = 1,
  KF_BLOCKING = 2,
  KF_END_OFFSET = 5,
  KF_END_SEGMENT = 6,
  KF_ADDRESS7 = 7,
  KF_SEGMENT8 = 8,
  KF_ADDRESS9 = 9,
  KF_SEGMENT10 = 10,
  KF_FIRST_RECORD = 11,
  KF_FIRST_SEGMENT = 12,
  KF_DELETED_HEAD = 13,
  KF_DELETED_SEGMENT = 14,
  KF_ABANDONED_HEAD = 15,
  KF_ABANDONED_SEGMENT = 16,
  KF_ADDRESS18 = 18,
  KF_SEGMENT19 = 19,
  KF_RECORDS = 20,
  KF_DELETED = 21,
  KF_ABANDONED = 22,
  KF_KEPT23 = 23,
  KF_STAMP = 24,
  KF_NODE_SPACE = 26,
  KF_KEPT27 = 27,
  KF_USER_COUNT = 28,
  KF_NODES = 29,
  KF_DELETED_NODES = 30,
  KF_RECORD_HEADER = 31,
  KF_SEED_FLAG = 32,
  KF_SEGMENT_SIZE = 39,
  KF_V3_END = 40,
  KF_ZERO_BYTES = 44,
  KF_MAX_RECORD = 45,
  KF_AUGMENT_BYTES = 46,
  KF_COMMENT = 51,
  KF_NOTE_BYTES = 52,
  KF_DATA_STAMP = 75,
  KF_INDEX_STAMP = 80,
  KF_FIELD_LIMIT = 81
};

// Byte offset of each header field per format version (row = version), -1 when the
// version has no such field. Fields 44, 46 and 52 are byte counts. Fields 75 and 80 are
// positions in the header block of further data segments and of index segments.
#ifdef __cplusplus
extern const int16_t (&K_offsets)[6][KF_FIELD_LIMIT];
#endif

// ---- Callbacks of the fast fill ------------------------------------------------------

// Progress of building the indexes at k5_close in mode K_MODE_FAST_FILL.
typedef struct KProgress KProgress;
struct KProgress {
  KFile* file;        // 0
  int32_t key;        // 8: key being built, from 0
  int32_t key_count;  // 12
  int32_t done;       // 16: entries of that key done
  int32_t total;      // 20: records in all
};
#ifdef __cplusplus
static_assert(offsetof(KProgress, key) == 8 && offsetof(KProgress, total) == 20);
#endif

// A record refused for a duplicate key during the fast fill.
typedef struct KDuplicate KDuplicate;
struct KDuplicate {
  KFile* file;
  const uint8_t* record;
  uint32_t length;
};

typedef void (*KProgressCallback)(const KProgress* progress);
typedef void (*KDuplicateCallback)(const KDuplicate* report);

// ---- Flags ---------------------------------------------------------------------------

// Non-zero: open files with mismatched version stamps or the damage mark anyway.
extern int bKForceOpen;
// Non-zero: k5_open and k5_remove use the data segments only (the index may be missing).
extern int k_open_no_index;
// Non-zero: a damaged record met by k5_next / k5_previous gives code 6 with a secondary
// code 80 to 85, and the next call goes on past it.
extern int k_ixkit;

// ---- Library life ----------------------------------------------------------------------

void k5_init_cfg(void);  // reads the configuration values the library uses
int k5_init(void);       // non-zero when ready
void k5_exit(int code);  // closes every open file

// ---- Files -----------------------------------------------------------------------------

// The mode text is "0,0,0". Returns null on failure.
KFile* k5_open(const char* name, int mode, const char* options);
// Non-zero on success; in K_MODE_FAST_FILL the indexes are built here.
int k5_close(KFile* file);
// Describes an open file: -1 "max,min,keys", -2 "blocking,prealloc,extension,compression,
// encryption", -3 the comment, -4 the record count, -5 the 256-byte collating table,
// -6 the change counter (decimal): it differs whenever the file changed between two calls
// (even while a change is under way in another process), 0 and up the fixed-position key
// text. Returns 0 when the item does not exist (the file error code then 0), or when the
// file could not be read (the code says why).
int k5_info(KFile* file, int code, char* buffer);

// Makes a new empty file of the version K_VERSION names (2 to 5; 0, unset or below 2
// make 5, above 5 make 5), replacing a file of that name.
int k5_make(const char* name, const char* comment, const char* storage, const char* sizes,
            const char* keys, const uint8_t* collating);
// Makes a new file as k5_make does and returns it open in mode (K_MODE_FILL or
// K_MODE_FAST_FILL), null on failure. The file is made with its user count raised for this
// opener, so it never lies on disk closed and empty while it is being filled: a program that
// dies before k5_close leaves a file that a check reports, not one that looks complete.
KFile* k5_make_open(const char* name, const char* comment, const char* storage, const char* sizes,
                    const char* keys, const uint8_t* collating, int mode);
// Makes a version-2 file from the old-format texts.
int k2_make(const char* name, const char* parameters, const char* description);
// Generic make. parameters: empty (K_VERSION decides) or "V2" to "V5". description:
// "storage;sizes;keys" or "storage;sizes;keys;comment" with the texts of k5_make.
int k_make(const char* name, const char* description, const char* parameters);
// Removes every segment of a file. Non-zero on success.
int k5_remove(const char* name);

// ---- Records ---------------------------------------------------------------------------

// Positions on key number key. record holds the key value at the key's segment positions.
// length 0 compares the whole key, else only its first length bytes.
int k5_start(KFile* file, const void* record, int key, int length, int mode);
// Next / previous record in the current key's order; the first call after k5_start returns
// the record it found. Returns the length, or 0 (code 8 at the end). When other processes
// changed the file since the last call, the next record is the one after (before) the
// record read last, by key, as the file is now.
int k5_next(KFile* file, void* record);
int k5_previous(KFile* file, void* record);
// k5_next / k5_previous that can lock the record they return (flags K_LOCK...), in an open
// that may write (else code 4). A record
// whose lock another open holds gives code 5 and the cursor stays: the same call tries the
// same record again, k5_next passes it without a lock. Reads without K_LOCK never wait for
// record locks. Locks go at k5_unlock, at k5_close, when the process ends, when this open
// deletes the record, and (without K_LOCK_KEEP) at the next locking read. A rewrite or delete
// of a record whose lock another open holds gives code 5.
int k5_next_lock(KFile* file, void* record, int flags);
int k5_previous_lock(KFile* file, void* record, int flags);
// Releases every record lock of this open. Non-zero on success.
int k5_unlock(KFile* file);
// length 0 means the maximum record size. Code 7 for a duplicate key.
int k5_write(KFile* file, const void* record, uint32_t length);
// Replaces the record with the same primary key (the current record when it has it).
int k5_rewrite(KFile* file, const void* record, uint32_t length);
// Deletes the record with the primary key in record (the current record when it has it).
int k5_delete(KFile* file, const void* record);

void k5_register_duplicate(KDuplicateCallback callback);  // null removes
void k5_register_progress(KProgressCallback callback);

// ---- Utilities -------------------------------------------------------------------------

// Prints "name: reason (error P/S)" for the last failure to standard error.
void ki_error(const char* name);
// Writes every key's nodes to the file 'k_tree' in the current directory.
int ki_dump(KFile* file);
// File name of data (255) or index (254) segment n of the file called name. The text is in
// an area that the next call overwrites.
const char* ki_segment_name(const char* name, int code, int n);
// Unpacks a version-2 header block into record. Returns 1 when it is one, else 0.
int ki_header_from_v2(const void* block, KHeaderRecord* record);
// The largest record size version allows, at most size; with size 0, the number of data
// bytes that hold a deleted record's chain link in that version.
uint32_t ki_check_record_size(int version, uint32_t size);

// ---- Portable file table ----------------------------------------------------------------

K5_CONSTANT(K_FILE_TABLE_SIZE, 256);
// Operating-system descriptor of each f_open handle, -1 when free.
extern int Cfiles[K_FILE_TABLE_SIZE];
// mode 0: read; 513: create or empty for writing. A handle, or negative.
int f_open(const char* name, int mode);
int f_okay(int handle, int flags);  // the descriptor, ready for writing; -1 when bad
void f_release(int handle);
int f_close(int handle);

#ifdef __cplusplus
}  // extern "C"
#endif
#undef K5_CONSTANT

#endif  // IXKIT_LIBS_KELVRA5_H
