#include "platform/special_folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace zq {
namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// XDG base directories must be absolute; relative values are ignored.
std::string AbsoluteEnv(const char* name) {
  std::string value = Env(name);
  return !value.empty() && value[0] == '/' ? value : std::string();
}

std::string Desktop() {
  std::string home = HomeDirectory();
  std::string config = AbsoluteEnv("XDG_CONFIG_HOME");
  if (config.empty() && !home.empty()) config = home + "/.config";
  if (!config.empty()) {
    std::ifstream in(config + "/user-dirs.dirs");
    if (in) {
      std::stringstream text;
      text << in.rdbuf();
      std::string found = ParseUserDirs(text.str(), "DESKTOP", home);
      if (!found.empty()) return found;
    }
  }
  return home.empty() ? std::string() : home + "/Desktop";
}

std::string Programs() {
  std::string data = AbsoluteEnv("XDG_DATA_HOME");
  if (data.empty()) {
    std::string home = HomeDirectory();
    if (home.empty()) return {};
    data = home + "/.local/share";
  }
  return WithoutTrailingSlash(data) + "/applications";
}

std::string CommonPrograms() {
  std::string dirs = Env("XDG_DATA_DIRS");
  std::stringstream list(dirs);
  std::string first;
  while (std::getline(list, first, ':')) {
    if (!first.empty() && first[0] == '/') return WithoutTrailingSlash(first) + "/applications";
  }
  return "/usr/share/applications";
}

}  // namespace

std::string HomeDirectory() {
  std::string home = Env("HOME");
  if (!home.empty()) return WithoutTrailingSlash(home);
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  passwd entry{};
  passwd* result = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result &&
      result->pw_dir) {
    return WithoutTrailingSlash(result->pw_dir);
  }
  return {};
}

std::string ParseUserDirs(const std::string& text, const std::string& name, const std::string& home) {
  const std::string key = "XDG_" + name + "_DIR";
  std::stringstream lines(text);
  std::string line;
  std::string result;
  while (std::getline(lines, line)) {
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    if (line.compare(start, key.size(), key) != 0) continue;
    size_t eq = line.find_first_not_of(" \t", start + key.size());
    if (eq == std::string::npos || line[eq] != '=') continue;
    size_t open = line.find('"', eq);
    if (open == std::string::npos) continue;
    // The quoted value, with backslash escapes; no closing quote makes the line unusable.
    std::string value;
    bool closed = false;
    for (size_t i = open + 1; i < line.size(); ++i) {
      if (line[i] == '\\' && i + 1 < line.size()) {
        value += line[++i];
      } else if (line[i] == '"') {
        closed = true;
        break;
      } else {
        value += line[i];
      }
    }
    if (!closed) continue;
    if (value.rfind("$HOME", 0) == 0 && (value.size() == 5 || value[5] == '/')) {
      if (home.empty()) continue;
      value = home + value.substr(5);
    } else if (value.empty() || value[0] != '/') {
      continue;
    }
    result = WithoutTrailingSlash(value);  // the last assignment wins, as in a shell
  }
  return result;
}

std::string THostSpecialFolders::Location(int csidl) {
  const char* override_name = nullptr;
  switch (csidl) {
    case CSIDL_DESKTOPDIRECTORY: override_name = "ZQ_DESKTOP_DIR"; break;
    case CSIDL_PROGRAMS: override_name = "ZQ_PROGRAMS_DIR"; break;
    case CSIDL_COMMON_PROGRAMS: override_name = "ZQ_COMMON_PROGRAMS_DIR"; break;
    default: return {};
  }
  std::string overridden = Env(override_name);
  if (!overridden.empty()) return WithoutTrailingSlash(overridden);
  switch (csidl) {
    case CSIDL_DESKTOPDIRECTORY: return Desktop();
    case CSIDL_PROGRAMS: return Programs();
    default: return CommonPrograms();
  }
}

}  // namespace zq
