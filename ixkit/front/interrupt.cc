// The SIGINT handler: abort at once, or note the interrupt for the rebuild engine to poll.
#include <csignal>
#include <cstdlib>

#include "ixkit/front/state.h"
#include "ixkit/libs/rtcore.h"

void on_interrupt(int) {
  if (interrupt_state < 0) {
    rt_print("%s", rt_message(927, 0, "\n*** Aborted ***\n"));
    // Ends without the exit routine: files being written stay as they stand.
    exit(1);
  }
  interrupt_state = 1;
  signal(SIGINT, on_interrupt);
}
