// Start-up in its fixed order, then the command selected by the command word.
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "ixkit/front/startup.h"
#include "ixkit/front/state.h"
#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"

void start_libraries(char** argv, char** envp) {
  rt_init(-1, argv, envp);
  rt_set_stdio(stdin, stdout, stderr);
  k5_init_cfg();
  rt_init_option(0);
  bKForceOpen = 1;
}

void set_config_defaults() {
  // Only the process environment decides; a value found there is left to the libraries.
  if (getenv("K_BUFFERS") == nullptr) rt_config_set("K_BUFFERS", 0, 128);
  if (getenv("MAX_FILES") == nullptr) rt_config_set("MAX_FILES", 0, 128);
}

void install_interrupt_handler() {
  signal(SIGINT, on_interrupt);
}

int run_ixkit(int argc, char** argv, char** envp) {
  start_libraries(argv, envp);
  if (argc < 2 || strlen(argv[1]) < 2 || argv[1][0] != '-') usage();
  set_config_defaults();
  install_interrupt_handler();
  if (k5_init() == 0) return 0;

  CommandFunction command = select_command(argv[1]);
  if (command == nullptr) usage();
  command(argc - 2, argv + 2);
  exit_run(exit_status);
}
