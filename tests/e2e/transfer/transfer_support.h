// Shared pieces of the record transfer tests: Kelvra files made and read in the test process
// with the library, and the bytes of flat files.
#ifndef IXKIT_TESTS_E2E_TRANSFER_TRANSFER_SUPPORT_H
#define IXKIT_TESTS_E2E_TRANSFER_TRANSFER_SUPPORT_H

#include <cstdint>
#include <string>
#include <vector>

#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"
#include "tests/e2e/harness.h"

namespace transfer_test {

// A Kelvra file to make: the texts of k5_make.
struct NewFile {
  std::string sizes;  // "max,min,keys"
  std::string keys;   // "segments,duplicates,size,offset,..."
  int version = 5;
  std::string storage = "0,0,0,0,0";
  std::string comment;
  long segment_size = 0;  // K_SEGMENT_SIZE for the make; 0 leaves the default
};

// The usage text's first line, by which a refused command line is recognised.
constexpr const char* kUsageStart = "ixkit -info    [-kpxq] [files]\n";

class TransferTest : public e2e::E2eTest {
 protected:
  void SetUp() override {
    rt_config_reset();
    k5_init_cfg();
    ASSERT_NE(k5_init(), 0);
  }
  void TearDown() override {
    k5_exit(0);
    rt_config_reset();
  }

  // Makes an empty file (replacing one of that name).
  void make(const std::string& name, const NewFile& described) {
    rt_config_set("K_VERSION", 0, described.version);
    if (described.segment_size > 0) rt_config_set("K_SEGMENT_SIZE", 0, described.segment_size);
    int made = k5_make(name.c_str(), described.comment.c_str(), described.storage.c_str(),
                       described.sizes.c_str(), described.keys.c_str(), nullptr);
    rt_config_reset();
    ASSERT_NE(made, 0) << "k5_make " << name << " error " << *rt_file_error();
  }

  // Adds records to a file, each with its own length.
  void put(const std::string& name, const std::vector<std::string>& records) {
    KFile* f = k5_open(name.c_str(), K_MODE_WRITE, "0,0,0");
    ASSERT_NE(f, nullptr) << name << " error " << *rt_file_error();
    for (const std::string& r : records) {
      ASSERT_NE(k5_write(f, r.data(), static_cast<uint32_t>(r.size())), 0)
          << "write error " << *rt_file_error();
    }
    ASSERT_NE(k5_close(f), 0);
  }

  // Every record in the order of key number key.
  std::vector<std::string> records(const std::string& name, int key = 0) {
    std::vector<std::string> out;
    KFile* f = k5_open(name.c_str(), K_MODE_READ, "0,0,0");
    EXPECT_NE(f, nullptr) << name << " error " << *rt_file_error();
    if (f == nullptr) return out;
    std::vector<char> buffer(f->max_record_size + 1, 0);
    if (k5_start(f, buffer.data(), key, 0, K_START_NOT_LESS)) {
      int n;
      while ((n = k5_next(f, buffer.data())) > 0) out.emplace_back(buffer.data(), n);
    }
    k5_close(f);
    return out;
  }

  // The code -N description text of a file.
  std::string info(const std::string& name, int code) {
    KFile* f = k5_open(name.c_str(), K_MODE_READ, "0,0,0");
    EXPECT_NE(f, nullptr);
    if (f == nullptr) return "";
    char text[320] = {};
    k5_info(f, code, text);
    k5_close(f);
    return text;
  }
};

// Success when both lists hold the same records in the same order; otherwise says where they
// first differ (without printing records of many kilobytes).
inline ::testing::AssertionResult same_records(const std::vector<std::string>& got,
                                               const std::vector<std::string>& want) {
  for (size_t i = 0; i < got.size() && i < want.size(); ++i) {
    if (got[i] != want[i]) {
      return ::testing::AssertionFailure()
             << "record " << i << " differs: " << got[i].size() << " bytes, expected "
             << want[i].size() << " bytes, first 16: '" << got[i].substr(0, 16) << "' vs '"
             << want[i].substr(0, 16) << "'";
    }
  }
  if (got.size() != want.size()) {
    return ::testing::AssertionFailure() << got.size() << " records, expected " << want.size();
  }
  return ::testing::AssertionSuccess();
}

// text padded with pad to size bytes.
inline std::string padded(std::string text, size_t size, char pad = '\0') {
  text.resize(size, pad);
  return text;
}

inline std::string be16(uint32_t n) {
  return {static_cast<char>(n >> 8), static_cast<char>(n)};
}
inline std::string be32(uint32_t n) {
  return {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
          static_cast<char>(n)};
}
inline std::string le32(uint32_t n) {
  return {static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(n >> 16),
          static_cast<char>(n >> 24)};
}

}  // namespace transfer_test

#endif  // IXKIT_TESTS_E2E_TRANSFER_TRANSFER_SUPPORT_H
