// The progress line of -rebuild: dots and percentages that run once from 0 to 100 over a
// whole job, fed by the copy of the records and by the library while it builds indexes.
#ifndef IXKIT_REPAIR_PROGRESS_H
#define IXKIT_REPAIR_PROGRESS_H

#include <cstdint>

#include "ixkit/libs/kelvra5.h"

// The last percentage shown, an even number from 0; reset at the start of each copy pass.
extern int progress_mark;

// Prints the marks up to the share of the job done: records done of the header's record
// count (with keys + 1 shares when whole_file, the copy being the first), or, with a
// progress record of the library, the share its key and count give.
void show_progress(const KProgress* record, int64_t done, int keys, bool whole_file);
// The callback registered with k5_register_progress during a fast fill.
void on_progress(const KProgress* record);
// Ends the line after the new file is closed: "100%" when the mark stopped short of it.
void finish_progress();

#endif  // IXKIT_REPAIR_PROGRESS_H
