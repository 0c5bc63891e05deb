// Which of the three foreign formats a file is: an HV/COBOL-85 file by its own first bytes,
// a C-ISAM or Tolvane file by the first bytes of its ".idx" companion.
#include <cstdio>
#include <cstring>

#include "ixkit/convert/convert.h"
#include "ixkit/describe/big_endian.h"
#include "ixkit/libs/rtcore.h"

namespace {

// Reads up to 256 bytes from the start of name into area, the rest zero; 0 when the file
// does not open.
int read_start(const char* name, uint8_t (&area)[256]) {
  memset(area, 0, sizeof area);
  int fd = rt_open(name, RT_OPEN_EXISTING);
  if (fd < 0) return 0;
  rt_read(fd, area, sizeof area);
  rt_close(fd);
  return 1;
}

}  // namespace

int detect_format(const char* name) {
  uint8_t start[256];
  if (read_start(name, start) && get_be(start, 2) == 1 && memcmp(start + 6, "HVKF", 4) == 0) {
    return FORMAT_HVC;
  }
  if (strlen(name) > static_cast<size_t>(FOREIGN_NAME_MAX)) return FORMAT_UNKNOWN;
  char index[FOREIGN_NAME_AREA];
  snprintf(index, sizeof index, "%s.idx", name);
  if (!read_start(index, start)) return FORMAT_UNKNOWN;
  printf("Header word : %lx\n", static_cast<unsigned long>(get_be(start, 4)));
  if (get_be(start, 2) == 0xFE53) return FORMAT_CISAM;
  if (start[0] >> 4 == 3) return FORMAT_TOLVANE;
  return FORMAT_UNKNOWN;
}
