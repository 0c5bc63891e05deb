// Library error codes to COBOL file status.
#include "cobfh/status.h"

#include <cerrno>

#include "ixkit/libs/rtcore.h"

const char* status_of_failure(Verb verb) {
  switch (*rt_file_error()) {
    case RT_ERR_DUPLICATE:
      return "22";
    case RT_ERR_NOT_FOUND:
      // No such record; at the end of a sequential read the caller says 10 itself.
      return verb == Verb::Open ? "35" : "23";
    case RT_ERR_MISSING:
      return "35";
    case RT_ERR_ACCESS:
      return "37";
    case RT_ERR_LOCKED:
      return "61";  // another program has the file: file sharing failure
    case RT_ERR_LOCKED_REC:
      return "51";
    case RT_ERR_NOT_KELVRA:
      return "39";  // not a file this handler can open with the declared attributes
    case RT_ERR_PARAMETER:
      // A record length the file refuses; elsewhere a description the library refuses.
      return verb == Verb::Write || verb == Verb::Rewrite ? "44" : "39";
    case RT_ERR_DISK_FULL:
      return verb == Verb::Write || verb == Verb::Rewrite ? "24" : "34";
    case RT_ERR_TOO_MANY:
    case RT_ERR_MEMORY:
      return verb == Verb::Open ? "91" : "30";
    case RT_ERR_SYSTEM:
      if (verb == Verb::Open && *rt_file_error2() == ENOENT) return "35";
      if (*rt_file_error2() == EACCES || *rt_file_error2() == EPERM) return "37";
      return "30";
    default:
      return "30";  // a damaged file, a refused operation: a permanent error
  }
}
