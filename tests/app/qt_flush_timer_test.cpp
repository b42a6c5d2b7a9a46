// The databases' auto-flush timer of the application: ticks on the event loop at its interval
// while enabled, never while disabled, and a failing flush is shown without stopping it.
#include <QCoreApplication>
#include <QTest>

#include "app/qt_flush_timer.h"
#include "dbengine/session/database.h"
#include "dbengine/format/db_error.h"
#include "tests/app/app_test_support.h"

namespace zq::testing {
namespace {

TEST(QtFlushTimer, TicksOnlyWhileEnabled) {
  TQtFlushTimer timer;
  int ticks = 0;
  timer.OnTimer = [&] { ++ticks; };
  EXPECT_FALSE(timer.Enabled());
  timer.SetInterval(10);
  EXPECT_EQ(timer.Interval(), 10);
  QCoreApplication::processEvents();
  EXPECT_EQ(timer.RemainingTime(), -1);  // created disabled: nothing is scheduled
  EXPECT_EQ(ticks, 0);
  timer.SetEnabled(true);
  EXPECT_TRUE(timer.Enabled());
  EXPECT_TRUE(QTest::qWaitFor([&] { return ticks >= 3; }, 5000));
  timer.SetEnabled(false);
  EXPECT_FALSE(timer.Enabled());
  int stopped_at = ticks;
  QCoreApplication::processEvents();  // a tick already queued would run here
  EXPECT_EQ(timer.RemainingTime(), -1);
  EXPECT_EQ(ticks, stopped_at);
  // Enabling twice does not restart or double the timer; the interval is kept as given.
  timer.SetInterval(0);
  EXPECT_EQ(timer.Interval(), 0);
  timer.SetEnabled(true);
  timer.SetEnabled(true);
  EXPECT_TRUE(QTest::qWaitFor([&] { return ticks > stopped_at; }, 5000));
}

TEST(QtFlushTimer, LongIntervalDoesNotTickEarly) {
  TQtFlushTimer timer;
  int ticks = 0;
  timer.OnTimer = [&] { ++ticks; };
  timer.SetInterval(60000);
  timer.SetEnabled(true);
  QCoreApplication::processEvents();
  EXPECT_EQ(ticks, 0);
  // Armed for the whole interval, not for some shorter one (a coarse timer may run 5 % late).
  EXPECT_GT(timer.RemainingTime(), 30000);
  EXPECT_LE(timer.RemainingTime(), 63000);
}

TEST(QtFlushTimer, FailingFlushIsShownAndTheTimerGoesOn) {
  ScriptedBoxes boxes;
  SetMessageBoxes(&boxes);
  TQtFlushTimer timer;
  int ticks = 0;
  timer.OnTimer = [&] {
    ++ticks;
    throw EDatabaseError("Flush failed");
  };
  timer.SetInterval(5);
  timer.SetEnabled(true);
  EXPECT_TRUE(QTest::qWaitFor([&] { return ticks >= 2; }, 5000));
  timer.SetEnabled(false);
  SetMessageBoxes(nullptr);
  ASSERT_GE(boxes.asked.size(), 2u);
  EXPECT_EQ(boxes.asked[0].text, "Flush failed");
  EXPECT_EQ(boxes.asked[0].flags, static_cast<unsigned>(kMbOk | kMbIconError));
}

TEST(QtFlushTimer, DatabasesGetItOnceInstalled) {
  InstallQtFlushTimers();
  {
    TDbDatabase db;
    auto* timer = dynamic_cast<TQtFlushTimer*>(&db.FlushTimer());
    ASSERT_NE(timer, nullptr);
    EXPECT_FALSE(timer->Enabled());  // auto-flush is off by default
    db.SetAutoFlushInterval(250);
    db.SetAutoFlush(true);
    EXPECT_TRUE(timer->Enabled());
    EXPECT_EQ(timer->Interval(), 250);
    db.SetAutoFlush(false);
    EXPECT_FALSE(timer->Enabled());
  }
  SetFlushTimerFactory({});
  EXPECT_NE(dynamic_cast<TManualFlushTimer*>(CreateFlushTimer().get()), nullptr);
}

}  // namespace
}  // namespace zq::testing
