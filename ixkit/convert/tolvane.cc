// Converting a Tolvane file: its records, in the order of the primary key and with their own
// lengths, into name.kvl.
#include <fcntl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ixkit/convert/checks.h"
#include "ixkit/convert/convert.h"
#include "ixkit/convert/steps.h"
#include "ixkit/convert/tolvane.h"
#include "ixkit/libs/rtcore.h"

namespace {

// name followed by extension, in storage of the C library (the reader's own).
char* named(const char* name, const char* extension) {
  char* text = static_cast<char*>(malloc(strlen(name) + strlen(extension) + 1));
  if (text != nullptr) {
    strcpy(text, name);
    strcat(text, extension);
  }
  return text;
}

// Opens the index file and the data file (name, else name.dat): 0 after the system's reason
// for the name tried last.
int open_files(tl_Reader* reader, const char* name) {
  reader->rdr_IdxName = named(name, ".idx");
  reader->rdr_DataName = named(name, "");
  if (reader->rdr_IdxName == nullptr || reader->rdr_DataName == nullptr) {
    rt_report_error(name);
    return 0;
  }
  reader->rdr_IdxFd = rt_os_open(reader->rdr_IdxName, O_RDONLY, 0);
  if (reader->rdr_IdxFd < 0) {
    rt_report_error(reader->rdr_IdxName);
    return 0;
  }
  reader->rdr_DataFd = rt_os_open(reader->rdr_DataName, O_RDONLY, 0);
  if (reader->rdr_DataFd >= 0) return 1;
  free(reader->rdr_DataName);
  reader->rdr_DataName = named(name, ".dat");
  if (reader->rdr_DataName == nullptr) {
    rt_report_error(name);
    return 0;
  }
  reader->rdr_DataFd = rt_os_open(reader->rdr_DataName, O_RDONLY, 0);
  if (reader->rdr_DataFd >= 0) return 1;
  rt_report_error(reader->rdr_DataName);
  return 0;
}

// Fills d from the header and the keys, one key per key block in the order of the chain,
// refusing what a Kelvra file cannot hold before anything is made: 0 after the message.
int describe(const char* name, const tl_Reader* reader, ConvertDescription* d) {
  const tl_Header* h = reader->rdr_Header;
  if (h->hdr_NumKeys > K_MAX_KEYS) {
    report_too_many_keys(name);
    return 0;
  }
  d->record_size = h->hdr_MaxRecordLength;
  // A minimum of 0 says nothing of the lengths; 0 here would make the records fixed.
  d->min_record_size = h->hdr_MinRecordLength > 0 ? h->hdr_MinRecordLength : 1;
  d->key_count = static_cast<int16_t>(h->hdr_NumKeys);
  d->compressed = h->hdr_Compression != 0;
  d->block_size = 512;
  const int limit = converted_version() < 4 ? 6 : K_MAX_SEGMENTS;
  int k = 0;
  for (const tl_KeyInfo* info = reader->rdr_KeyInfo; info != nullptr; info = info->ki_Next) {
    for (const tl_KeyBlock* key = info->ki_Blocks; key != nullptr && k < d->key_count;
         key = key->kb_Next, ++k) {
      int segments = 0;
      uint32_t key_size = 0;
      for (const tl_KeyComponent* c = key->kb_Components; c != nullptr; c = c->kc_Next) {
        if (segments < K_MAX_SEGMENTS) {
          d->segment_size[k][segments] = c->kc_Length;
          d->segment_offset[k][segments] = c->kc_Offset;
        }
        ++segments;
        key_size += c->kc_Length;
      }
      if (segments > limit) {
        report_too_many_segments(name, limit);
        return 0;
      }
      if (key_size > static_cast<uint32_t>(K_MAX_KEY_SIZE)) {
        report_key_too_large(name);
        return 0;
      }
      d->segments[k] = static_cast<uint32_t>(segments);
      d->duplicates[k] = static_cast<uint8_t>(key->kb_Components->kc_Duplicates);
    }
  }
  snprintf(d->comment, sizeof d->comment, "%s", rt_message(1077, 0, "Converted Tolvane file"));
  return check_converted_description(name, d);
}

// The primary key: the first key of the chain.
const tl_KeyBlock* primary_key(const tl_Reader* reader) {
  const tl_KeyInfo* info = reader->rdr_KeyInfo;
  while (info->ki_Blocks == nullptr) info = info->ki_Next;
  return info->ki_Blocks;
}

// The leaf entries of the primary key, fetched one record at a time.
struct TolvaneSource {
  tl_Reader* reader;
  const tl_Key* next;
  tl_Record* current;  // the record last handed out
};

int fetch_tolvane(void* source, const uint8_t** record, uint32_t* length) {
  auto* s = static_cast<TolvaneSource*>(source);
  tl_FreeRecord(s->current);
  s->current = nullptr;
  while (s->next != nullptr && s->next->key_Level != 0) s->next = s->next->key_Next;
  if (s->next == nullptr) return 0;
  s->current = tl_GetRecord(s->reader, s->next->key_Pointer);
  s->next = s->next->key_Next;
  if (s->current == nullptr) return -1;
  *record = s->current->rec_Data;
  *length = s->current->rec_Length;
  return 1;
}

}  // namespace

void convert_tolvane(const char* name, int choice, ConvertDescription* d) {
  tl_Reader reader = {};
  reader.rdr_IdxFd = reader.rdr_DataFd = -1;
  char destination[FOREIGN_NAME_AREA];
  if (!foreign_name(destination, name, ".kvl") || !open_files(&reader, name)) {
    tl_Close(&reader);
    return;
  }
  if (tl_ReadHeader(&reader) == nullptr) {
    printf("Couldn't read headers\n");
  } else if (tl_ReadKeyInfo(&reader) == nullptr) {
    printf("Couldn't read keys\n");
  } else if (describe(name, &reader, d)) {
    KFile* file =
        open_converted_file(name, choice, d, rt_message(1076, 0, "Converting Tolvane file %s..."));
    if (file != nullptr) {
      TolvaneSource source = {&reader, primary_key(&reader)->kb_Keys, nullptr};
      const CopyCount copied = copy_records(file, fetch_tolvane, &source);
      tl_FreeRecord(source.current);
      finish_converted_file(file, name, destination, copied);
    }
  }
  tl_Close(&reader);
}
