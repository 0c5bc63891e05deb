// COBOL file status for the outcome of a library call, as GnuCOBOL's own indexed handler
// reports the same condition.
#ifndef COBFH_STATUS_H
#define COBFH_STATUS_H

// What the failed call was doing: the same library code means another status there.
enum class Verb { Open, Close, Read, Start, Write, Rewrite, Delete };

// The status for the library's last failure (rt_file_error).
const char* status_of_failure(Verb verb);

#endif  // COBFH_STATUS_H
