// FCD fields, file status and name resolution.
#include "cobfh/fcd.h"

#include <cstdlib>
#include <cstring>

void fcd_status(FCD3* fcd, const char* status) {
  fcd->fileStatus[0] = static_cast<unsigned char>(status[0]);
  fcd->fileStatus[1] = static_cast<unsigned char>(status[1]);
}

uint32_t fcd_record_length(const FCD3* fcd) {
  if (fcd->recordMode == REC_MODE_VARIABLE) return get_be32(fcd->curRecLen);
  return get_be32(fcd->maxRecLen);
}

namespace {

const char* environment_value(const std::string& name) {
  for (const char* prefix : {"DD_", "dd_", ""}) {
    const char* value = getenv((prefix + name).c_str());
    if (value && *value) return value;
  }
  return nullptr;
}

}  // namespace

std::string fcd_file_name(const FCD3* fcd) {
  std::string name(fcd->fnamePtr ? fcd->fnamePtr : "", fcd->fnamePtr ? get_be16(fcd->fnameLen) : 0);
  name = name.substr(0, strnlen(name.c_str(), name.size()));
  while (!name.empty() && name.back() == ' ') name.pop_back();
  while (!name.empty() && name.front() == ' ') name.erase(0, 1);
  if (!name.empty() && name.find('/') == std::string::npos) {
    if (const char* mapped = environment_value(name)) name = mapped;
  }
  const char* path = getenv("COB_FILE_PATH");
  if (path && *path && !name.empty() && name[0] != '/') {
    std::string base = path;
    if (base.back() != '/') base += '/';
    name = base + name;
  }
  return name;
}
