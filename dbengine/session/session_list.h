// TDbSessionList: the one list of sessions of the process, created on first use together with
// the default session "Default", with the global (re-entrant) session lock and the set of used
// automatic session numbers.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace zq {

class TDbSession;

class TDbSessionList {
 public:
  // The process's list; the first call creates it and the default session.
  static TDbSessionList& Instance();
  ~TDbSessionList();
  TDbSessionList(const TDbSessionList&) = delete;
  TDbSessionList& operator=(const TDbSessionList&) = delete;

  // Empty name: the default session; otherwise the first session whose SessionName equals name
  // ignoring case; nullptr if none.
  TDbSession* FindSession(const std::string& name);
  // As FindSession; "Invalid session name %s" when there is none.
  TDbSession& GetSession(const std::string& name);
  // The first session added to an empty list becomes the default session.
  void AddSession(TDbSession* session);
  void RemoveSession(TDbSession* session);
  // Frees every session, last first.
  void CloseAll();
  int Count();
  TDbSession* Sessions(int index);
  TDbSession* DefaultSession() const { return default_session_; }

  // The global session lock.
  std::recursive_mutex& SessionLock() { return session_lock_; }
  // The lowest free automatic session number, now taken; and its release.
  int TakeSessionNumber();
  void FreeSessionNumber(int number);

 private:
  TDbSessionList() = default;

  std::recursive_mutex list_lock_;
  std::vector<TDbSession*> sessions_;
  TDbSession* default_session_ = nullptr;
  std::recursive_mutex session_lock_;
  std::vector<bool> used_numbers_;
};

// The session list and the default session.
TDbSessionList& Sessions();
TDbSession& DefaultSession();

}  // namespace zq
