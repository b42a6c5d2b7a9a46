// A whole installation run in a scratch folder: the program's current folder (where the package
// lies), the target folder and the shortcut folders all lie under one temporary folder, and the
// install button is clicked with the confirmation answered.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <vector>

#include "app/install_procedure.h"
#include "tests/app/app_test_support.h"
#include "tests/app/install_test_support.h"
#include "ui/gradient_progress_bar.h"

namespace zq::testing {

class InstallRunFixture : public FormFixture {
 protected:
  void SetUp() override {
    FormFixture::SetUp();
    ASSERT_TRUE(root.isValid());
    cwd = root.path() + "/cwd";
    target = root.path() + "/target";
    ASSERT_TRUE(QDir().mkpath(cwd));
    ASSERT_TRUE(QDir().mkpath(target));
    // The common programs folder is left for the installation to create.
    for (auto [csidl, name] : {std::pair{CSIDL_DESKTOPDIRECTORY, "/Desktop"}, std::pair{CSIDL_PROGRAMS, "/programs"},
                               std::pair{CSIDL_COMMON_PROGRAMS, "/common"}}) {
      folders.locations[csidl] = QFile::encodeName(root.path() + name).toStdString();
      if (csidl != CSIDL_COMMON_PROGRAMS) {
        ASSERT_TRUE(QDir().mkpath(root.path() + name));
      }
    }
    WireForm();
  }

  // Points the (new) installation window at the scratch folders.
  virtual void WireForm() {
    TInstallProcedure& p = form->Procedure();
    p.CurrentDir = [this] { return cwd; };
    p.Folders = &folders;
  }

  // Clicks the install button, answers the confirmation, and returns the progress values shown.
  std::vector<int> RunInstall() {
    QSignalSpy progress(form->PBar, &TGradientProgressBar::PercentChanged);
    boxes.answers = {kIdOk};
    form->Btn_Ok->click();
    std::vector<int> seen;
    for (const auto& args : progress) seen.push_back(args.at(0).toInt());
    return seen;
  }

  QString Product() const { return target + "/QUORVANT/Briskal_SE"; }

  QTemporaryDir root;
  QString cwd;
  QString target;
  FakeFolders folders;
};

}  // namespace zq::testing
