// The -version command.
#include <cstdio>

#include "ixkit/front/startup.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/rtcore.h"

void version_command() {
  printf(rt_message(939, 0, "Corvane file utility version %s\n"), IXKIT_VERSION_TEXT);
  printf("%s\n", rt_message(891, 0, "Copyright (c) 2026 the ixkit developers"));
  exit_run(exit_status);
}

void run_version(int, char**) {
  version_command();
}
