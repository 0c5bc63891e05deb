// Spool volumes of -rebuild: the records of a file written out to a series of volumes at one
// path (the operator changes the medium between them) and read back.
//
// A volume is an 8192-byte header block ("KSPL", the volume number from 1 as 2 bytes and the
// spool set identifier as 4 bytes, big-endian; the rest of the block has no meaning),
// followed by the next part of the record stream. The stream runs on from volume to volume
// at any byte: each record is a 2-byte big-endian length and that many bytes, and a length
// of 0 ends it. It is written in whole blocks of 8192 bytes.
#ifndef IXKIT_REPAIR_SPOOL_H
#define IXKIT_REPAIR_SPOOL_H

#include <cstdint>

constexpr int SPOOL_BLOCK = 8192;
// The longest record a stream can hold.
constexpr uint32_t SPOOL_MAX_RECORD = 65535;

// One for the whole program.
struct SpoolState {
  const char* name;      // the spool path (the rebuild's temporary name area)
  int descriptor;        // the open volume, -1 when none
  int volume;            // number of the volume last opened, 0 before the first
  uint32_t set_id;       // time the spooling started; 0 when not known yet (restart)
  int writing;           // 1 while the stream is written, 0 while it is read
  int64_t volume_bytes;  // bytes written to or read from the open volume, header included
  int64_t volume_limit;  // most bytes of one volume
  int current;           // writing: bytes filled; reading: the next byte to take
  int end;               // writing: SPOOL_BLOCK; reading: the bytes read
  uint8_t buffer[SPOOL_BLOCK];
};
extern SpoolState spool;

// Starts writing at volume 0 with an empty buffer; set_id 0 when it is not known yet (a
// restart, which takes the identifier of the first volume it reads).
void spool_begin_writing(const char* name, uint32_t set_id);
// Starts reading at volume 0 with an empty buffer, for volumes of the same set.
void spool_begin_reading(const char* name);

// Opens the next volume for writing and writes its header block; refuses a volume that
// carries this set's mark already. spool.descriptor stays -1 when no volume could be made.
void spool_create_volume();
// Opens the spool path as the next volume and checks its header block; -1 when refused.
void spool_mount_volume();

// Write or read the smaller of count and what the volume limit leaves, from or into the
// start of the buffer; the bytes moved (short at the end of the medium), or -1.
long spool_write_block(long count);
long spool_read_block(long count);

// Writes the filled buffer; at the end of a medium asks for the next volume. 1, or 0 when
// the operator gives up or a write fails.
int spool_flush();
// Reads the next block, asking for the next volume when one is exhausted. 1, or 0.
int spool_refill();

// Appends a record of length bytes (0: the end mark). The 2 bytes before record are free
// for its length. 1, or 0 on failure.
int spool_put(uint8_t* record, uint32_t length);
// The next record into buffer (capacity bytes): its length, 0 at the end mark, -1 when the
// spool cannot be read further.
long spool_get(uint8_t* buffer, uint32_t capacity);

// Closes the open volume; a volume being written is first flushed to the medium.
void spool_close();

#endif  // IXKIT_REPAIR_SPOOL_H
