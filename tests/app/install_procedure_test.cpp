// The installation itself (extraction, fiscal-year database, shortcuts) on packages made here
// with Info-ZIP's zip and the package password, driven through the window's install button.
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <map>

#include "app/install_procedure.h"
#include "platform/special_folders.h"
#include "tests/app/install_run_fixture.h"
#include "tests/support/run_program.h"
#include "ui/enter_edit.h"
#include "ui/folder_combo_box.h"
#include "ui/gradient_progress_bar.h"
#include "zip/zip_archiver.h"

namespace zq::testing {
namespace {


class InstallRun : public InstallRunFixture {
 protected:
  void SetUp() override {
    InstallRunFixture::SetUp();
    TInstallProcedure& p = form->Procedure();
    p.CurrentYear = [this] { return year; };
    // The company profile has its own tests; here the run ends with the shortcuts.
    p.ContinueWithProfile = [this] {
      ++continued;
      continued_at = form->PBar->Percent();
    };
    form->Edit_Societe->setText("SARL Exemple");
    form->Edit_Activite->setText("Commerce");
    form->Edit_Licence->setText("M. Exemple");
    form->Combo_Path->SetPath(target);
  }

  // Builds the package from a folder tree with this build's zqpkg and the given password.
  void MakePackage(const QByteArray& exe, const QString& password = "wexlorb") {
    QString src = root.path() + "/src";
    QDir(src).removeRecursively();
    WriteFile(src + "/Briskal.EXE", exe);
    WriteFile(src + "/Ex_Data/DBEx_20xx.FDB", "template database");
    WriteFile(src + "/scg.zqc", QByteArray(3000, 'c'));
    QDir().mkpath(src + "/Files_Export");
    QDir().mkpath(src + "/BackUp");
    QString package = cwd + "/" + install::kPackageName;
    QFile::remove(package);
    testing_support::ProgramResult made =
        testing_support::RunProgram(testing_support::BuiltProgram("tools/zqpkg"),
                                    {"create", "--password", password.toStdString(), QFile::encodeName(package).toStdString(),
                                     QFile::encodeName(src).toStdString()});
    ASSERT_EQ(made.status, 0) << made.err;
  }

  int year = 2013;
  int continued = 0;
  int continued_at = -1;
};

TEST_F(InstallRun, ExtractsRenamesAndCreatesTheShortcuts) {
  MakePackage("MZ placeholder executable");
  std::vector<int> progress = RunInstall();
  ASSERT_EQ(boxes.asked.size(), 1u) << boxes.AskedTexts();  // only the confirmation
  EXPECT_EQ(progress, (std::vector<int>{10, 20, 23, 26, 29, 32, 33, 36, 40, 60}));
  EXPECT_FALSE(form->Btn_Ok->isEnabled());
  EXPECT_FALSE(form->Btn_No->isEnabled());
  EXPECT_EQ(continued, 1);
  EXPECT_EQ(continued_at, 60);

  EXPECT_EQ(ReadAll(Product() + "/Briskal.EXE"), "MZ placeholder executable");
  EXPECT_EQ(ReadAll(Product() + "/scg.zqc"), QByteArray(3000, 'c'));
  EXPECT_TRUE(QFileInfo(Product() + "/Files_Export").isDir());
  EXPECT_TRUE(QFileInfo(Product() + "/BackUp").isDir());
  EXPECT_FALSE(QFileInfo::exists(Product() + "/Ex_Data/DBEx_20xx.FDB"));
  EXPECT_EQ(ReadAll(Product() + "/Ex_Data/DBEx_2013.FDB"), "template database");

  // The archiver got the package from the current directory and the base with its separator.
  EXPECT_EQ(form->Archiver().FileName(), (cwd + "/" + install::kPackageName).toStdString());
  EXPECT_EQ(form->Archiver().BaseDir(), (target + "/QUORVANT/Briskal_SE/").toStdString());
  EXPECT_EQ(form->Archiver().Password(), "wexlorb");
  EXPECT_FALSE(form->Archiver().Active());

  const QString name = "Briskal SE 5.2 Logiciel de Gestion.lnk";
  for (const QString& lnk : {root.path() + "/Desktop/" + name, root.path() + "/programs/" + name,
                             root.path() + "/common/QUORVANT/" + name}) {
    SCOPED_TRACE(lnk.toStdString());
    ASSERT_TRUE(QFileInfo::exists(lnk));
    auto [link_target, working_dir] = ReadShortcut(lnk);
    EXPECT_EQ(link_target, (Product() + "/Briskal.EXE").toStdString());
    EXPECT_EQ(working_dir, U16(Product() + "/"));
  }
}

TEST_F(InstallRun, TheYearNamesTheFiscalDatabase) {
  year = 2014;
  MakePackage("exe");
  RunInstall();
  EXPECT_TRUE(QFileInfo::exists(Product() + "/Ex_Data/DBEx_2014.FDB"));
  EXPECT_FALSE(QFileInfo::exists(Product() + "/Ex_Data/DBEx_20xx.FDB"));
}

TEST_F(InstallRun, SecondInstallationReplacesReadOnlyFilesAndKeepsTheYearDatabase) {
  MakePackage("first");
  RunInstall();
  ASSERT_EQ(continued, 1);
  QFile::setPermissions(Product() + "/Briskal.EXE", QFile::ReadOwner | QFile::ReadGroup);
  WriteFile(Product() + "/Ex_Data/DBEx_2013.FDB", "this year's data");

  // A fresh window, as a second run of the program would have.
  delete form;
  SetUp();
  MakePackage("second");
  std::vector<int> progress = RunInstall();
  EXPECT_EQ(progress.back(), 60);
  EXPECT_EQ(ReadAll(Product() + "/Briskal.EXE"), "second");
  // The rename fails quietly: the template and this year's database both remain.
  EXPECT_EQ(ReadAll(Product() + "/Ex_Data/DBEx_20xx.FDB"), "template database");
  EXPECT_EQ(ReadAll(Product() + "/Ex_Data/DBEx_2013.FDB"), "this year's data");
}

TEST_F(InstallRun, DamagedPackageShowsTheArchiveErrorAndKeepsButtonsDisabled) {
  WriteFile(cwd + "/" + install::kPackageName, QByteArray(100, 'Z'));
  std::vector<int> progress = RunInstall();
  ASSERT_EQ(boxes.asked.size(), 2u);
  const AskedBox& error = boxes.asked[1];
  EXPECT_EQ(error.flags, 0x10u);
  EXPECT_EQ(error.text, "Invalid archive file. - Native error: 00035");
  EXPECT_EQ(error.caption, QGuiApplication::applicationDisplayName());
  EXPECT_EQ(progress, (std::vector<int>{10, 20, 23, 26}));
  EXPECT_EQ(form->PBar->Percent(), 26);
  EXPECT_FALSE(form->Btn_Ok->isEnabled());
  EXPECT_FALSE(form->Btn_No->isEnabled());
  EXPECT_EQ(continued, 0);
  EXPECT_FALSE(end->isVisible());
  // Nothing is undone: the product folder made at step 5 stays.
  EXPECT_TRUE(QFileInfo(Product()).isDir());
  // Typing afterwards does not offer a second run.
  form->Edit_Societe->setText("SARL Autre");
  EXPECT_FALSE(form->Btn_Ok->isEnabled());
}

TEST_F(InstallRun, ArchiveMessagesNameTheArchiver) {
  MakePackage("exe");
  ASSERT_TRUE(QDir().mkpath(Product() + "/Briskal.EXE/in the way"));
  std::vector<std::string> messages;
  form->Archiver().OnProcessFileFailure = [&](TZipBaseArchiver*, const std::string&, TZipProcessOperation, int,
                                              int, const std::string& message,
                                              TZipAction&) { messages.push_back(message); };
  RunInstall();
  EXPECT_EQ(form->Archiver().Name(), "Archiver");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "Archiver: Cannot create file \"" + Product().toStdString() +
                             "/Briskal.EXE\" - Native error: 00019");
}

TEST_F(InstallRun, AccentedFolderNamesReachTheFileSystemIntact) {
  target = root.path() + "/Société Générale";
  ASSERT_TRUE(QDir().mkpath(target));
  form->Combo_Path->SetPath(target);
  MakePackage("exe");
  std::vector<int> progress = RunInstall();
  EXPECT_EQ(progress.back(), 60);
  EXPECT_EQ(ReadAll(target + "/QUORVANT/Briskal_SE/Briskal.EXE"), "exe");
  EXPECT_TRUE(QFileInfo::exists(target + "/QUORVANT/Briskal_SE/Ex_Data/DBEx_2013.FDB"));
  // The shortcut's target is the 1252 form of the path; its working folder reads back in Unicode.
  auto [link_target, working_dir] =
      ReadShortcut(root.path() + "/Desktop/Briskal SE 5.2 Logiciel de Gestion.lnk");
  EXPECT_EQ(working_dir, U16(target + "/QUORVANT/Briskal_SE/"));
  EXPECT_EQ(link_target, root.path().toStdString() + "/Soci\xE9t\xE9 G\xE9n\xE9rale/QUORVANT/Briskal_SE/Briskal.EXE");
}

// Every path of the installation is handed on in code page 1252; a folder whose name it cannot
// hold is refused before anything is made, whether it is the chosen folder or the one holding
// the package.
TEST_F(InstallRun, FolderNamesOutsideCodePage1252AreRefusedBeforeAnythingIsMade) {
  struct Case {
    const char* folder;
    bool is_current_dir;
    const char* outside;  // what the message lists
  };
  const Case cases[] = {
      {"Łódź", false, "Ł ź"},
      {"Бухгалтерия", false, "Б у х г а л т е р и я"},
      {"Łódź", true, "Ł ź"},
      {"Бухгалтерия", true, "Б у х г а л т е р и я"},
  };
  MakePackage("exe");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.folder) + (c.is_current_dir ? " as the package folder" : " as the chosen folder"));
    QTemporaryDir scratch(root.path() + "/case-XXXXXX");
    ASSERT_TRUE(scratch.isValid());
    QString odd = scratch.path() + "/" + QString::fromUtf8(c.folder);
    ASSERT_TRUE(QDir().mkpath(odd));
    if (c.is_current_dir) {
      ASSERT_TRUE(QFile::copy(cwd + "/" + install::kPackageName, odd + "/" + install::kPackageName));
      form->Procedure().CurrentDir = [odd] { return odd; };
      form->Combo_Path->SetPath(target);
    } else {
      form->Procedure().CurrentDir = [this] { return cwd; };
      form->Combo_Path->SetPath(odd);
    }
    boxes.asked.clear();
    std::vector<int> progress = RunInstall();

    // A clear refusal, after the confirmation only when the package folder is at fault.
    ASSERT_EQ(boxes.asked.size(), c.is_current_dir ? 2u : 1u);
    const AskedBox& refusal = boxes.asked.back();
    EXPECT_EQ(refusal.caption, "Erreur d'installation");
    EXPECT_EQ(refusal.flags, 0x10u);
    QString outside = QString::fromUtf8(c.outside).remove(' ');
    EXPECT_EQ(refusal.text, c.is_current_dir ? install::PackageFolderCharactersText(odd, outside)
                                             : install::PathCharactersText(outside));
    EXPECT_TRUE(refusal.text.contains(QString::fromUtf8(c.outside) + ".")) << refusal.text.toStdString();
    if (c.is_current_dir) {
      EXPECT_EQ(boxes.asked[0].caption, "Confirmation de l'installation");
    }

    // Nothing made anywhere: no progress, no product folder in either place, no shortcut, and
    // the window still offers the installation.
    EXPECT_TRUE(progress.empty());
    EXPECT_EQ(continued, 0);
    EXPECT_EQ(QDir(odd).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              c.is_current_dir ? QStringList{install::kPackageName} : QStringList{});
    EXPECT_FALSE(QFileInfo::exists(target + "/QUORVANT"));
    EXPECT_TRUE(QDir(root.path() + "/Desktop").isEmpty());
    EXPECT_FALSE(QFileInfo::exists(root.path() + "/common"));
    EXPECT_TRUE(form->Btn_Ok->isEnabled());
    EXPECT_TRUE(form->Btn_No->isEnabled());
    // Only the scratch folder of this case, the package's folder and the shortcut folders of the
    // fixture are under the test's root.
    EXPECT_EQ(QDir(root.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), 6);
  }
}

// On a system where the user has no desktop or application-menu folder yet, they are made (they
// belong to the user) and the shortcuts are written into them.
TEST_F(InstallRun, MissingDesktopAndMenuFoldersOfTheUserAreCreated) {
  const QString home = root.path() + "/newhome";
  folders.locations[CSIDL_DESKTOPDIRECTORY] = (home + "/Bureau").toStdString();
  folders.locations[CSIDL_PROGRAMS] = (home + "/.local/share/applications").toStdString();
  ASSERT_FALSE(QFileInfo::exists(home));
  MakePackage("exe");
  std::vector<int> progress = RunInstall();
  EXPECT_EQ(progress.back(), 60);
  const QString name = "/Briskal SE 5.2 Logiciel de Gestion.lnk";
  for (const QString& lnk : {home + "/Bureau" + name, home + "/.local/share/applications" + name,
                             root.path() + "/common/QUORVANT" + name}) {
    SCOPED_TRACE(lnk.toStdString());
    EXPECT_EQ(ReadShortcut(lnk).first, (Product() + "/Briskal.EXE").toStdString());
  }
}

TEST_F(InstallRun, HostileEntryNamesNeverWriteOutsideTheProductFolder) {
  // An unencrypted package whose entries try to climb out of the base folder.
  QString package = cwd + "/" + install::kPackageName;
  QString script =
      "import sys, zipfile\n"
      "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
      "    z.writestr('../../escaped.txt', 'x')\n"
      "    z.writestr('/abs_escaped.txt', 'x')\n"
      "    z.writestr('Briskal.EXE', 'exe')\n";
  QProcess python;
  python.start("python3", {"-c", script, package});
  ASSERT_TRUE(python.waitForFinished(30000));
  ASSERT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
  RunInstall();
  EXPECT_FALSE(QFileInfo::exists(target + "/escaped.txt"));
  EXPECT_FALSE(QFileInfo::exists(root.path() + "/escaped.txt"));
  EXPECT_FALSE(QFileInfo::exists(target + "/QUORVANT/escaped.txt"));
  EXPECT_FALSE(QFileInfo::exists("/abs_escaped.txt"));
  // Whatever the archive component made of the bad entries, the window is in a defined state.
  EXPECT_FALSE(form->Btn_Ok->isEnabled());
  EXPECT_FALSE(form->Btn_No->isEnabled());
}

TEST_F(InstallRun, UnknownShortcutFoldersAreSkippedNotWrittenAtTheRoot) {
  folders.locations.clear();
  MakePackage("exe");
  std::vector<int> progress = RunInstall();
  EXPECT_EQ(progress.back(), 60);
  EXPECT_FALSE(QFileInfo::exists("/Briskal SE 5.2 Logiciel de Gestion.lnk"));
  EXPECT_FALSE(QFileInfo::exists("/QUORVANT"));
}

TEST_F(InstallRun, CommonProgramsFolderIsCreatedAndHostOverridesAreHonoured) {
  qputenv("ZQ_DESKTOP_DIR", (root.path() + "/envdesk").toUtf8());
  qputenv("ZQ_PROGRAMS_DIR", (root.path() + "/envprog").toUtf8());
  qputenv("ZQ_COMMON_PROGRAMS_DIR", (root.path() + "/envcommon").toUtf8());
  QDir().mkpath(root.path() + "/envdesk");
  QDir().mkpath(root.path() + "/envprog");
  form->Procedure().Folders = nullptr;  // the host's locations
  MakePackage("exe");
  RunInstall();
  qunsetenv("ZQ_DESKTOP_DIR");
  qunsetenv("ZQ_PROGRAMS_DIR");
  qunsetenv("ZQ_COMMON_PROGRAMS_DIR");
  const QString name = "/Briskal SE 5.2 Logiciel de Gestion.lnk";
  EXPECT_TRUE(QFileInfo::exists(root.path() + "/envdesk" + name));
  EXPECT_TRUE(QFileInfo::exists(root.path() + "/envprog" + name));
  EXPECT_TRUE(QFileInfo::exists(root.path() + "/envcommon/QUORVANT" + name));
}

}  // namespace
}  // namespace zq::testing
