// SIGINT: aborts the run while interrupts are not deferred, otherwise is noted and waits.
#include <csignal>

#include "tests/e2e/harness.h"

namespace {

class Interrupt : public e2e::E2eTest {};

TEST_F(Interrupt, AbortsAtOnceWithStatusOne) {
  auto p = start({"interrupt", "-1"}, {.program = CONSOLE_DRIVER});
  ASSERT_TRUE(p->wait_until_reading()) << p->out() << p->err();
  p->send_signal(SIGINT);
  auto r = p->wait();
  EXPECT_EQ(r.status, 1) << r;
  EXPECT_EQ(r.out, "waiting: \n*** Aborted ***\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(Interrupt, AbortMessageComesFromTheCatalogue) {
  write_file(path("messages"), "927 [stopped]\\n\n");
  auto p = start({"interrupt", "-1"},
                 {.env = {{"RT_MESSAGES", path("messages")}}, .program = CONSOLE_DRIVER});
  ASSERT_TRUE(p->wait_until_reading());
  p->send_signal(SIGINT);
  auto r = p->wait();
  EXPECT_EQ(r.status, 1) << r;
  EXPECT_EQ(r.out, "waiting: [stopped]\n");
}

TEST_F(Interrupt, DeferredInterruptIsNotedAndTheRunGoesOn) {
  auto p = start({"interrupt", "0"}, {.program = CONSOLE_DRIVER});
  ASSERT_TRUE(p->wait_until_reading());
  p->send_signal(SIGINT);
  // A second interrupt finds the handler still in place.
  ASSERT_TRUE(p->wait_until_reading());
  p->send_signal(SIGINT);
  ASSERT_TRUE(p->wait_until_reading());
  p->write_input("y\n");
  auto r = p->wait();
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, "waiting: interrupt_state 1\n");
}

TEST_F(Interrupt, NoInterruptLeavesTheStateAlone) {
  auto r = run_program(CONSOLE_DRIVER, {"interrupt", "0"}, {.input = "y\n"});
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, "waiting: interrupt_state 0\n");
}

}  // namespace
