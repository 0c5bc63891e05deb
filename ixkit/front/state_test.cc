// The exit status is only ever raised.
#include <gtest/gtest.h>

#include "ixkit/front/state.h"

namespace {

class ExitStatus : public ::testing::Test {
 protected:
  void SetUp() override { exit_status = 0; }
  void TearDown() override { exit_status = 0; }
};

TEST_F(ExitStatus, RaisesToAHigherValue) {
  raise_exit_status(2);
  EXPECT_EQ(exit_status, 2);
  raise_exit_status(3);
  EXPECT_EQ(exit_status, 3);
}

TEST_F(ExitStatus, NeverLowers) {
  raise_exit_status(3);
  raise_exit_status(1);
  EXPECT_EQ(exit_status, 3);
  raise_exit_status(0);
  EXPECT_EQ(exit_status, 3);
  raise_exit_status(255);
  raise_exit_status(2);
  EXPECT_EQ(exit_status, 255);
}

TEST_F(ExitStatus, SameValueKeepsIt) {
  raise_exit_status(2);
  raise_exit_status(2);
  EXPECT_EQ(exit_status, 2);
}

}  // namespace
