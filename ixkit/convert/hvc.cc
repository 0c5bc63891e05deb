// Converting an HV/COBOL-85 file: its records, in the order of its data blocks, into a Kelvra
// file that takes the HV/COBOL-85 file's own name.
#include "ixkit/convert/hvc.h"

#include "ixkit/convert/convert.h"
#include "ixkit/convert/steps.h"
#include "ixkit/front/console.h"
#include "ixkit/libs/rtcore.h"

namespace {

struct HvcSource {
  int fd;
  ConvertDescription* d;
};

int fetch_hvc(void* source, const uint8_t** record, uint32_t* length) {
  auto* s = static_cast<HvcSource*>(source);
  *record = s->d->record;
  *length = 0;  // the fixed record size
  return hvc_next_record(s->fd, s->d);
}

uint8_t* buffer(uint32_t size) {
  auto* area = static_cast<uint8_t*>(rt_alloc(size, 0, CONVERT_SOURCE, __LINE__, "vmalloc()", 0));
  if (area == nullptr) out_of_memory();
  return area;
}

}  // namespace

void convert_hvc(const char* name, int choice, ConvertDescription* d) {
  const int fd = hvc_read_header(name, d);
  if (fd < 0) return;
  KFile* file =
      open_converted_file(name, choice, d, rt_message(1067, 0, "Converting HV-85 file %s..."));
  if (file == nullptr) {
    rt_close(fd);
    return;
  }
  d->block = buffer(d->block_size);
  d->record = buffer(d->record_size);
  d->block_number = 0;
  d->cursor = d->block_end = 0;  // the first record looks for a data block
  HvcSource source = {fd, d};
  const CopyCount copied = copy_records(file, fetch_hvc, &source);
  rt_free(d->block, CONVERT_SOURCE, __LINE__, 0);
  rt_free(d->record, CONVERT_SOURCE, __LINE__, 0);
  d->block = d->record = nullptr;
  rt_close(fd);
  if (finish_converted_file(file, name, name, copied) &&
      copied.records != static_cast<long>(d->expected_records)) {
    rt_print(rt_message(1069, 0, "Warning: expected to find %ld records\n"),
             static_cast<long>(d->expected_records));
  }
}
