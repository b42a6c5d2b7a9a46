// Entry of the test suites that need no QApplication.
#include <gtest/gtest.h>

#include "tests/support/suite_exit.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return zq::testing_support::SuiteExitStatus(RUN_ALL_TESTS());
}
