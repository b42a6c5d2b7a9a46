#include "platform/special_folders.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>

namespace zq {
namespace {

// Sets environment variables for one test and puts the old values back afterwards.
class EnvGuard {
 public:
  void Set(const char* name, const std::optional<std::string>& value) {
    if (!saved_.count(name)) {
      const char* old = std::getenv(name);
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  ~EnvGuard() {
    for (auto& [name, value] : saved_) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

class SpecialFoldersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* n : {"ZQ_DESKTOP_DIR", "ZQ_PROGRAMS_DIR", "ZQ_COMMON_PROGRAMS_DIR", "XDG_CONFIG_HOME",
                          "XDG_DATA_HOME", "XDG_DATA_DIRS"})
      env_.Set(n, std::nullopt);
    env_.Set("HOME", home_ + "/");
  }
  void WriteUserDirs(const std::string& folder, const std::string& text) {
    mkdir(folder.c_str(), 0755);
    std::ofstream(folder + "/user-dirs.dirs") << text;
  }

  EnvGuard env_;
  testing_support::TempDir temp_{"zq-home"};
  std::string home_ = temp_.Path();
  THostSpecialFolders folders_;
};

TEST_F(SpecialFoldersTest, DefaultsFollowTheFreedesktopConventions) {
  EXPECT_EQ(HomeDirectory(), home_);
  EXPECT_EQ(folders_.Location(CSIDL_DESKTOPDIRECTORY), home_ + "/Desktop");
  EXPECT_EQ(folders_.Location(CSIDL_PROGRAMS), home_ + "/.local/share/applications");
  EXPECT_EQ(folders_.Location(CSIDL_COMMON_PROGRAMS), "/usr/share/applications");
  EXPECT_EQ(folders_.Location(0x05), "");  // not one the installer knows
}

TEST_F(SpecialFoldersTest, UserSettingsAndXdgVariables) {
  WriteUserDirs(home_ + "/.config",
                "# written by xdg-user-dirs-update\nXDG_DOCUMENTS_DIR=\"$HOME/Documents\"\n"
                "XDG_DESKTOP_DIR=\"$HOME/Bureau\"\n");
  EXPECT_EQ(folders_.Location(CSIDL_DESKTOPDIRECTORY), home_ + "/Bureau");
  env_.Set("XDG_CONFIG_HOME", home_ + "/cfg");
  WriteUserDirs(home_ + "/cfg", "XDG_DESKTOP_DIR=\"/srv/desk/\"\n");
  EXPECT_EQ(folders_.Location(CSIDL_DESKTOPDIRECTORY), "/srv/desk");
  env_.Set("XDG_DATA_HOME", "/data/home/");
  EXPECT_EQ(folders_.Location(CSIDL_PROGRAMS), "/data/home/applications");
  env_.Set("XDG_DATA_HOME", "relative/ignored");
  EXPECT_EQ(folders_.Location(CSIDL_PROGRAMS), home_ + "/.local/share/applications");
  env_.Set("XDG_DATA_DIRS", "relative:/opt/share/:/usr/share");
  EXPECT_EQ(folders_.Location(CSIDL_COMMON_PROGRAMS), "/opt/share/applications");
}

TEST_F(SpecialFoldersTest, OverridesWin) {
  env_.Set("ZQ_DESKTOP_DIR", "/tmp/d/");
  env_.Set("ZQ_PROGRAMS_DIR", "/tmp/p");
  env_.Set("ZQ_COMMON_PROGRAMS_DIR", "/tmp/c");
  env_.Set("XDG_DATA_HOME", "/data/home");
  EXPECT_EQ(folders_.Location(CSIDL_DESKTOPDIRECTORY), "/tmp/d");
  EXPECT_EQ(folders_.Location(CSIDL_PROGRAMS), "/tmp/p");
  EXPECT_EQ(folders_.Location(CSIDL_COMMON_PROGRAMS), "/tmp/c");
}

TEST(ParseUserDirs, HandlesTheFileFormat) {
  const std::string home = "/home/u";
  EXPECT_EQ(ParseUserDirs("XDG_DESKTOP_DIR=\"$HOME/Desktop\"", "DESKTOP", home), "/home/u/Desktop");
  // Disabled (points at home itself), absolute, escaped quote, last one wins, comments skipped.
  EXPECT_EQ(ParseUserDirs("XDG_DESKTOP_DIR=\"$HOME/\"", "DESKTOP", home), "/home/u");
  EXPECT_EQ(ParseUserDirs("  XDG_DESKTOP_DIR = \"/abs/Bur\\\"eau\"", "DESKTOP", home), "/abs/Bur\"eau");
  EXPECT_EQ(ParseUserDirs("XDG_DESKTOP_DIR=\"/a\"\nXDG_DESKTOP_DIR=\"/b\"", "DESKTOP", home), "/b");
  EXPECT_EQ(ParseUserDirs("#XDG_DESKTOP_DIR=\"/a\"", "DESKTOP", home), "");
  // Unusable values are ignored rather than guessed at.
  EXPECT_EQ(ParseUserDirs("XDG_DESKTOP_DIR=\"relative\"", "DESKTOP", home), "");
  EXPECT_EQ(ParseUserDirs("XDG_DESKTOP_DIR=\"$HOMEX/a\"", "DESKTOP", home), "");
  EXPECT_EQ(ParseUserDirs("XDG_DESKTOP_DIR=\"unterminated", "DESKTOP", home), "");
  EXPECT_EQ(ParseUserDirs("XDG_DESKTOP_DIRX=\"/x\"", "DESKTOP", home), "");
  EXPECT_EQ(ParseUserDirs("XDG_DESKTOP_DIR=\"$HOME/x\"", "DESKTOP", ""), "");
}

}  // namespace
}  // namespace zq
