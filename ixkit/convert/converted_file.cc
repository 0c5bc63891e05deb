// The new Kelvra file of a conversion: made from the conversion description under a
// temporary name, filled, and moved into place only when it is complete and on disk.
#include <cstdio>

#include "ixkit/convert/convert.h"
#include "ixkit/convert/steps.h"
#include "ixkit/front/console.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/rtcore.h"
#include "ixkit/repair/replace.h"

char convert_temp_name[TEMP_NAME_SIZE];

namespace {

// The new file is filled fast: records are appended and every index is built from sorted
// keys when the file is closed. A record refused there for a duplicate key fails the
// conversion, as a refused write would.
constexpr int kFillMode = K_MODE_FAST_FILL;

long refused_duplicates;

void on_duplicate(const KDuplicate*) {
  ++refused_duplicates;
}

// Appends a piece of two numbers to text (room bytes), never past its end.
void append(char* text, size_t room, size_t* at, const char* format, unsigned a, unsigned b) {
  if (*at >= room) return;
  int n = snprintf(text + *at, room - *at, format, a, b);
  if (n > 0) *at += static_cast<size_t>(n);
}

}  // namespace

int make_converted_file(const char* temporary, ConvertDescription* d, int choice) {
  const size_t room = static_cast<size_t>(K_KEY_TEXT_SIZE) * (d->key_count > 0 ? d->key_count : 1);
  char* keys = static_cast<char*>(rt_alloc(room, 0, CONVERT_SOURCE, __LINE__, "vmalloc()", 0));
  if (keys == nullptr) out_of_memory();

  char storage[32], sizes[48];
  snprintf(storage, sizeof storage, "0,0,0,%d,0", choice > 0 ? compression_factor : 0);
  if (d->min_record_size == 0) d->min_record_size = d->record_size;
  snprintf(sizes, sizeof sizes, "%u,%u,%d", d->record_size, d->min_record_size, d->key_count);
  size_t at = 0;
  for (int k = 0; k < d->key_count; ++k) {
    append(keys, room, &at, k == 0 ? "%u,%u" : ",%u,%u", d->segments[k], d->duplicates[k]);
    for (uint32_t s = 0; s < d->segments[k]; ++s) {
      append(keys, room, &at, ",%u,%u", d->segment_size[k][s], d->segment_offset[k][s]);
    }
  }
  int made = k5_make(temporary, d->comment, storage, sizes, keys, nullptr);
  rt_free(keys, CONVERT_SOURCE, __LINE__, 0);
  return made;
}

KFile* open_converted_file(const char* name, int choice, ConvertDescription* d,
                           const char* progress) {
  if (choice == 0 && d->compressed) choice = 1;
  make_temp_name(convert_temp_name, name);
  KFile* file = nullptr;
  if (make_converted_file(convert_temp_name, d, choice)) {
    file = k5_open(convert_temp_name, kFillMode, "0,0,0");
  }
  if (file == nullptr) {
    ki_error(convert_temp_name);
    k5_remove(convert_temp_name);  // nothing of a failed conversion stays behind
    return nullptr;
  }
  refused_duplicates = 0;
  k5_register_duplicate(on_duplicate);
  rt_print(progress, name);
  rt_fflush(rt_stdout());
  return file;
}

CopyCount copy_records(KFile* file, FetchRecord fetch, void* source) {
  CopyCount copied = {0, 0};
  for (;;) {
    const uint8_t* record = nullptr;
    uint32_t length = 0;
    int got = fetch(source, &record, &length);
    if (got == 0) break;
    ++copied.records;
    if (got < 0 || !k5_write(file, record, length)) {
      copied.failed = 1;
      break;
    }
  }
  return copied;
}

int finish_converted_file(KFile* file, const char* name, const char* destination,
                          CopyCount copied) {
  // The reason of a failed copy, before closing can change it.
  const int code = *rt_file_error(), secondary = *rt_file_error2();
  const int closed = k5_close(file);
  k5_register_duplicate(nullptr);
  if (copied.failed || !closed || refused_duplicates > 0) {
    rt_print("error!\n");
    rt_fflush(rt_stdout());
    if (copied.failed) rt_set_file_error(code, secondary);
    if (closed && refused_duplicates > 0) rt_set_file_error(RT_ERR_DUPLICATE, 0);
    ki_error(name);
    k5_remove(convert_temp_name);
    return 0;
  }
  rt_print(rt_message(1068, 0, "%ld records\n"), copied.records);
  rt_fflush(rt_stdout());
  // The file it replaces goes only when the new one is whole on disk.
  if (make_durable(convert_temp_name)) {
    replace_file(convert_temp_name, destination);
  } else {
    raise_exit_status(255);
    k5_remove(convert_temp_name);
  }
  return 1;
}
