// Writing one loaded record, and what a refusal leads to.
#include "ixkit/front/state.h"
#include "ixkit/libs/rtcore.h"
#include "ixkit/transfer/load.h"
#include "ixkit/transfer/rejects.h"

int write_loaded_record(KFile* destination, uint8_t* record, uint32_t length, int replace,
                        const char* name, int silent) {
  if (k5_write(destination, record, length)) return 1;
  int code = *rt_file_error();
  if (code == RT_ERR_DUPLICATE && replace) {
    if (k5_rewrite(destination, record, length)) return 1;
    // The library's reason, if one is printed below, follows on the same line.
    rt_print("%s", rt_message(1000, 0, "Rewrite failed: "));
    rt_fflush(rt_stdout());
    code = *rt_file_error();
  }
  if (code == RT_ERR_DUPLICATE) {
    if (!silent) store_rejected_record(destination, length, record);
    return 1;
  }
  ki_error(name);
  if (*rt_file_error() == RT_ERR_NOT_FOUND) return 1;  // the record is skipped
  k5_close(destination);
  rt_free(record, IXKIT_SOURCE, __LINE__, 0);
  return 0;
}
