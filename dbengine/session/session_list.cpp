#include "dbengine/session/session_list.h"

#include <algorithm>
#include <memory>

#include "dbengine/format/db_defs.h"
#include "dbengine/format/db_error.h"
#include "dbengine/session/session.h"

namespace zq {

namespace {
// Set while the list builds its default session, whose constructor joins this list.
TDbSessionList* g_list_in_construction = nullptr;
}  // namespace

TDbSessionList& TDbSessionList::Instance() {
  if (g_list_in_construction != nullptr) return *g_list_in_construction;
  static std::unique_ptr<TDbSessionList> list = [] {
    std::unique_ptr<TDbSessionList> l(new TDbSessionList);
    g_list_in_construction = l.get();
    auto* session = new TDbSession(nullptr);
    session->SetSessionName("Default");
    g_list_in_construction = nullptr;
    return l;
  }();
  return *list;
}

TDbSessionList::~TDbSessionList() { CloseAll(); }

TDbSession* TDbSessionList::FindSession(const std::string& name) {
  std::lock_guard guard(list_lock_);
  if (name.empty()) return default_session_;
  for (TDbSession* s : sessions_) {
    if (SameName(s->SessionName(), name)) return s;
  }
  return nullptr;
}

TDbSession& TDbSessionList::GetSession(const std::string& name) {
  TDbSession* s = FindSession(name);
  if (s == nullptr) throw EDatabaseError(FormatMessage("Invalid session name %s", {name}));
  return *s;
}

void TDbSessionList::AddSession(TDbSession* session) {
  std::lock_guard guard(list_lock_);
  if (sessions_.empty()) default_session_ = session;
  sessions_.push_back(session);
}

void TDbSessionList::RemoveSession(TDbSession* session) {
  std::lock_guard guard(list_lock_);
  auto it = std::find(sessions_.begin(), sessions_.end(), session);
  if (it != sessions_.end()) sessions_.erase(it);
  if (default_session_ == session) default_session_ = nullptr;
}

void TDbSessionList::CloseAll() {
  while (true) {
    TDbSession* last;
    {
      std::lock_guard guard(list_lock_);
      if (sessions_.empty()) return;
      last = sessions_.back();
    }
    delete last;  // leaves the list in its destructor
  }
}

int TDbSessionList::Count() {
  std::lock_guard guard(list_lock_);
  return static_cast<int>(sessions_.size());
}

TDbSession* TDbSessionList::Sessions(int index) {
  std::lock_guard guard(list_lock_);
  return sessions_.at(static_cast<size_t>(index));
}

int TDbSessionList::TakeSessionNumber() {
  std::lock_guard guard(session_lock_);
  for (size_t n = 0; n < used_numbers_.size(); ++n) {
    if (!used_numbers_[n]) {
      used_numbers_[n] = true;
      return static_cast<int>(n);
    }
  }
  used_numbers_.push_back(true);
  return static_cast<int>(used_numbers_.size() - 1);
}

void TDbSessionList::FreeSessionNumber(int number) {
  std::lock_guard guard(session_lock_);
  if (number >= 0 && static_cast<size_t>(number) < used_numbers_.size()) used_numbers_[number] = false;
}

TDbSessionList& Sessions() { return TDbSessionList::Instance(); }

TDbSession& DefaultSession() {
  TDbSession* s = Sessions().DefaultSession();
  if (s == nullptr) throw EDatabaseError("Invalid session name ");
  return *s;
}

}  // namespace zq
