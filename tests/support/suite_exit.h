// The exit status of a test suite: 0 when every test passed, 1 when one failed, and
// kSkippedExitCode when every test that ran passed but at least one was skipped, so that CTest
// reports the suite as skipped (each skip prints its reason) instead of as passed.
#pragma once

#include <gtest/gtest.h>

namespace zq::testing_support {

constexpr int kSkippedExitCode = 77;

inline int SuiteExitStatus(int run_all_tests_result) {
  if (run_all_tests_result != 0) return run_all_tests_result;
  return ::testing::UnitTest::GetInstance()->skipped_test_count() > 0 ? kSkippedExitCode : 0;
}

}  // namespace zq::testing_support
