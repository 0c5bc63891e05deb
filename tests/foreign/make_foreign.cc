// Makes a C-ISAM file (NAME.idx and NAME.dat) from a file of fixed records, for the
// demonstration:
//   make_foreign RECORD_LENGTH KEYS FLAT_FILE NAME [DELETE_EVERY]
// KEYS as k5_make takes them: per key the number of parts, 1 or 0 for duplicates, then size
// and offset of each part ("1,0,8,0,1,1,20,8"). With DELETE_EVERY n, every n-th record is
// written as a deleted slot.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "tests/foreign/foreign_files.h"

namespace {

int fail(const char* what) {
  fprintf(stderr, "make_foreign: %s\n", what);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5 && argc != 6) {
    return fail("usage: make_foreign RECORD_LENGTH KEYS FLAT_FILE NAME [DELETE_EVERY]");
  }
  foreign::CisamLayout layout;
  layout.record_length = static_cast<uint16_t>(atoi(argv[1]));
  std::vector<long> numbers;
  std::stringstream keys(argv[2]);
  for (std::string n; std::getline(keys, n, ',');) numbers.push_back(atol(n.c_str()));
  for (size_t i = 0; i + 1 < numbers.size();) {
    foreign::CisamKey key;
    const long parts = numbers[i];
    key.duplicates = numbers[i + 1] != 0;
    i += 2;
    for (long p = 0; p < parts && i + 1 < numbers.size(); ++p, i += 2) {
      key.parts.push_back(
          {static_cast<uint16_t>(numbers[i]), static_cast<uint16_t>(numbers[i + 1])});
    }
    layout.keys.push_back(key);
  }
  const long every = argc == 6 ? atol(argv[5]) : 0;

  std::ifstream flat(argv[3], std::ios::binary);
  if (!flat || layout.record_length == 0 || layout.keys.empty()) return fail("bad arguments");
  const std::string records{std::istreambuf_iterator<char>(flat), {}};
  const std::string name = argv[4];
  std::ofstream(name + ".idx", std::ios::binary) << foreign::cisam_index(layout);
  std::ofstream data(name + ".dat", std::ios::binary);
  long n = 0;
  for (size_t at = 0; at + layout.record_length <= records.size(); at += layout.record_length) {
    ++n;
    data << foreign::cisam_slot(records.substr(at, layout.record_length), layout.record_length,
                                every == 0 || n % every != 0);
  }
  return data ? 0 : fail("cannot write the data file");
}
