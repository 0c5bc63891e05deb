// Program-wide state and the ways a run ends.
#ifndef IXKIT_FRONT_STATE_H
#define IXKIT_FRONT_STATE_H

#include <csignal>
#include <cstdint>

// The run's exit status: starts at 0 and is only ever raised.
extern int32_t exit_status;
// Set by the option letter q of any command: never ask, never wait.
extern uint8_t quiet;
// -1: an interrupt aborts at once; 0: deferred, none pending; 1: one arrived while deferred.
extern volatile sig_atomic_t interrupt_state;

// Source name that tracked allocations of the program carry.
#define IXKIT_SOURCE "ixkit/ixkit"

// Called once by exit_run before the libraries shut down, when set: a command that is
// filling a temporary file removes it there, so that an early end leaves nothing
// half-written that looks complete.
extern void (*exit_cleanup)();

// Raises exit_status to status when it is below.
void raise_exit_status(int32_t status);
// Shuts down both libraries and ends the process with code.
[[noreturn]] void exit_run(int code);
// Prints the usage text and ends the run with 255.
[[noreturn]] void usage();
// The interrupt handler.
void on_interrupt(int signal_number);

#endif  // IXKIT_FRONT_STATE_H
