// The archive component's default questions as Qt dialogs: the password query, the
// Abort/Retry/Ignore question about a failed file (through the application's message boxes) and
// the four-button overwrite question. The application installs them with InstallZipDialogs().
#pragma once

#include <memory>

#include "zip/zip_archiver.h"

class QWidget;

namespace zq {

class TZipDialogs : public TZipInteraction {
 public:
  // Text-input query; the typed password is not shown on screen.
  bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value) override;
  // "Confirm" box with Abort, Retry and Ignore; closing it is Abort.
  TZipAction AskFileFailure(const std::string& text) override;
  // "Confirm" box with Yes, No, No to all and Yes to all; closing it is No.
  TZipOverwriteAnswer AskOverwrite(const std::string& text) override;
};

// Makes the archive component ask through TZipDialogs from now on.
void InstallZipDialogs();

}  // namespace zq
