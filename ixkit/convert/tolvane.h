// The Tolvane reader: the header, key information and index trees of name.idx, and the
// records of the data file. It works with the C library's file calls and allocator; every
// routine that fails prints its own diagnostic and gives null.
#ifndef IXKIT_CONVERT_TOLVANE_H
#define IXKIT_CONVERT_TOLVANE_H

#include <cstdint>

struct tl_KeyBlock;
struct tl_KeyInfo;

// The index file header (its first 512 bytes), decoded.
struct tl_Header {
  uint16_t hdr_Length;  // header length
  uint16_t hdr_SequenceNumber;
  uint16_t hdr_Integrity;
  char hdr_Date[14];
  uint16_t hdr_Organization;
  uint16_t hdr_Compression;  // non-zero: the records are compressed
  uint16_t hdr_Format;
  uint16_t hdr_RecMode;
  uint16_t hdr_MaxRecordLength;
  uint16_t hdr_MinRecordLength;
  uint32_t hdr_Version;
  uint32_t hdr_EndOfIdx;   // index offsets at or beyond it are invalid
  uint32_t hdr_EndOfData;  // data offsets at or beyond it are invalid
  uint16_t hdr_NumKeys;
  uint16_t hdr_IndexFormat;
  uint16_t hdr_OccurrenceSize;
  uint32_t hdr_KeyInfoOffset;
  uint32_t hdr_FreeSpaceOffset;
  uint32_t hdr_IdxFreeOffset;
  uint16_t hdr_IdxRecordLength;  // key information block and index node size
};

// One entry of an index node: a record's offset in a leaf, a child node's above.
struct tl_Key {
  uint16_t key_Level;  // level of the node it came from, 0 for a leaf
  uint32_t key_Pointer;
  tl_Key* key_Next;
};

struct tl_KeyComponent {
  uint16_t kc_Length;
  uint16_t kc_Offset;
  uint32_t kc_Duplicates;  // 1 when the key allows duplicates (first component)
  tl_KeyBlock* kc_Owner;
  tl_KeyComponent* kc_Next;
};

// One key: its components and the entries of its tree in key order.
struct tl_KeyBlock {
  uint16_t kb_Compression;
  tl_Key* kb_Keys;
  tl_KeyComponent* kb_Components;
  tl_KeyInfo* kb_Owner;
  tl_KeyBlock* kb_Next;
};

// One key information block of the chain and the keys described in it.
struct tl_KeyInfo {
  tl_KeyBlock* ki_Blocks;
  tl_KeyInfo* ki_Next;
};

struct tl_Record {
  uint16_t rec_Length;
  uint16_t rec_Status;  // the record header's 4 status bits, in the high 4 bits
  uint8_t* rec_Data;
};

struct tl_Reader {
  char* rdr_IdxName;  // owned
  char* rdr_DataName;
  int rdr_IdxFd;  // -1 while not open
  int rdr_DataFd;
  tl_Header* rdr_Header;
  tl_KeyInfo* rdr_KeyInfo;
  // Offsets of the index nodes and key information blocks read, so that none is read
  // twice: a hash set of offset + 1 (0 marks a free slot).
  uint32_t* rdr_Nodes;
  uint32_t rdr_NodeSlots;  // a power of two
  uint32_t rdr_NodeCount;
  uint32_t rdr_NodeLimit;  // nodes the index file can hold
};

// Reads and decodes the header from the start of the index file into reader.
tl_Header* tl_ReadHeader(tl_Reader* reader);
// Reads the key information chain with every key's components and entries. The header's
// keys are described one after another from offset 6 of the first block; where the next
// description would not fit a block, they go on in the next block of the chain.
tl_KeyInfo* tl_ReadKeyInfo(tl_Reader* reader);
// Takes into info->ki_Blocks the descriptions of block (one key information block) from
// position until *keys of them are read or the next does not fit the block, lowering *keys
// by each. 0 when one cannot be read (info->ki_Blocks then empty).
int tl_ReadKeyBlocks(tl_Reader* reader, tl_KeyInfo* info, const uint8_t* block, uint32_t position,
                     uint32_t* keys);
// count components of block's key from position in the key information block.
tl_KeyComponent* tl_ReadKeyComponents(tl_Reader* reader, tl_KeyBlock* key, const uint8_t* block,
                                      uint32_t position, int count);
// The entries of the tree below the node at offset, in key order: each entry of an inner
// node followed by the entries below it. depth: levels above this node.
tl_Key* tl_ReadKeys(tl_Reader* reader, tl_KeyBlock* key, uint32_t offset, int depth);
// The record at offset of the data file; null when it cannot be read, the file error code
// then saying why.
tl_Record* tl_GetRecord(tl_Reader* reader, uint32_t offset);
// Releases everything the reader holds and closes its files.
void tl_Close(tl_Reader* reader);

// Seeks fd to offset: 1, or 0.
int tl_Seek(int fd, uint32_t offset);
// Reads count bytes: 1, or 0 when fewer came.
int tl_Read(int fd, void* buffer, uint32_t count);
// Prints "Error (ERRNO): what".
void tl_Error(const char* what);

// The release operations of the lists.
void tl_FreeKeys(tl_Key* keys);
void tl_FreeKeyBlocks(tl_KeyBlock* blocks);
void tl_FreeKeyInfo(tl_KeyInfo* info);
void tl_FreeRecord(tl_Record* record);

// Marks the index node or key information block at offset as read: 1, or 0 (after a
// diagnostic naming the index file) when it lies in the header, was read before, or more
// nodes were read than the file can hold.
int tl_MarkNode(tl_Reader* reader, uint32_t offset);

#endif  // IXKIT_CONVERT_TOLVANE_H
