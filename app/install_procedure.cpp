#include "app/install_procedure.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>

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
  // 2. Only OK counts as consent.
  if (Ask(ConfirmText(), ConfirmCaption(), kMbOkCancel | kMbIconWarning) != kIdOk) return false;
  // 3. The package must be in the current directory.
  QString current = CurrentDir ? CurrentDir() : QDir::currentPath();
  if (!QFileInfo(current + QStringLiteral("/") + QString::fromUtf8(kPackageName)).isFile()) {
    Ask(PackageMissingText(), ErrorCaption(), kMbOk | kMbIconError);
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
  std::string desktop = folders.Location(CSIDL_DESKTOPDIRECTORY);
  if (!desktop.empty()) link->Save(desktop + kShortcut);
  std::string programs = folders.Location(CSIDL_PROGRAMS);
  if (!programs.empty()) link->Save(programs + kShortcut);
  std::string common = folders.Location(CSIDL_COMMON_PROGRAMS);
  if (!common.empty()) {
    QDir().mkpath(QFile::decodeName((common + kCommonShortcutFolder).c_str()));
    link->Save(common + kCommonShortcut);
  }
}

}  // namespace zq
