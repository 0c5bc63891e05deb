// Tolvane data records: a record header of 2 bytes (4 when the maximum record length is 4096
// or more) whose high 4 bits are the status and the rest the length, then the data.
#include <cerrno>
#include <cstdlib>

#include "ixkit/convert/tolvane.h"
#include "ixkit/describe/big_endian.h"
#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"

namespace {

// The record cannot be read: why, for the converter's report.
tl_Record* unreadable(tl_Record* record, int secondary) {
  if (secondary == 0) {
    rt_set_file_error(RT_ERR_SYSTEM, errno);
  } else {
    rt_set_file_error(RT_ERR_DAMAGED, secondary);
  }
  tl_FreeRecord(record);
  return nullptr;
}

}  // namespace

tl_Record* tl_GetRecord(tl_Reader* reader, uint32_t offset) {
  auto* record = static_cast<tl_Record*>(calloc(1, sizeof(tl_Record)));
  if (record == nullptr) {
    rt_print("Out of memory allocating data in tl_GetRecord()!\n");
    rt_set_file_error(RT_ERR_MEMORY, 0);
    return nullptr;
  }
  const uint32_t maximum = reader->rdr_Header->hdr_MaxRecordLength;
  const int header = maximum < 4096 ? 2 : 4;
  uint8_t b[4];
  errno = 0;
  if (!tl_Seek(reader->rdr_DataFd, offset) || !tl_Read(reader->rdr_DataFd, b, header)) {
    return unreadable(record, errno != 0 ? 0 : K_DAMAGE_REC_ADDRESS);
  }
  record->rec_Status = static_cast<uint16_t>((b[0] & 0xF0) << 8);
  b[0] &= 0x0F;
  const uint32_t length = get_be(b, header);
  // A Kelvra record has at least one byte, and none is longer than the header's maximum: a
  // length outside that is not a record of this file (and never sizes an allocation).
  if (length == 0 || length > maximum) return unreadable(record, K_DAMAGE_REC_LENGTH);
  record->rec_Length = static_cast<uint16_t>(length);
  record->rec_Data = static_cast<uint8_t*>(malloc(length));
  if (record->rec_Data == nullptr) {
    rt_print("Out of memory allocating data->rec_Data in tl_GetRecord()!\n");
    rt_set_file_error(RT_ERR_MEMORY, 0);
    tl_FreeRecord(record);
    return nullptr;
  }
  errno = 0;
  if (!tl_Read(reader->rdr_DataFd, record->rec_Data, length)) {
    return unreadable(record, errno != 0 ? 0 : K_DAMAGE_REC_LENGTH);
  }
  return record;
}

void tl_FreeRecord(tl_Record* record) {
  if (record == nullptr) return;
  free(record->rec_Data);
  free(record);
}
