// Segment files: names, opening, creating, reading and writing.
#include "kelvra/segments.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ixkit/libs/rtcore.h"
#include "kelvra/bytes.h"
#include "kelvra/errors.h"
#include "kelvra/share.h"

namespace {

// Appended bytes are written once this many are collected.
constexpr size_t kPendingLimit = 1 << 20;

std::vector<SegmentFile>& files(KFileState* s, int code) {
  return code == K_SEGMENT_DATA ? s->data : s->index;
}

std::vector<int64_t>& sizes(KFileState* s, int code) {
  return code == K_SEGMENT_DATA ? s->data_size : s->index_size;
}

// Writes through to segment (code, n), and into the read windows that hold the place. After
// a failed write nobody knows what the file holds there: the windows are dropped.
int write_all(KFileState* s, int code, int n, const void* buffer, uint64_t pos, size_t count) {
  if (!mark_changing(s)) return 0;
  SegmentFile& f = files(s, code)[static_cast<size_t>(n)];
  if (static_cast<int64_t>(pos + count) > f.disk_length) {
    f.disk_length = static_cast<int64_t>(pos + count);
  }
  if (!write_at(f.fd, pos, buffer, count)) {
    windows_forget(&s->windows);
    return 0;
  }
  windows_store(&s->windows, code, n, pos, static_cast<const uint8_t*>(buffer), count);
  return 1;
}

void note_size(KFileState* s, int code, int n, int64_t end) {
  std::vector<int64_t>& v = sizes(s, code);
  if (static_cast<size_t>(n) >= v.size()) v.resize(static_cast<size_t>(n) + 1, 0);
  if (end > v[static_cast<size_t>(n)]) v[static_cast<size_t>(n)] = end;
}

}  // namespace

long read_at(int fd, uint64_t pos, void* buffer, size_t count) {
  uint8_t* p = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < count) {
    long n = rt_os_pread(fd, p + done, count - done, static_cast<long long>(pos + done));
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<long>(done);
}

int write_at(int fd, uint64_t pos, const void* buffer, size_t count) {
  const uint8_t* p = static_cast<const uint8_t*>(buffer);
  while (count > 0) {
    long n = rt_os_pwrite(fd, p, count, static_cast<long long>(pos));
    if (n < 0) return k_fail_errno();
    if (n == 0) {  // no progress: a full medium rather than a loop for ever
      errno = ENOSPC;
      return k_fail_errno();
    }
    p += n;
    pos += static_cast<uint64_t>(n);
    count -= static_cast<size_t>(n);
  }
  return 1;
}

std::string segment_file_name(const std::string& name, int code, int n) {
  if (code == K_SEGMENT_DATA && n == 0) return name;
  return name + (code == K_SEGMENT_DATA ? ".d" : ".x") + std::to_string(n);
}

const char* ki_segment_name(const char* name, int code, int n) {
  static std::string text;
  text = segment_file_name(name ? name : "", code, n);
  return text.c_str();
}

int open_segment(KFileState* s, int code, int n, int create) {
  if (n < 0 || n > 0xFFFF) return k_damaged(K_DAMAGE_SEGMENT);
  std::vector<SegmentFile>& v = files(s, code);
  if (static_cast<size_t>(n) >= v.size()) v.resize(static_cast<size_t>(n) + 1);
  SegmentFile& f = v[static_cast<size_t>(n)];
  if (f.fd >= 0) return 1;
  std::string path = segment_file_name(s->name, code, n);
  int fd = rt_os_open(path.c_str(), s->writable ? O_RDWR : O_RDONLY, 0);
  if (fd < 0 && errno == ENOENT && create && s->writable) {
    fd = rt_os_open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
    if (fd < 0) return k_fail_errno();
    uint8_t block[K_HEADER_SIZE];
    encode_segment_header(s->header, code, n, s->block_bytes, block);
    if (!write_at(fd, 0, block, sizeof block)) {
      rt_os_close(fd);
      rt_os_unlink(path.c_str());
      return 0;
    }
  }
  if (fd < 0) {
    if (errno == ENOENT) return k_damaged(K_DAMAGE_SEGMENT);
    return k_fail_errno();
  }
  f.fd = fd;
  f.exists = 1;
  struct stat st;
  if (fstat(fd, &st) == 0) {
    f.disk_length = st.st_size;
    note_size(s, code, n, st.st_size);
  }
  return 1;
}

void close_segments(KFileState* s) {
  for (std::vector<SegmentFile>* v : {&s->data, &s->index}) {
    for (SegmentFile& f : *v) {
      if (f.fd >= 0) rt_os_close(f.fd);
      f = SegmentFile{};
    }
  }
  windows_forget(&s->windows);
}

int flush_pending(KFileState* s) {
  PendingWrite& p = s->pending;
  if (p.segment < 0 || p.bytes.empty()) return 1;
  int ok = write_all(s, p.code, p.segment, p.bytes.data(), p.start, p.bytes.size());
  p.bytes.clear();
  p.segment = -1;
  return ok;
}

int segment_read(KFileState* s, int code, int n, uint64_t pos, void* buffer, uint32_t count,
                 int damage) {
  if (count == 0) return 1;
  PendingWrite& p = s->pending;
  if (p.code == code && p.segment == n && !p.bytes.empty() && pos < p.start + p.bytes.size() &&
      pos + count > p.start) {
    if (!flush_pending(s)) return 0;
  }
  // A segment that is not there is damage; one the system will not open or read is not.
  if (!open_segment(s, code, n, 0))
    return *rt_file_error() == RT_ERR_DAMAGED ? k_damaged(damage) : 0;
  SegmentFile& f = files(s, code)[static_cast<size_t>(n)];
  const int got =
      window_read(&s->windows, code, n, f.fd, pos, static_cast<uint8_t*>(buffer), count);
  if (got < 0) return k_fail_errno();
  if (got == 0) return k_damaged(damage);
  return 1;
}

int segment_write(KFileState* s, int code, int n, uint64_t pos, const void* buffer,
                  uint32_t count) {
  if (count == 0) return 1;
  if (!open_segment(s, code, n, 1)) return 0;
  note_size(s, code, n, static_cast<int64_t>(pos + count));
  SegmentFile& f = files(s, code)[static_cast<size_t>(n)];
  PendingWrite& p = s->pending;
  const uint8_t* bytes = static_cast<const uint8_t*>(buffer);
  bool same_file = p.code == code && p.segment == n && !p.bytes.empty();
  if (same_file && pos == p.start + p.bytes.size()) {
    p.bytes.insert(p.bytes.end(), bytes, bytes + count);
    return p.bytes.size() >= kPendingLimit ? flush_pending(s) : 1;
  }
  bool overlaps = same_file && pos < p.start + p.bytes.size() && pos + count > p.start;
  bool at_end = static_cast<int64_t>(pos) >= f.disk_length;
  // Bytes written elsewhere in the record area go to the disk after the appended bytes
  // collected before them: a rewrite stores the new record before it frees the old slot.
  bool record_order = code == K_SEGMENT_DATA && p.code == K_SEGMENT_DATA && !p.bytes.empty();
  if (overlaps || at_end || record_order) {
    if (!flush_pending(s)) return 0;
  }
  if (at_end && count < kPendingLimit) {
    // Bytes appended at the end of a file are collected and written in large pieces.
    p.code = code;
    p.segment = n;
    p.start = static_cast<uint32_t>(pos);
    p.bytes.assign(bytes, bytes + count);
    return 1;
  }
  return write_all(s, code, n, buffer, pos, count);
}

int64_t segment_length(KFileState* s, int code, int n) {
  std::vector<int64_t>& v = sizes(s, code);
  return static_cast<size_t>(n) < v.size() ? v[static_cast<size_t>(n)] : 0;
}

int check_segment_stamps(KFileState* s, int with_index) {
  uint8_t block[K_HEADER_SIZE];
  uint32_t stamp = 0;
  for (int n = 1; n <= s->pub.data_segment_high; n++) {
    if (!segment_read(s, K_SEGMENT_DATA, n, 0, block, sizeof block, K_DAMAGE_SEGMENT)) return 0;
    if (!decode_segment_header(s->header, K_SEGMENT_DATA, n, block, &stamp)) {
      return k_damaged(K_DAMAGE_SEGMENT);
    }
    if (stamp != s->header.stamp) return k_damaged(K_DAMAGE_STAMP);
  }
  for (int n = 0; with_index && n <= s->pub.index_segment_high; n++) {
    if (!segment_read(s, K_SEGMENT_INDEX, n, 0, block, sizeof block, K_DAMAGE_SEGMENT)) return 0;
    if (!decode_segment_header(s->header, K_SEGMENT_INDEX, n, block, &stamp)) {
      return k_damaged(K_DAMAGE_SEGMENT);
    }
    if (stamp != s->header.stamp) return k_damaged(K_DAMAGE_STAMP);
  }
  return 1;
}

int write_segment_stamps(KFileState* s) {
  uint8_t stamp[4];
  put_be32(stamp, s->header.stamp);
  int v = s->header.version;
  for (int n = 1; n <= s->pub.data_segment_high; n++) {
    if (!open_segment(s, K_SEGMENT_DATA, n, 0)) return 0;  // a missing segment is not made up
    if (!segment_write(s, K_SEGMENT_DATA, n, static_cast<uint64_t>(K_offsets[v][KF_DATA_STAMP]),
                       stamp, 4)) {
      return 0;
    }
  }
  for (int n = 0; n <= s->pub.index_segment_high; n++) {
    if (!open_segment(s, K_SEGMENT_INDEX, n, 0)) return 0;
    if (!segment_write(s, K_SEGMENT_INDEX, n, static_cast<uint64_t>(K_offsets[v][KF_INDEX_STAMP]),
                       stamp, 4)) {
      return 0;
    }
  }
  return 1;
}
