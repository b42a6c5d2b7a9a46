// Entry of the app_tests suite: the installer's windows need a QApplication that exists before
// any test and outlives them all. Runs on Qt's offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLocale>

#include "tests/support/suite_exit.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  ::testing::InitGoogleTest(&argc, argv);
  return zq::testing_support::SuiteExitStatus(RUN_ALL_TESTS());
}
