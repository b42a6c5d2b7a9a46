// The session list, session properties, activation, names and automatic names.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "session_test_support.h"

namespace zq {
namespace {

using session_test::ErrorOf;

TEST(SessionList, DefaultSessionExistsFromTheStart) {
  TDbSession* def = Sessions().DefaultSession();
  ASSERT_NE(def, nullptr);
  EXPECT_EQ(def->SessionName(), "Default");
  EXPECT_EQ(&DefaultSession(), def);
  EXPECT_EQ(Sessions().FindSession(""), def);
  EXPECT_EQ(Sessions().FindSession("dEFAULT"), def);
  EXPECT_EQ(&Sessions().GetSession(""), def);
  EXPECT_EQ(Sessions().FindSession("Nowhere"), nullptr);
  EXPECT_EQ(ErrorOf([] { Sessions().GetSession("Nowhere"); }), "Invalid session name Nowhere");
}

TEST(SessionList, SessionsJoinAndLeaveTheList) {
  int before = Sessions().Count();
  {
    TDbSession s;
    s.SetSessionName("Extra");
    EXPECT_EQ(Sessions().Count(), before + 1);
    EXPECT_EQ(Sessions().FindSession("EXTRA"), &s);
    EXPECT_EQ(Sessions().Sessions(before), &s);
  }
  EXPECT_EQ(Sessions().Count(), before);
  EXPECT_EQ(Sessions().FindSession("Extra"), nullptr);
}

TEST(SessionList, SessionNumbersAreTheLowestFree) {
  int a = Sessions().TakeSessionNumber();
  int b = Sessions().TakeSessionNumber();
  EXPECT_NE(a, b);
  Sessions().FreeSessionNumber(a);
  EXPECT_EQ(Sessions().TakeSessionNumber(), a);
  Sessions().FreeSessionNumber(a);
  Sessions().FreeSessionNumber(b);
}

TEST(Session, DefaultsAndLockSettings) {
  TDbSession s;
  EXPECT_FALSE(s.Active());
  EXPECT_FALSE(s.AutoSessionName());
  EXPECT_FALSE(s.KeepConnections());
  EXPECT_EQ(s.SessionName(), "");
  EXPECT_TRUE(s.SQLHourGlass());
  EXPECT_EQ(s.LockRetryCount(), 20);
  EXPECT_EQ(s.LockWaitTime(), 100);
  s.SetLockRetryCount(-5);
  EXPECT_EQ(s.LockRetryCount(), 0);
  s.SetLockWaitTime(-1);
  EXPECT_EQ(s.LockWaitTime(), 0);
  s.SetLockRetryCount(7);
  s.SetLockWaitTime(30);
  EXPECT_EQ(s.LockRetryCount(), 7);
  EXPECT_EQ(s.LockWaitTime(), 30);
}

TEST(Session, StartingNeedsANameAndCallsOnStartupFirst) {
  TDbSession s;
  int startups = 0;
  s.OnStartup = [&](TDbSession& sender) {
    EXPECT_EQ(&sender, &s);
    ++startups;
  };
  EXPECT_EQ(ErrorOf([&] { s.SetActive(true); }), "Session name missing");
  EXPECT_EQ(startups, 1);
  EXPECT_FALSE(s.Active());
  s.SetSessionName("Second");
  s.Open();
  EXPECT_TRUE(s.Active());
  EXPECT_TRUE(DefaultSession().Active());  // starting another session starts the default one
  EXPECT_EQ(startups, 2);
  EXPECT_EQ(ErrorOf([&] { s.SetSessionName("Renamed"); }), "Cannot perform this operation on an active session");
  s.Close();
  EXPECT_FALSE(s.Active());
}

TEST(Session, DuplicateSessionNamesAreRefused) {
  TDbSession a;
  a.SetSessionName("Twin");
  TDbSession b;
  EXPECT_EQ(ErrorOf([&] { b.SetSessionName("TWIN"); }), "Duplicate session name 'TWIN'");
  EXPECT_EQ(ErrorOf([&] { b.SetSessionName("Default"); }), "Duplicate session name 'Default'");
  EXPECT_EQ(b.SessionName(), "");
}

TEST(Session, AutomaticNamesFromTheComponentName) {
  TComponent form;
  auto* s = new TDbSession(&form);
  s->SetName("Sess");
  s->SetAutoSessionName(true);
  int n = s->AutoSessionNumber();
  ASSERT_GE(n, 0);
  EXPECT_EQ(s->SessionName(), "Sess_" + std::to_string(n + 1));
  EXPECT_EQ(ErrorOf([&] { s->SetSessionName("Manual"); }),
            "Cannot modify SessionName while AutoSessionName is enabled");
  // Renaming the component regenerates the name.
  s->SetName("Other");
  EXPECT_EQ(s->SessionName(), "Other_" + std::to_string(n + 1));
  // A second automatic session elsewhere takes another number.
  TComponent form2;
  auto* s2 = new TDbSession(&form2);
  s2->SetName("Sess");
  s2->SetAutoSessionName(true);
  EXPECT_NE(s2->AutoSessionNumber(), n);
  // Another session on the same owner is refused while the first generates its name.
  EXPECT_EQ(ErrorOf([&] { new TDbSession(&form); }),
            "Cannot add a session to the form or data-module while session 'Other' has AutoSessionName enabled");
  EXPECT_EQ(form.ComponentCount(), 1);
  // Turning it off frees the number.
  s->SetAutoSessionName(false);
  EXPECT_EQ(s->AutoSessionNumber(), -1);
  int again = Sessions().TakeSessionNumber();
  EXPECT_EQ(again, n);
  Sessions().FreeSessionNumber(again);
}

TEST(Session, AutoSessionNameNeedsTheOnlySessionOfItsOwner) {
  TComponent form;
  auto* a = new TDbSession(&form);
  new TDbSession(&form);
  EXPECT_EQ(ErrorOf([&] { a->SetAutoSessionName(true); }),
            "Cannot enable AutoSessionName property with more than one session on a form or data-module");
  EXPECT_FALSE(a->AutoSessionName());
}

TEST(Session, AutomaticNameReachesTheDatabasesOfTheOwner) {
  TComponent form;
  auto* db1 = new TDbDatabase(&form);
  auto* s = new TDbSession(&form);
  s->SetName("Auto");
  s->SetAutoSessionName(true);
  EXPECT_EQ(db1->SessionName(), s->SessionName());
  EXPECT_EQ(db1->Session(), s);
  auto* db2 = new TDbDatabase(&form);  // added later: attached too
  EXPECT_EQ(db2->SessionName(), s->SessionName());
  EXPECT_EQ(db2->Session(), s);
  TDbDatabase outside;
  EXPECT_EQ(outside.Session(), &DefaultSession());
}

TEST(Session, LoadingAppliesActiveAndAutoNameAfterwards) {
  TComponent form;
  auto* s = new TDbSession(&form);
  s->BeginLoading();
  s->SetName("Loaded");
  s->SetAutoSessionName(true);
  s->SetActive(true);
  EXPECT_FALSE(s->Active());
  EXPECT_EQ(s->SessionName(), "");
  s->EndLoading();
  EXPECT_TRUE(s->Active());
  EXPECT_EQ(s->SessionName().rfind("Loaded_", 0), 0u);
}

TEST(Session, LockSessionNestsAndActivates) {
  TDbSession s;
  s.SetSessionName("Locking");
  s.LockSession();
  EXPECT_TRUE(s.Active());
  s.LockSession();
  s.UnlockSession();
  s.UnlockSession();
  // The global lock is free again: another thread can take it.
  bool taken = false;
  std::thread t([&] {
    taken = Sessions().SessionLock().try_lock();
    if (taken) Sessions().SessionLock().unlock();
  });
  t.join();
  EXPECT_TRUE(taken);
  // A session that cannot start leaves the lock free.
  TDbSession unnamed;
  EXPECT_EQ(ErrorOf([&] { unnamed.LockSession(); }), "Session name missing");
  std::thread t2([&] {
    taken = Sessions().SessionLock().try_lock();
    if (taken) Sessions().SessionLock().unlock();
  });
  t2.join();
  EXPECT_TRUE(taken);
}

}  // namespace
}  // namespace zq
