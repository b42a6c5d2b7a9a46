// The interaction a database needs from a person: the login dialog, shown when an encrypted
// database is opened without a password. The application installs the Qt dialog; without a hook
// (tools, tests) no dialog is shown and the open ends in "Access denied".
#pragma once

#include <string>

namespace zq {

class TDbLoginHook {
 public:
  virtual ~TDbLoginHook() = default;
  // Shows the dialog for the database path. Returns false when the user cancels; otherwise true
  // with the entered password.
  virtual bool Login(const std::string& database_path, std::string& password) = 0;
};

// The installed hook, or nullptr. The caller keeps the hook alive while it is installed.
TDbLoginHook* DbLoginHook();
void SetDbLoginHook(TDbLoginHook* hook);

}  // namespace zq
