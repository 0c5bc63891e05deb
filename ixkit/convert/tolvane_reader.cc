// The Tolvane reader: the header and the key information chain. Every number is big-endian.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "ixkit/convert/tolvane.h"
#include "ixkit/describe/big_endian.h"
#include "ixkit/libs/rtcore.h"

namespace {

constexpr uint32_t kHeaderSize = 512;
// A key information block holds its 6-byte head and one description of one component.
constexpr uint32_t kSmallestBlock = 6 + 12;

void out_of_memory_in(const char* what) {
  rt_print("Out of memory allocating %s()!\n", what);
}

}  // namespace

int tl_Seek(int fd, uint32_t offset) {
  return lseek(fd, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

int tl_Read(int fd, void* buffer, uint32_t count) {
  auto* at = static_cast<uint8_t*>(buffer);
  for (uint32_t done = 0; done < count;) {
    const long got = rt_os_read(fd, at + done, count - done);
    if (got <= 0) return 0;
    done += static_cast<uint32_t>(got);
  }
  return 1;
}

void tl_Error(const char* what) {
  rt_print("Error (%d): %s\n", errno, what);
}

tl_Header* tl_ReadHeader(tl_Reader* reader) {
  auto* h = static_cast<tl_Header*>(calloc(1, sizeof(tl_Header)));
  if (h == nullptr) {
    out_of_memory_in("hdr in tl_ReadHeader");
    return nullptr;
  }
  uint8_t b[kHeaderSize];
  if (!tl_Read(reader->rdr_IdxFd, b, sizeof b)) {
    free(h);
    return nullptr;
  }
  h->hdr_MaxRecordLength = static_cast<uint16_t>(get_be(b + 56, 2));
  h->hdr_Length = static_cast<uint16_t>(h->hdr_MaxRecordLength < 4096 ? get_be(b, 2) & 0x0FFF
                                                                      : get_be(b + 2, 2));
  h->hdr_SequenceNumber = static_cast<uint16_t>(get_be(b + 4, 2));
  h->hdr_Integrity = static_cast<uint16_t>(get_be(b + 6, 2));
  memcpy(h->hdr_Date, b + 8, sizeof h->hdr_Date);
  h->hdr_Organization = b[39];
  h->hdr_Compression = b[41];
  h->hdr_Format = b[43];
  h->hdr_RecMode = b[48];
  h->hdr_MinRecordLength = static_cast<uint16_t>(get_be(b + 60, 2));
  h->hdr_Version = get_be(b + 108, 4);
  h->hdr_EndOfIdx = get_be(b + 124, 4);
  h->hdr_EndOfData = get_be(b + 132, 4);
  h->hdr_NumKeys = static_cast<uint16_t>(get_be(b + 140, 2));
  h->hdr_IndexFormat = b[142];
  h->hdr_OccurrenceSize = b[143];
  h->hdr_KeyInfoOffset = get_be(b + 148, 4);
  h->hdr_FreeSpaceOffset = get_be(b + 156, 4);
  h->hdr_IdxFreeOffset = get_be(b + 164, 4);
  h->hdr_IdxRecordLength = static_cast<uint16_t>(get_be(b + 174, 2));
  reader->rdr_Header = h;
  return h;
}

tl_KeyComponent* tl_ReadKeyComponents(tl_Reader*, tl_KeyBlock* key, const uint8_t* block,
                                      uint32_t position, int count) {
  tl_KeyComponent *list = nullptr, **tail = &list;
  for (int i = 0; i < count; ++i, position += 5) {
    auto* c = static_cast<tl_KeyComponent*>(calloc(1, sizeof(tl_KeyComponent)));
    if (c == nullptr) {
      out_of_memory_in("curr_kc in tl_ReadKeyComponents");
      while (list != nullptr) {
        tl_KeyComponent* next = list->kc_Next;
        free(list);
        list = next;
      }
      return nullptr;
    }
    const uint32_t word = get_be(block + position, 2);
    c->kc_Length = static_cast<uint16_t>(word & 0x7FFF);
    c->kc_Duplicates = word >> 15;
    c->kc_Offset = static_cast<uint16_t>(get_be(block + position + 2, 2));
    c->kc_Owner = key;
    *tail = c;
    tail = &c->kc_Next;
  }
  return list;
}

int tl_ReadKeyBlocks(tl_Reader* reader, tl_KeyInfo* info, const uint8_t* block, uint32_t position,
                     uint32_t* keys) {
  const uint32_t size = reader->rdr_Header->hdr_IdxRecordLength;
  tl_KeyBlock** tail = &info->ki_Blocks;
  bool failed = false;
  while (!failed && *keys > 0 && position + 2 <= size) {
    const uint32_t length = get_be(block + position, 2);
    // The next description does not fit: the keys go on in the next block.
    if (length == 0 || length > size - position) break;
    auto* key = static_cast<tl_KeyBlock*>(calloc(1, sizeof(tl_KeyBlock)));
    if (key == nullptr) {
      out_of_memory_in("curr_kb in tl_ReadKeyBlocks");
      failed = true;
      break;
    }
    key->kb_Owner = info;
    *tail = key;
    tail = &key->kb_Next;
    key->kb_Compression = length >= 7 ? block[position + 6] : 0;
    // Compressed key values change the size of every entry: refused before the tree is read.
    if (key->kb_Compression != 0) {
      rt_print("Key compression not supported yet.\n");
      failed = true;
      break;
    }
    key->kb_Components =
        tl_ReadKeyComponents(reader, key, block, position + 7, (static_cast<int>(length) - 7) / 5);
    if (key->kb_Components == nullptr) {
      failed = true;
      break;
    }
    key->kb_Keys = tl_ReadKeys(reader, key, get_be(block + position + 2, 4), 0);
    position += length;
    --*keys;
  }
  if (!failed) return 1;
  tl_FreeKeyBlocks(info->ki_Blocks);
  info->ki_Blocks = nullptr;
  return 0;
}

tl_KeyInfo* tl_ReadKeyInfo(tl_Reader* reader) {
  const tl_Header* h = reader->rdr_Header;
  const uint32_t size = h->hdr_IdxRecordLength;
  if (size < kSmallestBlock) {
    rt_print("%s: index record length %u too small\n", reader->rdr_IdxName, size);
    return nullptr;
  }
  // No sound file has more nodes than its length holds.
  const off_t length = lseek(reader->rdr_IdxFd, 0, SEEK_END);
  const uint64_t nodes = length > 0 ? static_cast<uint64_t>(length) / size + 1 : 1;
  reader->rdr_NodeLimit = nodes < UINT32_MAX ? static_cast<uint32_t>(nodes) : UINT32_MAX;

  auto* kp = static_cast<uint8_t*>(malloc(size));
  if (kp == nullptr) {
    out_of_memory_in("kp in tl_ReadKeyInfo");
    return nullptr;
  }
  tl_KeyInfo *list = nullptr, **tail = &list;
  uint32_t keys = h->hdr_NumKeys;
  bool failed = false;
  // Enough blocks to describe the header's keys are read, and none twice.
  for (uint32_t offset = h->hdr_KeyInfoOffset; !failed && offset != 0 && keys > 0;) {
    if (offset >= h->hdr_EndOfIdx) {
      rt_print("%s: key information at offset %lu beyond the end of the file\n",
               reader->rdr_IdxName, static_cast<unsigned long>(offset));
      failed = true;
      break;
    }
    if (!tl_MarkNode(reader, offset)) {
      failed = true;
      break;
    }
    if (!tl_Seek(reader->rdr_IdxFd, offset) || !tl_Read(reader->rdr_IdxFd, kp, size)) {
      tl_Error("tl_ReadKeyInfo() couldn't read file");
      failed = true;
      break;
    }
    auto* info = static_cast<tl_KeyInfo*>(calloc(1, sizeof(tl_KeyInfo)));
    if (info == nullptr) {
      out_of_memory_in("k in tl_ReadKeyInfo");
      failed = true;
      break;
    }
    *tail = info;
    tail = &info->ki_Next;
    offset = get_be(kp + 2, 4);
    failed = !tl_ReadKeyBlocks(reader, info, kp, 6, &keys);
  }
  free(kp);
  if (!failed && keys > 0) {
    rt_print("%s: %u of %u keys not described\n", reader->rdr_IdxName, keys, h->hdr_NumKeys);
  }
  if (failed || keys > 0) {
    tl_FreeKeyInfo(list);
    return nullptr;
  }
  reader->rdr_KeyInfo = list;
  return list;
}

void tl_FreeKeyBlocks(tl_KeyBlock* blocks) {
  while (blocks != nullptr) {
    tl_KeyBlock* next = blocks->kb_Next;
    tl_FreeKeys(blocks->kb_Keys);
    for (tl_KeyComponent* c = blocks->kb_Components; c != nullptr;) {
      tl_KeyComponent* after = c->kc_Next;
      free(c);
      c = after;
    }
    free(blocks);
    blocks = next;
  }
}

void tl_FreeKeyInfo(tl_KeyInfo* info) {
  while (info != nullptr) {
    tl_KeyInfo* next = info->ki_Next;
    tl_FreeKeyBlocks(info->ki_Blocks);
    free(info);
    info = next;
  }
}

void tl_Close(tl_Reader* reader) {
  free(reader->rdr_IdxName);
  free(reader->rdr_DataName);
  if (reader->rdr_IdxFd >= 0) rt_os_close(reader->rdr_IdxFd);
  if (reader->rdr_DataFd >= 0) rt_os_close(reader->rdr_DataFd);
  free(reader->rdr_Header);
  tl_FreeKeyInfo(reader->rdr_KeyInfo);
  free(reader->rdr_Nodes);
  *reader = {};
  reader->rdr_IdxFd = reader->rdr_DataFd = -1;
}
