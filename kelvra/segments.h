// Segment files: their names, opening and creating them, and reading and writing bytes in
// them. Versions 2 and 3 have one file, data segment 0, which also holds the index nodes.
#ifndef KELVRA_SEGMENTS_H
#define KELVRA_SEGMENTS_H

#include <cstdint>
#include <string>

#include "kelvra/file.h"

// File name of data (K_SEGMENT_DATA) or index (K_SEGMENT_INDEX) segment n of name:
// data segment 0 is name itself, data segment n is name.dN, index segment n is name.xN.
std::string segment_file_name(const std::string& name, int code, int n);

// Opens segment n (creating it with its header block when create is set and it does not
// exist). Returns 0 with the file error code set when it cannot.
int open_segment(KFileState* s, int code, int n, int create);
// Closes every segment file and forgets the read windows.
void close_segments(KFileState* s);

// Positional reads and writes on a descriptor that go on after short transfers and
// interruptions. read_at gives the bytes read (fewer only at the end of the file or after
// a failure); write_at gives 1, or 0 with the file error code set.
long read_at(int fd, uint64_t pos, void* buffer, size_t count);
int write_at(int fd, uint64_t pos, const void* buffer, size_t count);

// Reads or writes count bytes at pos of a segment. Reads copy from the read windows
// (read_windows.h); a read of bytes that are not all there, also of a file that another
// open has shortened, fails with file error 6 and the given secondary code. Data appended
// at the end of a segment is collected and written in large pieces; reads see it.
int segment_read(KFileState* s, int code, int n, uint64_t pos, void* buffer, uint32_t count,
                 int damage);
int segment_write(KFileState* s, int code, int n, uint64_t pos, const void* buffer, uint32_t count);
// Writes the collected appended bytes.
int flush_pending(KFileState* s);
// Length of a segment file as the library sees it (what is written and collected).
int64_t segment_length(KFileState* s, int code, int n);

// The stamp check: 1 when every further segment carries the header's version stamp.
int check_segment_stamps(KFileState* s, int with_index);
// Writes the header's version stamp into every further segment.
int write_segment_stamps(KFileState* s);

#endif  // KELVRA_SEGMENTS_H
