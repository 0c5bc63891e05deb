// Converting a C-ISAM file: its live records, in the order of the data file, into name.kvl.
#include "ixkit/convert/cisam.h"

#include "ixkit/convert/convert.h"
#include "ixkit/convert/steps.h"
#include "ixkit/front/console.h"
#include "ixkit/libs/rtcore.h"

namespace {

struct CisamSource {
  CisamFiles* files;
  ConvertDescription* d;
};

int fetch_cisam(void* source, const uint8_t** record, uint32_t* length) {
  auto* s = static_cast<CisamSource*>(source);
  *length = 0;  // the fixed record size
  return cisam_next_record(s->files, s->d, record);
}

}  // namespace

void convert_cisam(const char* name, int choice, ConvertDescription* d) {
  CisamFiles files;
  if (cisam_read_dictionary(name, d, &files) < 0) return;
  KFile* file =
      open_converted_file(name, choice, d, rt_message(1075, 0, "Converting CISAM file %s..."));
  if (file == nullptr) {
    cisam_close(&files);
    return;
  }
  const size_t bytes = static_cast<size_t>(d->record_size + 1) * cisam_buffer_slots(d);
  d->record = static_cast<uint8_t*>(rt_alloc(bytes, 0, CONVERT_SOURCE, __LINE__, "vmalloc()", 0));
  if (d->record == nullptr) out_of_memory();
  CisamSource source = {&files, d};
  const CopyCount copied = copy_records(file, fetch_cisam, &source);
  rt_free(d->record, CONVERT_SOURCE, __LINE__, 0);
  d->record = nullptr;
  cisam_close(&files);
  char destination[FOREIGN_NAME_AREA];
  foreign_name(destination, name, ".kvl");
  finish_converted_file(file, name, destination, copied);
}
