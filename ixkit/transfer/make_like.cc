// Making a file empty again with the description of another (or its own).
#include <cstdio>

#include "ixkit/describe/description.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/rtcore.h"
#include "ixkit/transfer/load.h"

int make_like(const char* model, const char* new_name, int version) {
  KFile* file = k5_open(model, K_MODE_READ, "0,0,0");
  if (file == nullptr) {
    ki_error(model);
    return 0;
  }
  if (version == 0) version = file->version;
  long configured = rt_config_int("K_VERSION", 0);
  if (configured != version) rt_config_set("K_VERSION", 0, version);

  char sizes[64] = {}, storage[64] = {}, comment[64] = {};
  uint8_t collating[256];
  // The file is made again from these texts: one the library cannot give stops it.
  bool has_table = false;
  if (!k5_info(file, -1, sizes) || !k5_info(file, -2, storage) || !k5_info(file, -3, comment) ||
      (!(has_table = k5_info(file, -5, reinterpret_cast<char*>(collating)) != 0) &&
       *rt_file_error() != 0)) {
    ki_error(model);
    k5_close(file);
    if (configured != version) rt_config_set("K_VERSION", 0, configured);
    return 0;
  }
  unsigned max_size = 0, min_size = 0, keys = 0;
  sscanf(sizes, "%u,%u,%u", &max_size, &min_size, &keys);
  char* key_texts = join_key_texts(file, static_cast<int>(keys));
  k5_close(file);

  int made = k5_make(new_name, comment, storage, sizes, key_texts, has_table ? collating : nullptr);
  if (!made) ki_error(new_name);
  rt_free(key_texts, IXKIT_SOURCE, __LINE__, 0);
  if (configured != version) rt_config_set("K_VERSION", 0, configured);
  return made;
}
