// The progress line of -rebuild.
#include "ixkit/repair/progress.h"

#include "ixkit/describe/header.h"
#include "ixkit/libs/rtcore.h"

int progress_mark = 0;

namespace {

// A share as a whole percentage, truncated; kept within what the line can show, so that a
// count beyond the header's cannot overflow the conversion.
int percent(double share) {
  return share >= 100.0 ? 100 : share <= 0.0 ? 0 : static_cast<int>(share);
}

}  // namespace

void show_progress(const KProgress* record, int64_t done, int keys, bool whole_file) {
  const double total = file_header.records;
  int p;
  if (file_header.records == 0) {
    p = 100;
  } else if (whole_file && record == nullptr) {
    p = percent(100.0 * static_cast<double>(done) / ((keys + 1.0) * total));
  } else if (whole_file) {
    // Shares of the job: the copy of the records, then the index of each key in turn.
    const double t = record->total, k = record->key, n = record->key_count;
    p = t > 0 ? percent(100.0 * (k * t + t + record->done) / ((n + 1.0) * t)) : 100;
  } else {
    // Integer arithmetic; 64 bits hold 100 times any count of records.
    p = percent(static_cast<double>(100 * done / static_cast<int64_t>(file_header.records)));
  }
  if (p < progress_mark + 2) return;
  while (progress_mark < p) {
    progress_mark += 2;
    if (progress_mark % 10 == 0) {
      rt_print("%d%%", progress_mark);
    } else {
      rt_print(".");
    }
  }
}

void on_progress(const KProgress* record) {
  show_progress(record, 0, record->key_count, true);
}

void finish_progress() {
  if (progress_mark <= 0) return;
  if (progress_mark < 100) rt_print("100%%");
  rt_print("\n");
}
