// Whole lines of any length from a text file.
#include <cstring>

#include "rtcore/internal.h"

bool rtcore::read_line(FILE* file, std::string& line) {
  line.clear();
  if (!file) return false;
  char piece[512];
  bool any = false;
  while (fgets(piece, sizeof piece, file)) {
    any = true;
    size_t length = strlen(piece);
    if (length > 0 && piece[length - 1] == '\n') {
      line.append(piece, length - 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return true;
    }
    line.append(piece, length);
  }
  return any;
}
