// What the handler keeps for one open INDEXED file (the FCD's file handle points at it).
#ifndef COBFH_OPEN_FILE_H
#define COBFH_OPEN_FILE_H

#include <cstdint>
#include <string>
#include <vector>

#include "cobfh/key_set.h"
#include "cobfh/layout.h"
#include "ixkit/libs/kelvra5.h"

// Where the next READ NEXT / PREVIOUS goes, as GnuCOBOL's own handler keeps it.
enum class Position {
  Fresh,        // just opened: NEXT reads the first record, PREVIOUS finds nothing
  Library,      // the library's cursor: a START done, or a record read
  Invalid,      // a failed START: status 46 both ways
  EndForward,   // NEXT found no more: NEXT gives 46, PREVIOUS reads the last record
  EndBackward,  // PREVIOUS found no more: PREVIOUS gives 46, NEXT reads the first record
};

// START FIRST and LAST beside the k5_start modes.
enum : int { START_FIRST = -1, START_LAST = -2 };

// A START whose record is not read yet, kept so that it can be done again.
struct PendingStart {
  std::vector<uint8_t> probe;  // a record area holding the key value
  int length = 0;
  int mode = 0;  // a k5_start mode, START_FIRST or START_LAST
};

struct OpenFile {
  KFile* file = nullptr;  // null: an OPTIONAL file that is not there, opened INPUT
  std::string name;
  int mode = 0;  // OPEN_INPUT, OPEN_OUTPUT, OPEN_IO, OPEN_EXTEND
  FileLayout layout;
  int key = 0;  // key of reference
  Position position = Position::Fresh;
  bool pending = false;  // Library position: a START not read yet (else a record read)
  PendingStart start;
  bool last_read = false;        // the last operation was a successful READ
  std::vector<uint8_t> current;  // the record last read (max_record bytes) ...
  uint32_t current_length = 0;   // ... and its length
  std::vector<uint8_t> scratch;  // max_record bytes for reads and lookups
  // Sequential OUTPUT / EXTEND: the highest primary key written since the OPEN (GnuCOBOL's
  // own handler lets EXTEND begin below the keys already in the file); empty before the first.
  std::vector<uint8_t> high_key;
  // OPEN OUTPUT fills fast: the indexes are built at CLOSE, and these sets (one per key,
  // none once the file is finished) say at each WRITE which key values are there already.
  std::vector<KeySet> written;
  // Past this many bytes in the sets the file is finished (indexes built) and written on
  // with ordinary writes: KELVRA_FH_FILL_MEMORY, default 256 MiB.
  size_t fill_memory = 0;
};

#endif  // COBFH_OPEN_FILE_H
