// The installation window: presents the product, collects the company profile and the
// installation folder, enables the install button when the required entries are there, asks
// before quitting, and runs the installation (TInstallProcedure) from the install button.
#pragma once

#include <QPoint>
#include <QSize>
#include <QWidget>
#include <functional>
#include <memory>

class QLabel;
class QPushButton;

namespace zq {

class TDataSet;
class TDbTable;
class TEnterEdit;
class TFolderComboBox;
class TGradientProgressBar;
class TInstallProcedure;
class TMarqueeLabel;
class TNumericEdit;
class TZipArchiver;

// Window position centring a window on a screen: Round(w / 2 - dx), Round(h / 2 - dy), computed in
// floating point, halves to even.
QPoint CentredPosition(QSize screen, int dx, int dy);

class TForm_Install : public QWidget {
  Q_OBJECT
 public:
  explicit TForm_Install(QWidget* parent = nullptr);
  ~TForm_Install() override;

  // ---- handlers ----
  void FormShow();
  void Edit_SocieteChange();
  void Edit_ActiviteChange();
  void Edit_LicenceChange();
  void Combo_PathPropertiesChange();
  void Btn_NoClick();
  void Btn_OkClick();
  void Config_tblBeforeOpen(TDataSet& sender);
  void Settings_tblBeforeOpen(TDataSet& sender);
  void Societe_tblBeforeOpen(TDataSet& sender);
  // The second half of the install button: writes the fiscal year, the product's folders and the
  // company profile into the product's configuration database, completes the progress bar and
  // shows the completion window. Runs from the procedure once the shortcuts are made (60 %).
  void WriteCompanyProfile();

  // ---- controls (objectName = member name) ----
  QLabel* Label_Prd_Name = nullptr;
  QLabel* Label_Prd_Ver = nullptr;
  TMarqueeLabel* Marquee = nullptr;
  TEnterEdit* Edit_Societe = nullptr;
  TEnterEdit* Edit_Activite = nullptr;
  TEnterEdit* Edit_Adresse = nullptr;
  TEnterEdit* Edit_Tel = nullptr;
  TEnterEdit* Edit_Fax = nullptr;
  TEnterEdit* Edit_Email = nullptr;
  TEnterEdit* Edit_URL = nullptr;
  TEnterEdit* Edit_CBank = nullptr;
  TEnterEdit* Edit_RC = nullptr;
  TEnterEdit* Edit_MF = nullptr;
  TEnterEdit* Edit_AI = nullptr;
  TEnterEdit* Edit_NIF = nullptr;
  TEnterEdit* Edit_NIS = nullptr;
  TNumericEdit* Edit_CapitalS = nullptr;
  TEnterEdit* Edit_Licence = nullptr;
  TFolderComboBox* Combo_Path = nullptr;
  TGradientProgressBar* PBar = nullptr;
  QPushButton* Btn_Ok = nullptr;
  QPushButton* Btn_No = nullptr;

  // ---- components ----
  TZipArchiver& Archiver() { return *archiver_; }
  TInstallProcedure& Procedure() { return *procedure_; }
  TDbTable& Config_tbl() { return *config_tbl_; }
  TDbTable& Settings_tbl() { return *settings_tbl_; }
  TDbTable& Societe_tbl() { return *societe_tbl_; }

  // Shows the completion window modally; its result is ignored. Tests replace it so nothing
  // blocks.
  std::function<void()> ShowCompletion;

  // What closing this window does after it has closed: ends the application by default (the
  // message loop and any modal loop inside it). Tests replace it.
  std::function<void()> OnTerminate;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildHeader();
  void BuildLeftGroup();
  void BuildRightGroup();
  void EnablingRule();

  std::unique_ptr<TZipArchiver> archiver_;
  std::unique_ptr<TInstallProcedure> procedure_;
  std::unique_ptr<TDbTable> config_tbl_;
  std::unique_ptr<TDbTable> settings_tbl_;
  std::unique_ptr<TDbTable> societe_tbl_;
  bool started_ = false;
};

// The installation window of the running program (set by the program entry).
extern TForm_Install* Form_Install;

}  // namespace zq
