// The rejected-records file.
#include "ixkit/transfer/rejects.h"

#include <cstring>

#include "ixkit/libs/rtcore.h"
#include "ixkit/transfer/framing.h"

RejectsStore rejects_store = {nullptr, {}, REJECTS_NOT_OPEN, 0};

void rejects_begin(const char* base_name) {
  rejects_store.base_name = base_name;
  rejects_store.name[0] = '\0';
  rejects_store.handle = REJECTS_NOT_OPEN;
  rejects_store.count = 0;
}

void store_rejected_record(KFile* file, uint32_t length, const uint8_t* record) {
  RejectsStore& r = rejects_store;
  if (r.count < INT32_MAX) ++r.count;  // the count stays at its top rather than overflow
  if (r.handle == REJECTS_FAILED) return;
  if (r.handle == REJECTS_NOT_OPEN) {
    // A base name too long for the name area is treated like a file that cannot be made.
    const char* base = r.base_name != nullptr ? r.base_name : "";
    if (strlen(base) + sizeof ".rej" > sizeof r.name) {
      r.handle = REJECTS_FAILED;
      return;
    }
    rt_name_with_extension(r.name, base, "rej");
    int handle = f_open(r.name, 513);
    if (handle < 0) {
      r.handle = REJECTS_FAILED;
      return;
    }
    r.handle = handle;
  }
  int descriptor = f_okay(r.handle, 0);
  uint8_t prefix[4];
  uint32_t max_size = file != nullptr ? file->max_record_size : 0;
  int prefix_bytes = length_prefix(FlatFraming::portable, max_size, length, prefix);
  rt_fd_write(descriptor, prefix, prefix_bytes);
  rt_fd_write(descriptor, record, static_cast<long>(length));
  f_release(r.handle);
}

void on_duplicate_record(const KDuplicate* report) {
  store_rejected_record(report->file, report->length, report->record);
}

void rejects_finish() {
  RejectsStore& r = rejects_store;
  if (r.count >= 1) {
    rt_print(rt_message(1430, 0, "%ld records with duplicate keys rejected\n"),
             static_cast<long>(r.count));
    if (r.handle >= 0) {
      rt_print(rt_message(1431, 0, "rejected records stored in \"%s\"\n"), r.name);
      f_close(r.handle);
    }
  }
  r.handle = REJECTS_NOT_OPEN;
  r.count = 0;
}
