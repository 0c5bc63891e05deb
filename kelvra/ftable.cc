// The portable file table: plain files the program opens through the library.
#include <fcntl.h>
#include <unistd.h>

#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"
#include "kelvra/errors.h"

int Cfiles[K_FILE_TABLE_SIZE] = {
#define K_FREE8 -1, -1, -1, -1, -1, -1, -1, -1
#define K_FREE64 K_FREE8, K_FREE8, K_FREE8, K_FREE8, K_FREE8, K_FREE8, K_FREE8, K_FREE8
    K_FREE64, K_FREE64, K_FREE64, K_FREE64
#undef K_FREE64
#undef K_FREE8
};

namespace {

bool valid(int handle) {
  return handle >= 0 && handle < K_FILE_TABLE_SIZE && Cfiles[handle] >= 0;
}

}  // namespace

int f_open(const char* name, int mode) {
  if (!name) return k_fail(RT_ERR_PARAMETER) - 1;
  int slot = 0;
  while (slot < K_FILE_TABLE_SIZE && Cfiles[slot] >= 0) slot++;
  if (slot == K_FILE_TABLE_SIZE) return k_fail(RT_ERR_TOO_MANY) - 1;
  // 513: create the file, or empty it, for writing; anything else reads.
  int fd = mode == 513 ? rt_os_open(name, O_WRONLY | O_CREAT | O_TRUNC, 0666)
                       : rt_os_open(name, O_RDONLY, 0);
  if (fd < 0) return k_fail_errno() - 1;
  Cfiles[slot] = fd;
  return slot;
}

int f_okay(int handle, int) {
  return valid(handle) ? Cfiles[handle] : -1;
}

void f_release(int) {}

int f_close(int handle) {
  if (!valid(handle)) return k_fail(RT_ERR_PARAMETER) - 1;
  int r = rt_os_close(Cfiles[handle]);
  Cfiles[handle] = -1;
  return r == 0 ? 0 : -1;
}
