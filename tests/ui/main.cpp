// Entry of the ui_tests suite: widgets need a QApplication, which must exist before any test
// runs and outlive them all. The suite runs on Qt's offscreen platform (set by CTest; forced
// here too so a bare run from a shell never needs a display).
#include <gtest/gtest.h>

#include <QLocale>

#include "tests/support/suite_exit.h"
#include "ui/application.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The project's application object, so its error handling of escaped exceptions is covered.
  zq::TApplication app(argc, argv);
  // Tests that depend on number formatting set their own locale; this keeps the rest stable.
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  ::testing::InitGoogleTest(&argc, argv);
  return zq::testing_support::SuiteExitStatus(RUN_ALL_TESTS());
}
