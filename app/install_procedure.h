// The installation run by the install button: checks of the chosen folder and the package,
// the user's confirmation, extraction of the package under <folder>/QUORVANT/Briskal_SE/, the
// fiscal-year database from its template, and the three shortcuts to the product. Everything it
// needs from outside (message boxes, special folders, the shell-link object, the clock, the
// current directory) is a replaceable member, so tests drive it without a person or a real desktop.
#pragma once

#include <QString>
#include <functional>
#include <memory>

#include "platform/shell_link.h"
#include "platform/special_folders.h"

namespace zq {

class IMessageBoxes;
class TZipArchiver;

// Fixed names and texts of the installation.
namespace install {
inline constexpr char kPackageName[] = "zqipkg_Briskal_SE_5.2_B5_15-01-2013.zqp";
inline constexpr char kPackagePassword[] = "wexlorb";
inline constexpr char kProductFolder[] = "/QUORVANT/Briskal_SE";
inline constexpr char kExtractBase[] = "/QUORVANT/Briskal_SE/";
inline constexpr char kTemplate[] = "/QUORVANT/Briskal_SE/Ex_Data/DBEx_20xx.FDB";
inline constexpr char kYearPrefix[] = "/QUORVANT/Briskal_SE/Ex_Data/DBEx_";
inline constexpr char kYearExtension[] = ".FDB";
inline constexpr char kExecutable[] = "/QUORVANT/Briskal_SE/Briskal.EXE";
inline constexpr char kShortcut[] = "/Briskal SE 5.2 Logiciel de Gestion.lnk";
inline constexpr char kCommonShortcutFolder[] = "/QUORVANT";
inline constexpr char kCommonShortcut[] = "/QUORVANT/Briskal SE 5.2 Logiciel de Gestion.lnk";
inline constexpr char kExtractMask[] = "*.*";
inline constexpr int kExtractAttributes = 10431;  // 0x28BF

// The product's configuration database and its table password.
inline constexpr char kConfigDatabase[] = "/QUORVANT/Briskal_SE/scg.zqc";
inline constexpr char kExportFolder[] = "/QUORVANT/Briskal_SE/Files_Export";
inline constexpr char kBackUpFolder[] = "/QUORVANT/Briskal_SE/BackUp";
inline constexpr char kTablePassword[] = "tarvu";

QString PathMissingText();
QString ConfirmText();
QString PackageMissingText();
// The folder's name has characters that code page 1252 lacks (listed in outside).
QString PathCharactersText(const QString& outside);
QString PackageFolderCharactersText(const QString& folder, const QString& outside);
QString ErrorCaption();
QString ConfirmCaption();
}  // namespace install

class TInstallProcedure {
 public:
  explicit TInstallProcedure(TZipArchiver& archiver);

  // ---- the window's side ----
  // Text of the folder box, read again at each use.
  std::function<QString()> ChosenPath;
  // Sets the progress bar.
  std::function<void(int)> Progress;
  // Disables the install and quit buttons (step 4); nothing enables them again.
  std::function<void()> DisableButtons;
  // Step 14 onwards: the company profile write-back. Runs after the shortcuts when set.
  std::function<void()> ContinueWithProfile;

  // ---- the host ----
  IMessageBoxes* Boxes = nullptr;         // nullptr: the application's MessageBoxes()
  ISpecialFolders* Folders = nullptr;     // nullptr: the host's locations
  std::function<std::unique_ptr<IShellLink>()> CreateShellLink;  // default: TShellLink
  std::function<int()> CurrentYear;       // default: the local date's year
  std::function<QString()> CurrentDir;    // default: the process's current directory

  // Runs the whole installation. Returns false when a check or the user ended it at steps 1-3
  // (nothing changed); true once every step has run. Exceptions of steps 5-13 (and of the
  // continuation) pass to the caller, which shows them; nothing done so far is undone.
  bool Run();

  // The fiscal year of the last run (step 12); 0 before any run got that far.
  int Year() const { return year_; }

 private:
  int Ask(const QString& text, const QString& caption, unsigned flags);
  QString P() const { return ChosenPath ? ChosenPath() : QString(); }
  void SetProgress(int percent);
  void CreateShortcuts();

  TZipArchiver& archiver_;
  int year_ = 0;
};

}  // namespace zq
