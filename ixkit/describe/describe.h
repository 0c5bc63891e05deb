// The per-file work of the describe commands: reporting on one file, or patching its header.
#ifndef IXKIT_DESCRIBE_DESCRIBE_H
#define IXKIT_DESCRIBE_DESCRIBE_H

#include <cstdint>

// -info: the report on one file; the second and later files of a run are set apart (and,
// with pause, waited for).
void info_file(const char* name, int extended, int pause, int key_table);
// -size: one table line; a file that is not a Kelvra file is named only when silent is 0.
void size_file(const char* name, int silent);
// -zero: the user count set to 0.
void zero_file(const char* name);
// -fixvers: the version stamp of the first data segment copied into every other segment.
void fixvers_file(const char* name);
// -note: the comment stored in the header (at most 30 characters).
void note_file(const char* name, const char* comment);
// -augment: the maximum record size set to new_max.
void augment_file(const char* name, uint32_t new_max);

#endif  // IXKIT_DESCRIBE_DESCRIBE_H
