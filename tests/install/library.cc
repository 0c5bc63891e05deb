// Built against the installed library alone (pkg-config kelvra) by tests/install/run: makes a
// Kelvra file, fills it fast, writes, rewrites and deletes records in an ordinary open, then
// reads it back in the order of each key and prints what it reads.
#include <kelvra/kelvra5.h>
#include <kelvra/rtcore.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int g_progress_calls = 0;

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "%s: error %d/%d\n", what, *rt_file_error(), *rt_file_error2());
  std::exit(1);
}

// A 40-byte record: number (6 bytes, the primary key), name (20, a key with duplicates),
// balance (14 digits).
std::string record(const char* number, const char* name, long balance) {
  char text[41];
  std::snprintf(text, sizeof text, "%-6s%-20s%014ld", number, name, balance);
  return text;
}

void print(const char* label, const std::string& r) {
  std::string name = r.substr(6, 20);
  name.erase(name.find_last_not_of(' ') + 1);
  std::printf("%s %s %s %ld\n", label, r.substr(0, 6).c_str(), name.c_str(),
              std::strtol(r.substr(26).c_str(), nullptr, 10));
}

}  // namespace

int main(int argc, char** argv, char** envp) {
  const char* name = argc > 1 ? argv[1] : "accounts";
  rt_init(-1, argv, envp);
  k5_init_cfg();
  if (!k5_init()) fail("k5_init");

  if (!k5_make(name, "install test", "1,1,0,0,0", "40,40,2", "1,0,6,0,1,1,20,6", nullptr)) {
    fail("k5_make");
  }
  k5_register_progress([](const KProgress*) { g_progress_calls++; });
  KFile* f = k5_open(name, K_MODE_FAST_FILL, "0,0,0");
  if (!f) fail("k5_open fill");
  for (const std::string& r : {record("100030", "Smit", 500), record("100010", "Jansen", 1200),
                               record("100040", "Vos", 75), record("100020", "de Boer", 300),
                               record("100050", "Jansen", 990)}) {
    if (!k5_write(f, r.data(), 0)) fail("k5_write fill");
  }
  if (!k5_close(f)) fail("k5_close fill");
  k5_register_progress(nullptr);
  std::printf("fast fill: progress %s\n", g_progress_calls > 0 ? "reported" : "not reported");

  f = k5_open(name, K_MODE_WRITE, "0,0,0");
  if (!f) fail("k5_open write");
  std::string r = record("100060", "Bakker", 10);
  if (!k5_write(f, r.data(), 0)) fail("k5_write");
  r = record("100010", "Duplicate", 1);
  if (k5_write(f, r.data(), 0)) fail("duplicate written");
  std::printf("duplicate primary key: error %d\n", *rt_file_error());
  r = record("100040", "Vos", 80);
  if (!k5_rewrite(f, r.data(), 0)) fail("k5_rewrite");
  r = record("100020", "", 0);
  if (!k5_delete(f, r.data())) fail("k5_delete");
  if (!k5_close(f)) fail("k5_close write");

  f = k5_open(name, K_MODE_READ, "0,0,0");
  if (!f) fail("k5_open read");
  char text[512];
  k5_info(f, -1, text);
  std::printf("max,min,keys: %s\n", text);
  k5_info(f, -3, text);
  std::printf("comment: %s\n", text);
  k5_info(f, -4, text);
  std::printf("records: %s\n", text);
  for (int key = 0; key < f->key_count; key++) {
    std::string low(40, '\0');
    if (!k5_start(f, low.data(), key, 0, K_START_NOT_LESS)) fail("k5_start");
    std::string buffer(40, ' ');
    std::string label = "key " + std::to_string(key) + ":";
    while (k5_next(f, buffer.data()) == 40) print(label.c_str(), buffer);
    if (*rt_file_error() != RT_ERR_NOT_FOUND) fail("k5_next");
  }
  if (!k5_close(f)) fail("k5_close read");
  k5_exit(0);
  rt_shutdown();
  return 0;
}
