// The raw record scanner: reads the record area of a Kelvra file straight from the operating
// system, without the indexed file library, decodes record headers, undoes scrambling and
// compression, and walks the data segments and the chains of deleted and abandoned records.
//
// It works on the file whose header read_header (ixkit/describe/header.h) read last: the
// version, block size, raw record header size, per-record seed flag, segment size, first
// record address, last data segment and chain heads all come from file_header. The caller
// sets scan_limits for the file before reading records. Nothing here prints; every failure
// reaches the caller as a result code.
//
// Positions are byte offsets inside one data segment file. They are 32-bit on disk; the
// functions carry them in 64 bits so that a failure (-1) and offsets near 4 GiB both fit.
#ifndef IXKIT_REPAIR_SCANNER_H
#define IXKIT_REPAIR_SCANNER_H

#include <cstdint>

#include "ixkit/libs/kelvra5.h"

// ---- Limits of a scan -------------------------------------------------------------------

struct ScanLimits {
  uint32_t max_record_size;  // already passed through ki_check_record_size
  uint32_t min_record_size;
  int compression;  // non-zero: records without flag 4 are stored compressed
  int encryption;   // non-zero: stored bytes are scrambled
};
extern ScanLimits scan_limits;

// Fills scan_limits from the description texts of an open file (codes -1 and -2) and the
// version in file_header. 0 when the library could not give them (the file error code says
// why).
int set_scan_limits(KFile* file);

// Stored bytes of a compressed record before expansion: scan_limits.max_record_size + 50
// bytes. One for the whole program; allocated and released by the caller of the scan.
extern uint8_t* expansion_buffer;
// Allocates the expansion buffer for the current scan_limits; running out ends the run.
void allocate_expansion_buffer();
// Frees the expansion buffer (if any) and resets it to none.
void release_expansion_buffer();
// A tracked buffer of bytes bytes for records; running out ends the run. Free with rt_free.
uint8_t* allocate_scan_buffer(uint32_t bytes);
// Bytes a record buffer of the scan needs: the larger of the raw header size and the
// maximum record size.
uint32_t record_buffer_size();

// ---- The raw reader -----------------------------------------------------------------------

constexpr int RAW_BUFFER_SIZE = 4096;

// One for the whole program; serves one descriptor at a time.
struct RawReader {
  int descriptor;        // current descriptor, -1 when none
  int64_t position;      // current byte offset in that file
  int64_t buffer_start;  // file offset of buffer[0], a multiple of 512; negative: empty
  int32_t buffer_count;  // valid bytes in buffer
  int64_t links_left;    // block links (versions 2, 3) that may still be followed
  int error;             // errno of a read of the file that failed since raw_open, else 0
  uint8_t buffer[RAW_BUFFER_SIZE];
};
extern RawReader raw_reader;

// Opens name read-only, shared with every other opener, and makes it the current
// descriptor at position 0 with an empty buffer. Negative on failure (errno says why).
// flags are added to the read-only binary mode; permission applies to a created file.
int raw_open(const char* name, int flags, int permission);
// Records position for descriptor (which becomes current, emptying the buffer if it was not).
int64_t raw_seek(int descriptor, int64_t position);
// Delivers up to count bytes from the current position: the number delivered (fewer at the
// end of the file), or -1 on a failed read or when descriptor is not the current one.
long raw_read(int descriptor, void* destination, long count);
// Closes descriptor; the reader forgets it when it was the current one.
void raw_close(int descriptor);

// ---- Records --------------------------------------------------------------------------------

// Flags of a record header view.
enum : uint8_t { RECORD_DELETED = 1, RECORD_ABANDONED = 2, RECORD_PLAIN = 4 };

// A record header decoded, the same for every version.
struct RecordHeaderView {
  uint32_t stored_size;   // bytes after the header in this record's slot
  uint32_t data_length;   // meaningful stored bytes (compressed length when compressed)
  uint32_t link_or_seed;  // next member of a chain, or a live record's scrambling seed
  uint16_t link_segment;  // data segment of the next member (version 5 only)
  uint8_t flags;          // RECORD_DELETED, RECORD_ABANDONED, RECORD_PLAIN
};

// Results of read_raw_record other than a live record's length.
enum : int {
  RAW_END = 0,           // no further record (or the header could not be read)
  RAW_BAD = -2,          // length outside the record size limits
  RAW_DELETED = -3,      // deleted record
  RAW_ABANDONED = -4,    // abandoned record
  RAW_BROKEN = -5,       // bad header, unreadable data or expansion overflow
  RAW_SEGMENT_END = -6,  // end of this data segment's records (versions 4 and later)
};

// Reads count bytes of the record area starting at position into destination, across block
// links in versions 2 and 3. Returns the position just after them, 0 when a block chain
// ended first, -1 when a seek or read failed or the file ended, -2 when a block chain is
// broken (a link to no block start, a position inside a link field) or loops.
int64_t read_span(int descriptor, void* destination, uint32_t count, int64_t position);
// count bytes (1 to 4) read as a number in the file's byte order: little-endian in version
// 2, big-endian from version 3 on.
uint32_t file_number(const uint8_t* bytes, int count);
// Data bytes that hold a deleted record's chain link in this version, at most 6
// (ki_check_record_size with size 0).
uint32_t link_data_bytes();
// 1 when raw_header_size suits the version's record header layout (9 in version 2, at least
// 4 in versions 3 and 4, at least 15 in version 5), else 0: nothing can be read raw.
int raw_header_size_sound();
// Decodes raw_header_size header bytes of the current version into view. In versions 3 and
// 4 the top bit of bytes[2] is cleared.
void parse_record_header(uint8_t* bytes, RecordHeaderView* view);
// Expands count stored bytes from expansion_buffer into destination: the expanded length,
// or 0 when the output would pass scan_limits.max_record_size or the data ends inside a code.
uint32_t expand_record(uint8_t* destination, uint32_t count);
// Undoes the scrambling of count stored bytes in place.
void unscramble(uint8_t* bytes, uint32_t count, uint32_t seed);
// Reads the record at *position (advanced past it) into buffer (record_buffer_size() bytes),
// expanding (the expansion buffer must be allocated) and unscrambling when asked. The length
// of a live record, or a RAW_ code. A block chain that is broken or loops gives RAW_BROKEN,
// not RAW_END; so do data that end inside a compression code and a data length beyond the
// record's slot.
int read_raw_record(int descriptor, uint8_t* buffer, int64_t* position, int expand,
                    int unscramble_data);

// ---- Walking the record area ----------------------------------------------------------------

// Results of the walks besides those of read_raw_record.
enum : int {
  WALK_OPEN_FAILED = -7,  // a data segment could not be opened; segment_name names it
  // A read of a data segment failed (not its end: the system refused): segment_name names
  // it and errno says why. What came before is sound; what follows is unknown.
  WALK_READ_FAILED = -8,
};

// Every record of the record area in order, segment after segment.
struct SegmentWalk {
  const char* name;          // the file name given to the command
  int segment;               // data segment now read
  int descriptor;            // its raw descriptor, -1 when none
  int64_t position;          // position of the next record in that segment
  const char* segment_name;  // after WALK_OPEN_FAILED: the segment's file name
};

// Opens the data segment of the first record and starts at the first record position.
// 1, or WALK_OPEN_FAILED.
int walk_start(SegmentWalk* walk, const char* name);
// The next record, as read_raw_record, except that the end of a segment goes on in the
// next one: RAW_SEGMENT_END never comes back; after the last segment the result is RAW_END.
// WALK_OPEN_FAILED when a further segment cannot be opened.
int walk_next(SegmentWalk* walk, uint8_t* buffer, int expand, int unscramble_data);
// Closes the open segment, if any.
void walk_close(SegmentWalk* walk);

// ---- Walking the chains of free records -------------------------------------------------

// Results of chain_read besides 1 (a member was read) and 0 (the chains ended).
enum : int {
  CHAIN_UNREADABLE = -1,  // the member's header could not be read
  CHAIN_LOOP = -2,        // the chain came back to a member already walked
  // WALK_OPEN_FAILED as above
};

// The deleted chain from its head, then (version 5) the abandoned chain. A chain that comes
// back to an address it has passed ends with CHAIN_LOOP, at most a few times its length on.
struct ChainWalk {
  const char* name;          // the file name given to the command
  int abandoned;             // 0 while in the deleted chain, 1 in the abandoned chain
  int segment;               // data segment open, -1 when none
  int descriptor;            // its raw descriptor, -1 when none
  uint32_t offset;           // the member to read next ...
  uint16_t next_segment;     // ... and its data segment
  int64_t data_position;     // after chain_read: position of the member's data
  const char* segment_name;  // after WALK_OPEN_FAILED: the segment's file name
  uint64_t loop_mark;        // loop detection: a member address kept for comparison ...
  uint64_t loop_steps;       // ... members since it was kept
  uint64_t loop_span;        // ... and when it is next replaced
};

// Starts at the head of the deleted chain. In version 5 the walk goes on with the abandoned
// chain when the deleted chain ends, also when the deleted chain is empty, so that the
// abandoned chain is always walked and counted.
void chain_start(ChainWalk* walk, const char* name);
// Reads the next member's header (raw_header_size bytes, followed in versions 2 to 4 by the
// data bytes holding its link) into bytes (raw_header_size + 6 bytes), decodes it into
// view and steps to the member it links to. 1 when a member was read, 0 at the end of the
// chains, or CHAIN_UNREADABLE, CHAIN_LOOP, WALK_OPEN_FAILED. walk->abandoned tells which
// chain the member was read from; the caller checks its flags.
int chain_read(ChainWalk* walk, uint8_t* bytes, RecordHeaderView* view);
// Closes the open segment, if any.
void chain_close(ChainWalk* walk);

#endif  // IXKIT_REPAIR_SCANNER_H
