#include "dbengine/storage/memory_stream_registry.h"

#include <cctype>
#include <cstdio>
#include <map>
#include <mutex>

namespace zq {

namespace {

struct Registry {
  std::mutex lock;
  std::map<uint64_t, TStream*> streams;
  uint64_t next_key = 1;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

std::string TMemoryStreamRegistry::Register(TStream* stream) {
  Registry& r = TheRegistry();
  std::lock_guard guard(r.lock);
  uint64_t key = 0;
  for (auto& [k, s] : r.streams)
    if (s == stream) key = k;
  if (key == 0) {
    key = r.next_key++;
    r.streams[key] = stream;
  }
  char text[24];
  std::snprintf(text, sizeof text, ":%llX", static_cast<unsigned long long>(key));
  return text;
}

void TMemoryStreamRegistry::Unregister(TStream* stream) {
  Registry& r = TheRegistry();
  std::lock_guard guard(r.lock);
  for (auto it = r.streams.begin(); it != r.streams.end();) {
    if (it->second == stream)
      it = r.streams.erase(it);
    else
      ++it;
  }
}

bool TMemoryStreamRegistry::IsValidName(const std::string& name) {
  if (name.size() < 2 || name[0] != ':') return false;
  for (size_t i = 1; i < name.size(); ++i)
    if (!std::isxdigit(static_cast<unsigned char>(name[i]))) return false;
  return true;
}

TStream* TMemoryStreamRegistry::Find(const std::string& name) {
  if (!IsValidName(name)) return nullptr;
  // Leading zeros do not change the key; more than 16 significant digits name nothing.
  size_t first = name.find_first_not_of('0', 1);
  if (first == std::string::npos || name.size() - first > 16) return nullptr;
  uint64_t key = std::stoull(name.substr(first), nullptr, 16);
  Registry& r = TheRegistry();
  std::lock_guard guard(r.lock);
  auto it = r.streams.find(key);
  return it == r.streams.end() ? nullptr : it->second;
}

}  // namespace zq
