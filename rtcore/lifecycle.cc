// Start and stop of the runtime, and the standard streams it prints to.
#include "ixkit/libs/rtcore.h"
#include "rtcore/internal.h"

namespace {

// Null means the C library's stream of the same role.
FILE* g_in = nullptr;
FILE* g_out = nullptr;
FILE* g_err = nullptr;
int g_options = 0;
int g_mode = 0;
char** g_argv = nullptr;
char** g_envp = nullptr;

}  // namespace

void rt_init(int mode, char** argv, char** envp) {
  g_mode = mode;
  g_argv = argv;
  g_envp = envp;
}

// A null stream keeps the C library's stream for that role.
void rt_set_stdio(FILE* in, FILE* out, FILE* err) {
  g_in = in;
  g_out = out;
  g_err = err;
}

void rt_init_option(int option) {
  g_options = option;
}

int rtcore::options() {
  return g_options;
}

bool rtcore::leak_report_wanted() {
  return (g_options & RT_OPTION_LEAK_REPORT) != 0 || rt_config_int("RT_LEAK_REPORT", 0) != 0;
}

// The streams handed over belong to the caller: they are flushed, not closed, and the
// runtime goes back to the C streams so that nothing is written to them afterwards.
void rt_shutdown() {
  if (rtcore::leak_report_wanted()) rtcore::report_leaks(rt_stderr());
  rtcore::release_messages();
  fflush(rt_stdout());
  fflush(rt_stderr());
  g_in = g_out = g_err = nullptr;
}

FILE* rt_stdin() {
  return g_in ? g_in : stdin;
}
FILE* rt_stdout() {
  return g_out ? g_out : stdout;
}
FILE* rt_stderr() {
  return g_err ? g_err : stderr;
}
