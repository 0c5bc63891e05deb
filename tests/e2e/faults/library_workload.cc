// library_workload FILE MODE SEED CALLS: writes, rewrites and deletes 40-byte records of FILE
// (key 0: 8 digits at 0) through the library, opened in MODE, chosen by SEED. Before each
// change it prints the record ("w RECORD", "r RECORD", "d RECORD") and, once the library has
// said it is done, "+": each line goes out at once, so a test knows what the library
// acknowledged even when the process is killed. At the first failure it closes the file,
// says why on standard error and ends with 1.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <string>

#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"

namespace {

constexpr uint32_t kKeys = 120;  // keys 0 to 119 come and go
constexpr uint32_t kSize = 40;

void say(const std::string& line) {
  const std::string text = line + "\n";
  if (write(1, text.data(), text.size()) != static_cast<ssize_t>(text.size())) _exit(2);
}

int fail(KFile* file, const char* name, const char* what) {
  const int code = *rt_file_error(), detail = *rt_file_error2();
  if (file != nullptr) k5_close(file);
  fprintf(stderr, "library_workload: %s: %s failed, error %d,%d\n", name, what, code, detail);
  return 1;
}

// Record of key with letters that compress (blanks) or do not, as the generator chooses.
std::string record(uint32_t key, std::mt19937& random) {
  char text[16];
  snprintf(text, sizeof text, "%08u%05u", key, static_cast<unsigned>(random() % 7));
  std::string r(text);
  const bool blanks = random() % 2 == 0;
  while (r.size() < kSize) r += blanks ? ' ' : static_cast<char>('a' + random() % 26);
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: library_workload FILE MODE SEED CALLS\n");
    return 2;
  }
  const char* name = argv[1];
  std::mt19937 random(static_cast<uint32_t>(strtoul(argv[3], nullptr, 10)));
  const long calls = strtol(argv[4], nullptr, 10);
  if (!k5_init()) return fail(nullptr, name, "start");
  KFile* file = k5_open(name, atoi(argv[2]), "0,0,0");
  if (file == nullptr) return fail(nullptr, name, "open");

  // The keys the file holds now.
  std::set<uint32_t> present;
  char buffer[K_MAX_KEY_SIZE + kSize] = {};
  if (k5_start(file, buffer, 0, 0, K_START_NOT_LESS)) {
    for (int n; (n = k5_next(file, buffer)) > 0;)
      present.insert(std::stoul(std::string(buffer, 8)));
  }
  if (*rt_file_error() != RT_ERR_NOT_FOUND) return fail(file, name, "reading");

  for (long call = 0; call < calls; ++call) {
    const uint32_t key = static_cast<uint32_t>(random() % kKeys);
    const std::string r = record(key, random);
    int done = 0;
    if (!present.contains(key)) {
      say("w " + r);
      done = k5_write(file, r.data(), kSize);
      present.insert(key);
    } else if (random() % 2 == 0) {
      say("r " + r);
      done = k5_rewrite(file, r.data(), kSize);
    } else {
      say("d " + r);
      done = k5_delete(file, r.data());
      present.erase(key);
    }
    if (!done) return fail(file, name, "change");
    say("+");
  }
  if (!k5_close(file)) return fail(nullptr, name, "close");
  k5_exit(0);
  return 0;
}
