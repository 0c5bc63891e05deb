// Program-wide state and the exit routine every run leaves through.
#include <cstdlib>

#include "ixkit/front/state.h"
#include "ixkit/libs/kelvra5.h"
#include "ixkit/libs/rtcore.h"

int32_t exit_status = 0;
uint8_t quiet = 0;
volatile sig_atomic_t interrupt_state = -1;
void (*exit_cleanup)() = nullptr;

void raise_exit_status(int32_t status) {
  if (exit_status < status) exit_status = status;
}

void exit_run(int code) {
  if (exit_cleanup != nullptr) {
    void (*cleanup)() = exit_cleanup;
    exit_cleanup = nullptr;
    cleanup();
  }
  k5_exit(code);
  rt_shutdown();
  exit(code);
}
