// The runtime's file error codes: the last failure of a file operation.
#include "ixkit/libs/rtcore.h"

namespace {

uint16_t g_primary = RT_ERR_NONE;
int32_t g_secondary = 0;

const char* const kWords[] = {
    "no error",
    "system error",
    "bad parameter",
    "too many open files",
    "operation not allowed in the open mode",
    "record locked",
    "damaged file",
    "duplicate key",
    "no further or no such record",
    "no current record",
    "no room on the disk or a format limit reached",
    "file locked",
    "record changed",
    "not a Kelvra file or an unsupported version",
    "out of memory",
    "file missing",
    "not supported",
    "access denied",
};

}  // namespace

uint16_t* rt_file_error() {
  return &g_primary;
}

int32_t* rt_file_error2() {
  return &g_secondary;
}

void rt_set_file_error(int primary, int secondary) {
  g_primary = static_cast<uint16_t>(primary);
  g_secondary = secondary;
}

const char* rt_file_error_text(int primary) {
  if (primary < 0 || primary >= static_cast<int>(sizeof kWords / sizeof kWords[0])) {
    return "unknown error";
  }
  return kWords[primary];
}
