// Bounded waits for the Qt tests: a condition that must come true while events are processed,
// and an answer given to a modal dialog once it is up. Each fails the test after its limit
// instead of hanging it or returning silently.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <functional>

// Processes events until the condition holds, at most five seconds.
#define EXPECT_EVENTUALLY(condition) \
  EXPECT_TRUE(QTest::qWaitFor([&] { return static_cast<bool>(condition); }, 5000)) << #condition
#define ASSERT_EVENTUALLY(condition) \
  ASSERT_TRUE(QTest::qWaitFor([&] { return static_cast<bool>(condition); }, 5000)) << #condition

namespace zq::testing_support {

// Runs act on the next modal widget of type W once it is up, polling every 5 ms while `poll`
// lives. Without one within `limit_ms`, or with it still open `limit_ms` after act, the test
// fails and the modal widget is closed, so that its event loop ends.
template <typename W>
void WhenModalUp(QTimer& poll, std::function<void(W*)> act, int limit_ms = 10000) {
  poll.setInterval(5);
  QObject::connect(&poll, &QTimer::timeout, [&poll, act, limit_ms, deadline = QDeadlineTimer(limit_ms)] {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* w = qobject_cast<W*>(modal)) {
      poll.stop();
      act(w);
      QTimer::singleShot(limit_ms, w, [w] {
        if (!w->isVisible()) return;
        ADD_FAILURE() << w->metaObject()->className() << " still open after it was answered";
        w->close();
      });
    } else if (deadline.hasExpired()) {
      poll.stop();
      ADD_FAILURE() << "no " << W::staticMetaObject.className() << " came up";
      if (modal != nullptr) modal->close();
    }
  });
  poll.start();
}

}  // namespace zq::testing_support
