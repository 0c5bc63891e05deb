// The limits of a Kelvra file that a foreign file's description must keep, and their
// messages, each naming the foreign file.
#ifndef IXKIT_CONVERT_CHECKS_H
#define IXKIT_CONVERT_CHECKS_H

// The format version new files are made in (K_VERSION 2 to 5, else 5).
int converted_version();

// "NAME: record or block size too large".
void report_too_large(const char* name);
// "NAME: too many keys (120 max)".
void report_too_many_keys(const char* name);
// "NAME: too many segments (LIMIT max)".
void report_too_many_segments(const char* name, int limit);
// "NAME: key too large (250 bytes max)".
void report_key_too_large(const char* name);

#endif  // IXKIT_CONVERT_CHECKS_H
