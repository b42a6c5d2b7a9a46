#include "app/install_procedure.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include "app/maker_info.h"
#include "ui/message_boxes.h"
#include "ui/text_codec.h"
#include "zip/zip_archiver.h"

namespace zq {

namespace install {
QString PathMissingText() {
  return QStringLiteral("Attention, le chemin d'installation choisis n'existe pas. Veuillez SVP faire choisir un chemin existant ?");
}
QString ConfirmText() {
  return QStringLiteral("?tes vous sur de vouloir installer l'application utilisant ces informations personnelles et professionnelles ?");
}
QString PackageMissingText() {
  return QStringLiteral("Attention, le package fichiers d'installation n'existe pas. Veuillez SVP contacter le support technique. ") +
         QString::fromUtf8(maker::kWebAddress) + QStringLiteral("/ ");
}
namespace {
QString Spaced(const QString& characters) {
  QStringList each;
  for (char32_t cp : characters.toUcs4()) each << QString::fromUcs4(&cp, 1);
  return each.join(' ');
}
}  // namespace
QString PathCharactersText(const QString& outside) {
  return QStringLiteral("Attention, le chemin d'installation choisi contient des caractères que l'application ne "
                        "prend pas en charge : %1. Veuillez SVP choisir un chemin dont le nom n'utilise que des "
                        "lettres de l'alphabet latin (accents français compris).")
      .arg(Spaced(outside));
}
QString PackageFolderCharactersText(const QString& folder, const QString& outside) {
  return QStringLiteral("Attention, le nom du dossier du package d'installation (%1) contient des caractères que "
                        "l'application ne prend pas en charge : %2. Veuillez SVP copier le package et l'assistant "
                        "d'installation dans un dossier dont le nom n'utilise que des lettres de l'alphabet latin "
                        "(accents français compris).")
      .arg(folder, Spaced(outside));
}
QString ErrorCaption() { return QStringLiteral("Erreur d'installation"); }
QString ConfirmCaption() { return QStringLiteral("Confirmation de l'installation"); }
}  // namespace install

TInstallProcedure::TInstallProcedure(TZipArchiver& archiver) : archiver_(archiver) {}

int TInstallProcedure::Ask(const QString& text, const QString& caption, unsigned flags) {
  return (Boxes ? *Boxes : MessageBoxes()).MessageBox(text, caption, flags);
}

void TInstallProcedure::SetProgress(int percent) {
  if (Progress) Progress(percent);
}

bool TInstallProcedure::Run() {
  using namespace install;
  // 1. The chosen folder must exist.
  if (P().isEmpty() || !QFileInfo(P()).isDir()) {
    Ask(PathMissingText(), ErrorCaption(), kMbOk | kMbIconError);
    return false;
  }
  // The archiver, the shortcuts and the configuration database take their paths in code page
  // 1252; a folder name it cannot hold would reach them as another folder. Refused before
  // anything is made.
  if (QString outside = CharactersOutsideAnsi(P()); !outside.isEmpty()) {
    Ask(PathCharactersText(outside), ErrorCaption(), kMbOk | kMbIconError);
    return false;
  }
  // 2. Only OK counts as consent.
  if (Ask(ConfirmText(), ConfirmCaption(), kMbOkCancel | kMbIconWarning) != kIdOk) return false;
  // 3. The package must be in the current directory.
  QString current = CurrentDir ? CurrentDir() : QDir::currentPath();
  if (!QFileInfo(current + QStringLiteral("/") + QString::fromUtf8(kPackageName)).isFile()) {
    Ask(PackageMissingText(), ErrorCaption(), kMbOk | kMbIconError);
    return false;
  }
  // The package path goes to the archiver in code page 1252 too.
  if (QString outside = CharactersOutsideAnsi(current); !outside.isEmpty()) {
    Ask(PackageFolderCharactersText(current, outside), ErrorCaption(), kMbOk | kMbIconError);
    return false;
  }

  // 4. From here on the buttons stay disabled, whatever happens.
  if (DisableButtons) DisableButtons();
  SetProgress(10);
  // 5.
  QDir().mkpath(P() + QString::fromUtf8(kProductFolder));
  SetProgress(20);
  // 6.-11. The package, extracted under the product folder.
  archiver_.SetFileName(ToAnsi(current + QStringLiteral("/") + QString::fromUtf8(kPackageName)));
  SetProgress(23);
  archiver_.SetPassword(kPackagePassword);
  SetProgress(26);
  archiver_.Open();
  SetProgress(29);
  archiver_.SetBaseDir(ToAnsi(P() + QString::fromUtf8(kExtractBase)));
  SetProgress(32);
  archiver_.ExtractMatching(kExtractMask, kExtractAttributes, "");
  SetProgress(33);
  archiver_.Close();
  SetProgress(36);
  // 12. This year's database from the template; an existing one is left alone (the rename then
  // fails and both files stay).
  year_ = CurrentYear ? CurrentYear() : QDate::currentDate().year();
  QFile::rename(P() + QString::fromUtf8(kTemplate),
                P() + QString::fromUtf8(kYearPrefix) + QString::number(year_) + QString::fromUtf8(kYearExtension));
  SetProgress(40);
  // 13.
  CreateShortcuts();
  SetProgress(60);
  // 14. The company profile write-back continues from 60.
  if (ContinueWithProfile) ContinueWithProfile();
  return true;
}

void TInstallProcedure::CreateShortcuts() {
  using namespace install;
  QString target = P() + QString::fromUtf8(kExecutable);
  std::unique_ptr<IShellLink> link = CreateShellLink ? CreateShellLink() : std::make_unique<TShellLink>();
  link->SetPath(ToAnsi(QDir::toNativeSeparators(target)));
  // The folder of the target with its trailing separator.
  link->SetWorkingDirectory(ToAnsi(QDir::toNativeSeparators(P() + QString::fromUtf8(kExtractBase))));

  THostSpecialFolders host;
  ISpecialFolders& folders = Folders ? *Folders : host;
  // A location the host does not know is skipped: the shortcut would otherwise land in "/".
  // The user's own desktop and menu folders belong to the user: made when missing, so the
  // shortcut the completion window speaks of is there.
  auto save_in_own_folder = [&link](const std::string& folder) {
    if (folder.empty()) return;
    QDir().mkpath(QFile::decodeName(folder.c_str()));
    link->Save(folder + kShortcut);
  };
  save_in_own_folder(folders.Location(CSIDL_DESKTOPDIRECTORY));
  save_in_own_folder(folders.Location(CSIDL_PROGRAMS));
  std::string common = folders.Location(CSIDL_COMMON_PROGRAMS);
  if (!common.empty()) {
    QDir().mkpath(QFile::decodeName((common + kCommonShortcutFolder).c_str()));
    link->Save(common + kCommonShortcut);
  }
}

}  // namespace zq
