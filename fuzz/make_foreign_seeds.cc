// Writes seed inputs for the foreign readers' fuzz targets (foreign_fuzz.cc), in the layout
// of fuzz_files.h, from the test writer of the foreign formats: DIR/cisam, DIR/hvc and
// DIR/tolvane, a few sound files each.
//   make_foreign_seeds DIR
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/foreign/foreign_files.h"

namespace {

std::string record(int i, size_t size) {
  char text[16];
  snprintf(text, sizeof text, "%08d%05d", i, i % 7);
  std::string r = text;
  while (r.size() < size) r += static_cast<char>(r.size() % 3 ? ' ' : 'a' + (i + r.size()) % 26);
  return r.substr(0, size);
}

std::vector<std::string> records(int n, size_t size) {
  std::vector<std::string> all;
  for (int i = 0; i < n; ++i) all.push_back(record((i * 37) % n, size - i % 5));
  return all;
}

void seed(const std::string& directory, int n, const std::string& first,
          const std::string& second) {
  mkdir(directory.c_str(), 0777);
  const size_t size = first.size();
  std::string input = {static_cast<char>(size >> 16), static_cast<char>(size >> 8),
                       static_cast<char>(size), static_cast<char>(n)};
  FILE* out = fopen((directory + "/seed" + std::to_string(n)).c_str(), "wb");
  if (!out) return;
  input += first + second;
  fwrite(input.data(), 1, input.size(), out);
  fclose(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string out = argv[1];
  const std::vector<foreign::TolvaneComponent> key = {{8, 0}};
  for (int n = 0; n < 3; ++n) {
    foreign::CisamLayout c = {
        .record_length = 40,
        .keys = {{.parts = {{8, 0}}}, {.parts = {{5, 8}, {2, 20}}, .duplicates = true}},
        .node_size = static_cast<uint16_t>(256 << n),
        .keys_per_node = n};
    std::string data;
    for (const std::string& r : records(20 + 10 * n, 40))
      data += foreign::cisam_slot(r, 40, r[7] != '3');
    seed(out + "/cisam", n, foreign::cisam_index(c), data);

    foreign::HvcLayout h = {.keys = {{0, 8}, {8, 5, true}},
                            .block_length = static_cast<uint16_t>(200 + 150 * n),
                            .compressed = n != 1,
                            .records = records(30, 40),
                            .other_blocks = n == 2};
    seed(out + "/hvc", n, foreign::hvc_file(h), "");

    foreign::TolvaneLayout t = {
        .max_length = static_cast<uint16_t>(n == 2 ? 5000 : 40),
        .min_length = 30,
        .keys = {{.components = key}, {.components = {{5, 8}}, .duplicates = true}},
        .node_size = static_cast<uint16_t>(64 << n),
        .records = records(40, 40),
        .descriptions_per_block = n == 1 ? 1 : 0};
    const foreign::TolvaneFiles files = foreign::tolvane_files(t);
    seed(out + "/tolvane", n, files.index, files.data);
  }
  return 0;
}
