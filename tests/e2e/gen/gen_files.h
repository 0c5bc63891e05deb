// Looking at the files -gen made, through the library in the test process.
#ifndef IXKIT_TESTS_E2E_GEN_GEN_FILES_H
#define IXKIT_TESTS_E2E_GEN_GEN_FILES_H

#include <string>
#include <vector>

#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"

namespace gen_files {

// "v5|max,min,keys|storage|comment|key text|...", plus "|table" when the file has one.
inline std::string describe(const std::string& name) {
  k5_init();
  KFile* file = k5_open(name.c_str(), K_MODE_READ, "0,0,0");
  if (file == nullptr) return "no file (error " + std::to_string(*rt_file_error()) + ")";
  std::string d = "v" + std::to_string(file->version);
  char text[256];
  for (int code = -1; code >= -3; --code) {
    if (k5_info(file, code, text)) d += "|" + std::string(text);
  }
  for (int k = 0; k5_info(file, k, text); ++k) d += "|" + std::string(text);
  if (k5_info(file, -5, text)) d += "|table";
  k5_close(file);
  return d;
}

// Writes records of the given primary keys (record size 80) and reads them back in the
// order of the primary key, starting from the key start.
inline std::string write_and_read_in_order(const std::string& name,
                                           const std::vector<std::string>& keys,
                                           const std::string& start) {
  KFile* file = k5_open(name.c_str(), K_MODE_WRITE, "0,0,0");
  if (file == nullptr) return "open failed";
  for (const std::string& k : keys) {
    std::string record = k;
    record.resize(80, ' ');
    k5_write(file, record.data(), 80);
  }
  std::string order;
  std::string record = start;
  record.resize(80, ' ');
  if (k5_start(file, record.data(), 0, 0, K_START_NOT_LESS)) {
    while (k5_next(file, record.data()) > 0) order += record.substr(0, 8) + " ";
  }
  k5_close(file);
  return order;
}

}  // namespace gen_files

#endif  // IXKIT_TESTS_E2E_GEN_GEN_FILES_H
