// -check beside programs that change the file: a pass that fails while the file changed
// under it is run again, and its messages are kept back until it is known whether they
// report damage or only the change.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ixkit/describe/header.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/rtcore.h"
#include "ixkit/repair/check.h"

namespace {

// Runs of a pass before a file that keeps changing is given up as not verified.
constexpr int kRuns = 5;

// The file's change counter between two changes.
unsigned long long change_counter(KFile* file) {
  char text[32] = "";
  k5_info(file, -6, text);
  return strtoull(text, nullptr, 10);
}

// What a pass printed, kept back: its standard output and error streams.
struct Held {
  char* text[2] = {nullptr, nullptr};
  size_t size[2] = {0, 0};
  FILE* stream[2] = {nullptr, nullptr};
  FILE* saved[2] = {nullptr, nullptr};
};

void hold_output(Held* h) {
  h->saved[0] = rt_stdout();
  h->saved[1] = rt_stderr();
  for (int i = 0; i < 2; i++) h->stream[i] = open_memstream(&h->text[i], &h->size[i]);
  if (!h->stream[0] || !h->stream[1]) return;  // printed as it comes
  rt_set_stdio(rt_stdin(), h->stream[0], h->stream[1]);
}

// Ends the holding; print: hand what was held on to the real streams.
void release_output(Held* h, bool print) {
  rt_set_stdio(rt_stdin(), h->saved[0], h->saved[1]);
  for (int i = 0; i < 2; i++) {
    if (h->stream[i]) fclose(h->stream[i]);
    if (print && h->text[i] && h->size[i]) fwrite(h->text[i], 1, h->size[i], h->saved[i]);
    free(h->text[i]);
  }
}

}  // namespace

int steady_pass(KFile* file, const char* name, const std::function<int()>& pass) {
  for (int run = 0; run < kRuns; run++) {
    unsigned long long before = change_counter(file);
    // The counts the raw pass and the chain walk compare with, as they are now.
    if (!read_header(name)) break;
    Held held;
    hold_output(&held);
    int sound = pass();
    bool changed = change_counter(file) != before;
    release_output(&held, sound || !changed);
    if (sound) return 1;
    if (!changed) return 0;
  }
  rt_fprintf(rt_stderr(), "%s: the file kept changing during the check; not verified\n", name);
  raise_exit_status(1);
  return -1;
}
