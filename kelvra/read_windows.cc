// Read windows over segment files.
#include "kelvra/read_windows.h"

#include <algorithm>
#include <cstring>

#include "kelvra/segments.h"

namespace {

// At most this many windows per open file: enough for reads that go through a file by a
// key with duplicates, which come back to a score of places in turn.
constexpr size_t kWindows = 32;
// A window made for a lone read holds this much from its position (a record header and a
// short record, or a node); each further read that runs on past its end doubles it, up to
// kLargest. Reads of more than kLargest bytes go to the file directly.
constexpr uint64_t kFirst = 512;
constexpr uint64_t kLargest = 32768;

bool holds(const ReadWindow& w, int code, int n, uint64_t pos, uint32_t count) {
  return w.segment == n && w.code == code && pos >= w.start && pos + count <= w.start + w.length;
}

// A window to read anew: a new one while there are fewer than kWindows, else the one
// that gave bytes longest ago.
ReadWindow* take(ReadWindows* r) {
  if (r->windows.size() < kWindows) return &r->windows.emplace_back();
  return &*std::min_element(
      r->windows.begin(), r->windows.end(),
      [](const ReadWindow& a, const ReadWindow& b) { return a.used < b.used; });
}

int give(ReadWindows* r, ReadWindow* w, uint64_t pos, uint8_t* out, uint32_t count) {
  w->used = ++r->clock;
  r->last = static_cast<size_t>(w - r->windows.data());
  memcpy(out, w->bytes.data() + (pos - w->start), count);
  return 1;
}

}  // namespace

int window_read(ReadWindows* r, int code, int n, int fd, uint64_t pos, uint8_t* out,
                uint32_t count) {
  if (r->last < r->windows.size() && holds(r->windows[r->last], code, n, pos, count)) {
    return give(r, &r->windows[r->last], pos, out, count);
  }
  // A window whose bytes the read starts in or right after: the reads run on through it.
  ReadWindow* w = nullptr;
  for (ReadWindow& o : r->windows) {
    if (o.segment != n || o.code != code || pos < o.start || pos > o.start + o.length) continue;
    if (pos + count <= o.start + o.length) return give(r, &o, pos, out, count);
    w = &o;
  }
  r->misses++;
  if (count > kLargest) {
    const long got = read_at(fd, pos, out, count);
    return got < 0 ? -1 : got == static_cast<long>(count);
  }
  uint64_t size = w ? std::min(2 * static_cast<uint64_t>(w->bytes.size()), kLargest) : kFirst;
  if (!w) w = take(r);
  size = std::max<uint64_t>(size, count);
  w->bytes.resize(size);
  w->code = code;
  w->segment = n;
  w->start = pos;
  const long got = read_at(fd, pos, w->bytes.data(), size);
  w->length = got < 0 ? 0 : static_cast<uint64_t>(got);
  if (w->length < count) {
    w->used = ++r->clock;
    return got < 0 ? -1 : 0;  // the system refused, or the file ends before the bytes do
  }
  return give(r, w, pos, out, count);
}

void windows_store(ReadWindows* r, int code, int n, uint64_t pos, const uint8_t* bytes,
                   uint64_t count) {
  for (ReadWindow& w : r->windows) {
    if (w.segment != n || w.code != code) continue;
    uint64_t from = std::max(pos, w.start), to = std::min(pos + count, w.start + w.length);
    if (from < to) memcpy(w.bytes.data() + (from - w.start), bytes + (from - pos), to - from);
  }
}

void windows_forget(ReadWindows* r) {
  for (ReadWindow& w : r->windows) w.segment = -1;
  r->last = 0;
}
