// File error codes and ki_error.
#include "kelvra/errors.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"

int k_fail(int code, int secondary) {
  rt_set_file_error(code, secondary);
  return 0;
}

int k_fail_errno() {
  int e = errno;
  switch (e) {
    case ENOENT:
      return k_fail(RT_ERR_MISSING, e);
    case EACCES:
    case EPERM:
    case EROFS:
      return k_fail(RT_ERR_ACCESS, e);
    case ENOSPC:
    case EFBIG:
    case EDQUOT:
      return k_fail(RT_ERR_DISK_FULL, e);
    case ENOMEM:
      return k_fail(RT_ERR_MEMORY, e);
    case EMFILE:
    case ENFILE:
      return k_fail(RT_ERR_TOO_MANY, e);
    default:
      return k_fail(RT_ERR_SYSTEM, e);
  }
}

int k_damaged(int secondary) {
  return k_fail(RT_ERR_DAMAGED, secondary);
}

void k_clear_error() {
  rt_set_file_error(0, 0);
}

void ki_error(const char* name) {
  int code = *rt_file_error();
  int secondary = *rt_file_error2();
  const char* reason = rt_file_error_text(code);
  if ((code == RT_ERR_SYSTEM || code == RT_ERR_MISSING || code == RT_ERR_ACCESS ||
       code == RT_ERR_DISK_FULL || code == RT_ERR_TOO_MANY) &&
      secondary > 0) {
    rt_fprintf(rt_stderr(), "%s: %s: %s (error %d/%d)\n", name ? name : "", reason,
               strerror(secondary), code, secondary);
  } else {
    rt_fprintf(rt_stderr(), "%s: %s (error %d/%d)\n", name ? name : "", reason, code, secondary);
  }
}
