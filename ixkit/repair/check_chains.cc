// The chain walk of -check: the deleted chain and, in version 5, the abandoned chain,
// counted against the header's counts.
#include <cstdio>

#include "ixkit/describe/header.h"
#include "ixkit/front/console.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/rtcore.h"
#include "ixkit/repair/check.h"
#include "ixkit/repair/scanner.h"

namespace {

// Walks both chains; 1 when every member carries its chain's flag, else 0 (reported).
// found[0] and found[1] receive the deleted and abandoned members.
int walk_chains(ChainWalk* walk, uint8_t* bytes, uint32_t found[2]) {
  while (true) {
    RecordHeaderView view;
    int result = chain_read(walk, bytes, &view);
    if (result == 0) return 1;
    if (result == WALK_OPEN_FAILED || result == WALK_READ_FAILED) {
      rt_report_error(walk->segment_name);
      raise_exit_status(255);
      return 0;
    }
    if (result == CHAIN_UNREADABLE) {
      rt_fprintf(rt_stderr(), "%s", rt_message(1633, 0, "could not read record header\n"));
      return 0;
    }
    if (result == CHAIN_LOOP) {
      // A chain that comes back on itself would be walked for ever: it is damage.
      rt_fprintf(rt_stderr(), "%s: the %s records list loops back on itself\n", walk->name,
                 walk->abandoned ? "abandoned" : "deleted");
      return 0;
    }
    if (!walk->abandoned && !(view.flags & RECORD_DELETED)) {
      rt_fprintf(rt_stderr(), "%s", rt_message(1634, 0, "found non-deleted record\n"));
      return 0;
    }
    if (walk->abandoned && !(view.flags & RECORD_ABANDONED)) {
      rt_fprintf(rt_stderr(), "%s", rt_message(1780, 0, "found non-abandoned record\n"));
      return 0;
    }
    found[walk->abandoned]++;
  }
}

// Prints "%1 expected, %2 found".
void print_counts(uint32_t expected, uint32_t found) {
  rt_fprint_args(rt_stderr(), rt_message(1778, 0, "%1 expected, %2 found\n"),
                 number_text(expected).text, number_text(found).text);
}

}  // namespace

int check_free_chains(const char* name) {
  uint8_t* bytes = allocate_scan_buffer(static_cast<uint32_t>(raw_header_size) + 6);
  ChainWalk walk;
  chain_start(&walk, name);
  uint32_t found[2] = {0, 0};
  int walked = walk_chains(&walk, bytes, found);
  chain_close(&walk);
  rt_free(bytes, IXKIT_SOURCE, __LINE__, 0);
  if (!walked) return 0;
  if (file_header.version == 3 || file_header.version == 4) {
    // Fewer members than the header counts are accepted; more are not.
    if (found[0] <= file_header.deleted) return 1;
    rt_fprintf(rt_stderr(), "%s", rt_message(1779, 0, "too many deleted records found\n"));
    print_counts(file_header.deleted, found[0]);
    return 0;
  }
  int sound = 1;
  if (found[0] != file_header.deleted) {
    rt_fprintf(rt_stderr(), "%s", rt_message(1635, 0, "wrong number of deleted records found\n"));
    print_counts(file_header.deleted, found[0]);
    sound = 0;
  }
  if (found[1] != file_header.abandoned) {
    rt_fprintf(rt_stderr(), "%s", rt_message(1777, 0, "wrong number of abandoned records found\n"));
    print_counts(file_header.abandoned, found[1]);
    sound = 0;
  }
  return sound;
}
