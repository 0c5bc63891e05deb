// libFuzzer target: the reader of -rebuild's spool volumes. The input after its first byte
// is the file at the spool path, mounted as volume 1 and read record by record. The first
// byte chooses the volume limit (low 2 bits), the largest record the reader takes (bits 2
// and 3), whether the set identifier is known or taken from the volume (a restart, bit 4),
// how many times the operator offers the same file again when the next volume is asked for
// (bits 5 and 6; then the answer is no), and whether the records read are spooled again and
// read back, which must give the same records (bit 7).
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_files.h"
#include "ixkit/front/state.h"
#include "ixkit/repair/spool.h"

namespace {

// The identifier the seeds' volumes carry.
constexpr uint32_t kSetId = 0x4B53504C;
const int64_t kLimits[4] = {2147483647, 8192 + 100, 3 * 8192, 8192 + 8191};
const uint32_t kCapacities[4] = {SPOOL_MAX_RECORD, 1, 40, 4096};
// Records read from one input at most, and their bytes at most.
constexpr int kMostRecords = 5000;
constexpr size_t kMostBytes = 1 << 20;

// Mounts volume 1 at path and reads its records (at most capacity bytes each).
std::vector<std::string> read_spool(const std::string& path, uint32_t capacity) {
  std::vector<std::string> records;
  spool_begin_reading(path.c_str());
  spool_mount_volume();
  if (spool.descriptor < 0) return records;
  std::vector<uint8_t> buffer(capacity);
  size_t bytes = 0;
  while (records.size() < kMostRecords && bytes < kMostBytes) {
    long length = spool_get(buffer.data(), capacity);
    if (length <= 0) break;
    if (static_cast<uint32_t>(length) > capacity) abort();
    records.emplace_back(reinterpret_cast<const char*>(buffer.data()), length);
    bytes += static_cast<size_t>(length);
  }
  spool_close();
  return records;
}

// Spools records to path as one volume of set id: false when a record could not be put.
bool write_spool(const std::string& path, uint32_t id, const std::vector<std::string>& records) {
  spool_begin_writing(path.c_str(), id);
  spool_create_volume();
  if (spool.descriptor < 0) return false;
  std::vector<uint8_t> buffer(2 + SPOOL_MAX_RECORD);
  for (const std::string& r : records) {
    memcpy(buffer.data() + 2, r.data(), r.size());
    if (!spool_put(buffer.data() + 2, static_cast<uint32_t>(r.size()))) return false;
  }
  if (!spool_put(buffer.data() + 2, 0)) return false;
  while (spool.current > 0) {
    if (!spool_flush()) return false;
  }
  spool_close();
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::start("spool_fuzz");
  quiet = 0;  // the operator is asked for the next volume
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int flags = data[0];
  const std::string path = fuzz::g_dir + "/spool";
  fuzz::put_file(path, data + 1, size - 1);
  std::string answers;
  for (int i = 0; i < (flags >> 5 & 3); ++i) answers += "y\n";
  fuzz::answer(answers + "n\n");
  spool.volume_limit = kLimits[flags & 3];
  spool.set_id = flags & 16 ? 0 : kSetId;
  const std::vector<std::string> records = read_spool(path, kCapacities[flags >> 2 & 3]);

  if (flags & 128) {
    // With the whole stream in one volume, what is spooled comes back as it was.
    spool.volume_limit = kLimits[0];
    fuzz::answer("n\n");
    if (!write_spool(path, kSetId, records)) abort();
    fuzz::answer("n\n");
    spool.set_id = kSetId;
    if (read_spool(path, SPOOL_MAX_RECORD) != records) abort();
  }
  return 0;
}
