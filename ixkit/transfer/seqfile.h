// Flat sequential files: the one block buffer through which -load and -unload move their
// bytes, and the two record readers of -load.
#ifndef IXKIT_TRANSFER_SEQFILE_H
#define IXKIT_TRANSFER_SEQFILE_H

#include <fcntl.h>

#include <cstdint>

// Open flags of seq_open. POSIX has no text mode: line files are read and written as they
// stand, and the line reader of -load accepts CR LF itself.
constexpr int SEQ_READ = O_RDONLY | O_CLOEXEC;
constexpr int SEQ_WRITE = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;

// The largest block the buffer takes (2 to the 30th).
constexpr uint64_t SEQ_MAX_BLOCK = 1073741824;

// The block buffer, one for the whole program; one flat file uses it at a time.
struct SeqBuffer {
  bool active;          // the file now open goes through the buffer
  int descriptor;       // that file
  uint64_t block_size;  // a power of two from 1 to SEQ_MAX_BLOCK
  uint8_t* buffer;      // block_size bytes
  uint64_t position;    // next byte to hand out (reading) or bytes held (writing)
  uint64_t fill;        // valid bytes in the buffer
};
extern SeqBuffer seq_buffer;

// The block size C_SEQ_DEFAULT_BLOCK_SIZE asks for (value: its text, null when unset):
// 4096 when unset, 0 (unbuffered) for a value of 0 or less or not a number, else the value
// rounded up to a power of two, at most SEQ_MAX_BLOCK.
uint64_t seq_block_size(const char* value);

// Opens name with flags (files made get permission 0666 before the umask), through the
// buffer when want_buffer is set and the environment allows it. A descriptor, or -1 with
// the system's reason in errno. A file opened for reading must give bytes: one that fails
// at once (a directory, most often) is refused here.
int seq_open(const char* name, int flags, int want_buffer);
// Bytes delivered (fewer than count only at the end of the data), 0 for count 0, -1 after a
// failed read.
long seq_read(int descriptor, void* buffer, uint64_t count);
// count, or -1 after a failed block write.
long seq_write(int descriptor, const void* buffer, uint64_t count);
// Writes the bytes held: 0, or -1 when they could not all be written.
int seq_flush(int descriptor);
// Releases the buffer and closes the descriptor (without flushing).
int seq_close(int descriptor);
// Results of the record readers besides a length: a length prefix above the record buffer
// (the record is not read), and a failed read (the system's reason in errno). Either ends
// the input.
constexpr long SEQ_RECORD_TOO_LONG = -1;
constexpr long SEQ_READ_FAILED = -2;

// One record of a flat file into record (max_size bytes): its length, 0 at the end of the
// input (also a partial last record and a variable record of length 0), SEQ_RECORD_TOO_LONG
// or SEQ_READ_FAILED. variable: length prefixed, else max_size bytes. The portable prefix
// is big-endian, 4 bytes when wide else 2; the native prefix is always 4 bytes in the
// machine's order (wide is ignored).
long read_portable_record(int descriptor, uint8_t* record, int variable, int wide,
                          uint32_t max_size);
long read_native_record(int descriptor, uint8_t* record, int variable, int wide, uint32_t max_size);

#endif  // IXKIT_TRANSFER_SEQFILE_H
