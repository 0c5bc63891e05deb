// Temporary files of -rebuild and -convert: the name a new file is built under, and the
// move of the finished file, segment by segment, into the place of its target.
//
// A move never leaves the new file without a complete name: every segment is first given
// its target name beside its temporary one (a hard link), and only when all of them are in
// place are the temporary names dropped. Killed at any moment, the new file opens complete
// under its temporary name, or under the target's.
#ifndef IXKIT_REPAIR_REPLACE_H
#define IXKIT_REPAIR_REPLACE_H

#include <climits>

// Room for a temporary name: any path the platform allows.
constexpr int TEMP_NAME_SIZE = PATH_MAX;

// The fixed temporary name of -rebuild -t (a plain name), empty when not given.
extern char fixed_temp_name[257];

// Fills area (TEMP_NAME_SIZE bytes) with the name to build the new file of target under: in
// temp_directory when set, else beside target; fixed_temp_name when set, else a new name.
void make_temp_name(char* area, const char* target);

// Moves every segment of the finished file temporary into the place of target's segments,
// in temp's directory (so with temp_directory set, target itself is left alone). A failure
// is reported and raises exit_status to 255; the other segments are still moved, and the
// new file keeps its temporary names too, so that it stays whole under them (said so).
void replace_file(const char* temporary, const char* target);

// Gives source the name made of source's directory and target's base name; 1 when the source
// name is still to be dropped (the move made a second name), 2 when it was renamed, 0 after a
// failure (reported, exit_status 255).
int move_segment(const char* source, const char* target);
// Replaces whatever is at destination by source, as move_segment says.
int rename_over(const char* source, const char* destination);

// Flushes every segment of the Kelvra file name, and the directory holding it, to disk.
// 1, or 0 with the system's reason reported for the file that failed.
int make_durable(const char* name);

#endif  // IXKIT_REPAIR_REPLACE_H
