// Shared by the -check and -rebuild tests: file f in the scratch directory, made and damaged
// by the test, its check, the full progress line, and how a run ended.
#ifndef IXKIT_TESTS_E2E_REPAIR_REPAIR_FIXTURE_H
#define IXKIT_TESTS_E2E_REPAIR_REPAIR_FIXTURE_H

#include <filesystem>
#include <string>

#include "tests/e2e/kelvra_files.h"

namespace e2e {

inline const std::string kLine =
    "....10%....20%....30%....40%....50%....60%....70%....80%....90%....100%\n";

// Success when the run ended with this status and its output ends with tail.
inline ::testing::AssertionResult ended(const RunResult& r, int status, const std::string& tail) {
  if (r.status == status && r.out.ends_with(tail)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "not status " << status << " and output ending " << tail << "\n"
         << r;
}

class RepairTest : public E2eTest {
 protected:
  // f as make_permuted makes it, of the version record_at works on.
  void make_file(int version, uint32_t n = 60, uint32_t deleted = 10, uint32_t rewritten = 0,
                 const std::string& storage = "0,0,0,0,0", long segment_size = 0) {
    version_ = version;
    kfiles::make_permuted(f_, version, n, deleted, rewritten, storage, segment_size);
  }
  void make_file(const kfiles::FileKind& k) {
    make_file(k.version, k.n, k.deleted, k.rewritten, k.storage, k.segment_size);
  }
  long record_at(uint32_t i, long at = 0) { return kfiles::record_position(f_, version_, i, at); }
  std::string index_of_f() const { return ki_segment_name(f_.c_str(), K_SEGMENT_INDEX, 0); }
  // Every byte of f's index after the header block of its segment 0: the nodes are gone.
  void overwrite_index_nodes() {
    const std::string index = index_of_f();
    kfiles::patch(index, 512, std::string(std::filesystem::file_size(index) - 512, '\xa5'));
  }
  RunResult check(const std::string& name = "f") { return run({"-check", "-fx", name}); }

  const std::string f_ = path("f");
  int version_ = 5;
};

}  // namespace e2e

#endif  // IXKIT_TESTS_E2E_REPAIR_REPAIR_FIXTURE_H
