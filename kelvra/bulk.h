// The fast fill (mode K_MODE_FAST_FILL): records are appended as they come, their keys are
// collected, and at close every index is built bottom-up from sorted keys (with sorted runs
// on disk when the keys do not fit the sort memory). Records refused for a duplicate key go
// to the duplicate callback and onto the deleted chain.
#ifndef KELVRA_BULK_H
#define KELVRA_BULK_H

#include <cstdint>

#include "kelvra/file.h"

int bulk_begin(KFileState* s);
// Collects the keys of the record just stored at `at`.
int bulk_add(KFileState* s, const uint8_t* record, uint32_t length, KAddress at);
// Builds the indexes; 0 when that failed.
int bulk_finish(KFileState* s);
// Forgets the collected keys and removes any sorted runs.
void bulk_discard(KFileState* s);

#endif  // KELVRA_BULK_H
