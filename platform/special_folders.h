// Locations of the shell's special folders on this host, after the freedesktop conventions:
//   0x10 desktop directory   ZQ_DESKTOP_DIR, else XDG_DESKTOP_DIR of $XDG_CONFIG_HOME/user-dirs.dirs
//                            (default ~/.config/user-dirs.dirs), else ~/Desktop
//   0x02 user programs menu  ZQ_PROGRAMS_DIR, else $XDG_DATA_HOME/applications
//                            (default ~/.local/share/applications)
//   0x17 common programs     ZQ_COMMON_PROGRAMS_DIR, else the first folder of $XDG_DATA_DIRS
//                            followed by /applications (default /usr/share/applications)
// The environment variables let tests and careful users redirect each location. Paths are the
// host's own bytes (UTF-8), "/" separated, without a trailing separator (except "/").
#pragma once

#include <string>

namespace zq {

inline constexpr int CSIDL_PROGRAMS = 0x02;
inline constexpr int CSIDL_DESKTOPDIRECTORY = 0x10;
inline constexpr int CSIDL_COMMON_PROGRAMS = 0x17;

class ISpecialFolders {
 public:
  virtual ~ISpecialFolders() = default;
  // The folder's path, or "" for an unknown identifier or a location that cannot be found.
  virtual std::string Location(int csidl) = 0;
};

// The host's locations, read from the environment and the user's settings at each call.
class THostSpecialFolders : public ISpecialFolders {
 public:
  std::string Location(int csidl) override;
};

// The user's home folder: $HOME, else the password database; "" when neither knows it.
std::string HomeDirectory();

// Value of XDG_<name>_DIR in a user-dirs.dirs text ("$HOME/..." expanded with home, absolute
// paths kept, anything else ignored); "" when the key is missing or unusable.
std::string ParseUserDirs(const std::string& text, const std::string& name, const std::string& home);

}  // namespace zq
