#include "app/zqsw_inst.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <cmath>
#include <functional>

#include "app/fin_install.h"
#include "app/install_procedure.h"
#include "app/maker_info.h"
#include "app/pictures.h"
#include "ui/application.h"
#include "ui/enter_edit.h"
#include "ui/folder_combo_box.h"
#include "ui/gradient_progress_bar.h"
#include "ui/marquee_label.h"
#include "ui/message_boxes.h"
#include "ui/numeric_edit.h"
#include "ui/text_codec.h"
#include "dbengine/dataset/db_table.h"
#include "zip/zip_archiver.h"

namespace zq {

TForm_Install* Form_Install = nullptr;

QPoint CentredPosition(QSize screen, int dx, int dy) {
  // std::nearbyint rounds in the current mode: to nearest, halves to even.
  return QPoint(static_cast<int>(std::nearbyint(screen.width() / 2.0 - dx)),
                static_cast<int>(std::nearbyint(screen.height() / 2.0 - dy)));
}

namespace {

QLabel* MakeLabel(QWidget* parent, const QString& text, const QRect& geometry) {
  auto* label = new QLabel(text, parent);
  label->setGeometry(geometry);
  return label;
}

QLabel* MakeLink(QWidget* parent, const QString& url, const QString& text, const QRect& geometry) {
  auto* label = MakeLabel(parent, QStringLiteral("<a href=\"%1\">%2</a>").arg(url, text.toHtmlEscaped()), geometry);
  label->setOpenExternalLinks(true);
  // Clickable, but never a stop of the keyboard focus chain.
  label->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
  label->setFocusPolicy(Qt::NoFocus);
  return label;
}

QLabel* MakeBold(QWidget* parent, const QString& text, const QRect& geometry) {
  QLabel* label = MakeLabel(parent, text, geometry);
  QFont f = label->font();
  f.setBold(true);
  label->setFont(f);
  return label;
}

}  // namespace

TForm_Install::TForm_Install(QWidget* parent)
    // A fixed dialog border: caption and close button only, no minimise or maximise button.
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      archiver_(std::make_unique<TZipArchiver>()),
      procedure_(std::make_unique<TInstallProcedure>(*archiver_)),
      config_tbl_(std::make_unique<TDbTable>()),
      settings_tbl_(std::make_unique<TDbTable>()),
      societe_tbl_(std::make_unique<TDbTable>()) {
  setObjectName("Form_Install");
  archiver_->SetName("Archiver");  // its messages carry the "Archiver: " prefix
  setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
  setFixedSize(784, 487);
  setWindowTitle(QStringLiteral("QUORVANT Software Installer 2.0"));
  setToolTip(windowTitle());

  BuildHeader();
  BuildLeftGroup();
  BuildRightGroup();

  Btn_Ok = new QPushButton(QStringLiteral("&Installer"), this);
  Btn_Ok->setObjectName("Btn_Ok");
  Btn_Ok->setToolTip(QStringLiteral("Commencer l'installation"));
  Btn_Ok->setGeometry(566, 456, 100, 25);
  Btn_Ok->setEnabled(false);
  Btn_Ok->setAutoDefault(false);
  Btn_No = new QPushButton(QStringLiteral("&Quitter"), this);
  Btn_No->setObjectName("Btn_No");
  Btn_No->setToolTip(QStringLiteral("Quitter l'assistant d'installation"));
  Btn_No->setGeometry(676, 456, 100, 25);
  Btn_No->setAutoDefault(false);
  Btn_No->setFocusPolicy(Qt::ClickFocus);  // not a tab stop

  // Tab order: the install button first, then the entries in the order of the form.
  QWidget* order[] = {Btn_Ok, Edit_Societe, Edit_Activite, Edit_Adresse, Edit_Tel, Edit_Fax,
                      Edit_Email, Edit_URL, Edit_CBank, Edit_RC, Edit_MF, Edit_AI, Edit_NIF,
                      Edit_NIS, Edit_CapitalS, Edit_Licence, Combo_Path};
  for (size_t i = 0; i + 1 < std::size(order); ++i) QWidget::setTabOrder(order[i], order[i + 1]);

  connect(Edit_Societe, &QLineEdit::textChanged, this, [this] { Guarded([this] { Edit_SocieteChange(); }); });
  connect(Edit_Activite, &QLineEdit::textChanged, this, [this] { Guarded([this] { Edit_ActiviteChange(); }); });
  connect(Edit_Licence, &QLineEdit::textChanged, this, [this] { Guarded([this] { Edit_LicenceChange(); }); });
  connect(Combo_Path, &TFolderComboBox::PathChanged, this,
          [this] { Guarded([this] { Combo_PathPropertiesChange(); }); });
  connect(Btn_No, &QPushButton::clicked, this, [this] { Guarded([this] { Btn_NoClick(); }); });
  connect(Btn_Ok, &QPushButton::clicked, this, [this] { Guarded([this] { Btn_OkClick(); }); });

  procedure_->ChosenPath = [this] { return Combo_Path->Path(); };
  procedure_->Progress = [this](int percent) { PBar->SetPercent(percent); };
  procedure_->DisableButtons = [this] {
    started_ = true;
    Btn_Ok->setEnabled(false);
    Btn_No->setEnabled(false);
  };
  procedure_->ContinueWithProfile = [this] { WriteCompanyProfile(); };
  OnTerminate = [] { QCoreApplication::exit(0); };
  ShowCompletion = [] {
    if (Form_End) Form_End->exec();
  };

  // The configuration tables as they stand before any installation: in the default session,
  // named after the database file (the company table without a name), each handing the table
  // password to the engine just before it opens.
  config_tbl_->SetName("Config_tbl");
  config_tbl_->SetSessionName("Default");
  config_tbl_->SetDatabaseName("scg.zqc");
  config_tbl_->BeforeOpen = [this](TDataSet& sender) { Config_tblBeforeOpen(sender); };
  settings_tbl_->SetName("Settings_tbl");
  settings_tbl_->SetSessionName("Default");
  settings_tbl_->SetDatabaseName("scg.zqc");
  settings_tbl_->BeforeOpen = [this](TDataSet& sender) { Settings_tblBeforeOpen(sender); };
  societe_tbl_->SetName("Societe_tbl");
  societe_tbl_->SetSessionName("Default");
  societe_tbl_->BeforeOpen = [this](TDataSet& sender) { Societe_tblBeforeOpen(sender); };
}

TForm_Install::~TForm_Install() {
  if (Form_Install == this) Form_Install = nullptr;
}

void TForm_Install::BuildHeader() {
  auto* banner = new QLabel(this);
  banner->setObjectName("Banner");
  banner->setPixmap(DrawBanner(QSize(785, 197)));
  banner->setScaledContents(true);
  banner->setGeometry(0, -112, 785, 197);

  auto white = [](QLabel* label) {
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, Qt::white);
    label->setPalette(p);
    return label;
  };
  white(MakeLabel(this,
                  QStringLiteral("Bienvenue dans QUORVANT Software Installer 2.0") + QString(8, ' ') +
                      QString::fromUtf8(maker::kNotice),
                  QRect(8, 4, 700, 14)))
      ->setObjectName("Label_Welcome");
  white(MakeBold(this, QStringLiteral("QUORVANT"), QRect(16, 22, 120, 14)))->setObjectName("Label_Maker");
  Label_Prd_Name = white(MakeLabel(this, QStringLiteral("Briskal"), QRect(14, 36, 140, 38)));
  Label_Prd_Name->setObjectName("Label_Prd_Name");
  QFont product(QStringLiteral("Arial Rounded MT Bold"));
  product.setPixelSize(29);
  product.setBold(true);
  Label_Prd_Name->setFont(product);
  white(MakeLabel(this, QStringLiteral("Version"), QRect(160, 44, 44, 14)))->setObjectName("Label_Version");
  Label_Prd_Ver = white(MakeBold(this, QStringLiteral("5.2"), QRect(206, 44, 40, 14)));
  Label_Prd_Ver->setObjectName("Label_Prd_Ver");
  white(MakeLabel(this, QStringLiteral("Build 5 / 15-01-2013"), QRect(160, 60, 160, 14)))->setObjectName("Label_Build");
  auto* logo = new QLabel(this);
  logo->setObjectName("Image_Logo");
  logo->setPixmap(DrawLogo(64));
  logo->setGeometry(708, 12, 64, 64);

  Marquee = new TMarqueeLabel(this);
  Marquee->setObjectName("Marquee");
  Marquee->SetText(QStringLiteral(
      "Logiciel de gestion commerciale pour Boutiques, Magasins, Superetes ... Option vente au "
      "comptoir avec lecteur de Code Barre."));
  Marquee->SetScrollDelay(20);
  Marquee->setGeometry(0, 86, 784, 16);
}

void TForm_Install::BuildLeftGroup() {
  auto* group = new QGroupBox(this);
  group->setObjectName("Group_Info");
  group->setGeometry(4, 104, 256, 346);
  QLabel* description = MakeLabel(
      group,
      QStringLiteral(
          "Cette application est développée par QUORVANT, service de developpement logiciels de gestion.\n"
          "Cette application aide à la gestion commerciale en ventes, achats, stocks, fiches et historiques\n"
          "clients et fournisseurs, règlements, caisse et mouvements caissières, statistiques et récapitulatifs.\n"
          "Domaines d'utilisation de cette application : \n"
          " :: Boutiques, Magasins, Superettes .\n"
          " :: Importation, Vente en gros, Vente en détails .\n"
          " :: Commerce (Achat / Vente) .\n"
          " :: Commerce libre (avec option : Vente au Comptoir) ."),
      QRect(8, 10, 242, 224));
  description->setObjectName("Label_Description");
  description->setWordWrap(true);
  description->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  // Two columns of values: the addresses after the short labels, the phone numbers after the
  // long ones, so the e-mail address has the room it needs.
  const int x = 8;
  const int right = 250;
  int y = 238;
  auto contact = [&](const QString& label, int vx, const std::function<QLabel*(const QRect&)>& value) {
    MakeLabel(group, label, QRect(x, y, vx - 4 - x, 15));
    value(QRect(vx, y, right - vx, 15));
    y += 16;
  };
  const int address_x = 90;
  const int phone_x = 138;
  contact(QStringLiteral("Developpeur :"), address_x,
          [&](const QRect& r) { return MakeBold(group, QStringLiteral("QUORVANT"), r); });
  contact(QStringLiteral("E-Mail :"), address_x, [&](const QRect& r) {
    QLabel* link = MakeLink(group, QStringLiteral("mailto:") + QString::fromUtf8(maker::kEmail),
                            QString::fromUtf8(maker::kEmail), r);
    link->setObjectName("Link_Email");
    return link;
  });
  contact(QStringLiteral("Site web :"), address_x, [&](const QRect& r) {
    QLabel* link = MakeLink(group, QString::fromUtf8(maker::kWebAddress),
                            QString::fromUtf8(maker::kWebAddress).mid(7), r);
    link->setObjectName("Link_Web");
    return link;
  });
  contact(QStringLiteral("Service Commerciale :"), phone_x,
          [&](const QRect& r) { return MakeLabel(group, QString::fromUtf8(maker::kSalesPhone), r); });
  contact(QStringLiteral("Service Partenaires :"), phone_x,
          [&](const QRect& r) { return MakeLabel(group, QString::fromUtf8(maker::kPartnersPhone), r); });
  auto* picture = new QLabel(group);
  picture->setPixmap(DrawContactPicture(24));
  picture->setGeometry(226, 318, 24, 24);
}

void TForm_Install::BuildRightGroup() {
  auto* group = new QGroupBox(this);
  // Wide enough for the company name box, 430 pixels, to start in line with the boxes below it.
  group->setObjectName("Group_Input");
  group->setGeometry(264, 104, 516, 346);
  QLabel* instructions = MakeLabel(
      group,
      QStringLiteral(
          "Cet assistant vous aide à installer l'application sur votre PC. Veuillez SVP faire suivre les "
          "étapes nécessaires pour une installation complète.\n"
          "1- Remplir les champs par les informations correctes.\n"
          "2- Choisir le chemin d'installation.\n"
          "3- Cliquer sur [Installer] puis choisir [Oui] pour terminer l'installation."),
      QRect(8, 10, 500, 68));
  instructions->setObjectName("Label_Instructions");
  instructions->setWordWrap(true);
  instructions->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  QFont edit_font(QStringLiteral("Tahoma"));
  edit_font.setPixelSize(12);
  auto edit = [&](const char* name, const QString& label, const QString& hint, int max_length,
                  const QRect& label_box, const QRect& box) {
    auto* e = new TEnterEdit(group);
    e->setObjectName(name);
    e->setFont(edit_font);
    e->setToolTip(hint);
    e->SetMaxLength(max_length);
    e->setGeometry(box);
    QLabel* l = MakeLabel(group, label, label_box);
    l->setBuddy(e);
    return e;
  };
  const int h = 20;
  auto row = [](int i) { return 80 + i * 22; };
  auto full_label = [&](int i) { return QRect(6, row(i) + 3, 73, 15); };
  auto full_box = [&](int i) { return QRect(80, row(i), 430, h); };
  auto left_label = [&](int i) { return QRect(6, row(i) + 3, 73, 15); };
  auto left_box = [&](int i) { return QRect(80, row(i), 150, h); };
  auto right_label = [&](int i) { return QRect(268, row(i) + 3, 80, 15); };
  auto right_box = [&](int i) { return QRect(350, row(i), 160, h); };

  Edit_Societe = edit("Edit_Societe", QStringLiteral("Société"),
                      QStringLiteral("Dénomination : Raison sociale ou Nom du propriétaire"), 50,
                      full_label(0), full_box(0));
  Edit_Activite = edit("Edit_Activite", QStringLiteral("Activité"), QStringLiteral("Activité : L'activité commerciale"),
                       100, full_label(1), full_box(1));
  Edit_Adresse = edit("Edit_Adresse", QStringLiteral("Adresse"), QStringLiteral("Adresse : Adresse de l'activité"), 80,
                      full_label(2), full_box(2));
  Edit_Tel = edit("Edit_Tel", QStringLiteral("Tél."), QStringLiteral("Numéro de Téléphone"), 30, left_label(3),
                  left_box(3));
  Edit_Fax = edit("Edit_Fax", QStringLiteral("Fax"), QStringLiteral("Numéro de Fax"), 30, right_label(3), right_box(3));
  Edit_Email = edit("Edit_Email", QStringLiteral("E-Mail"), QStringLiteral("Votre E-Mail professionnel (Facultatif)"),
                    60, left_label(4), left_box(4));
  Edit_URL = edit("Edit_URL", QStringLiteral("Site Web"), QStringLiteral("Adresse de votre Site Web (Facultatif)"), 60,
                  right_label(4), right_box(4));
  Edit_CBank = edit("Edit_CBank", QStringLiteral("C.Bancaire"),
                    QStringLiteral("Votre Compte Bancaire : Numéro & Banque (Facultatif)"), 60, full_label(5),
                    full_box(5));
  Edit_RC = edit("Edit_RC", QStringLiteral("R.Commerce"), QStringLiteral("Le numéro de votre Registre de Commerce"), 20,
                 left_label(6), left_box(6));
  Edit_MF = edit("Edit_MF", QStringLiteral("Mat. Fiscal"), QStringLiteral("Le numéro de votre Matricule Fiscal"), 15,
                 right_label(6), right_box(6));
  Edit_AI = edit("Edit_AI", QStringLiteral("Articel Impos"), QStringLiteral("Le numéro de votre Article d'Imposition"),
                 11, left_label(7), left_box(7));
  Edit_NIF = edit("Edit_NIF", QStringLiteral("NIF"), QStringLiteral("Le numéro de votre Identité Fiscale"), 15,
                  right_label(7), right_box(7));
  Edit_NIS = edit("Edit_NIS", QStringLiteral("NIS"), QStringLiteral("NIS"), 15, left_label(8), left_box(8));

  Edit_CapitalS = new TNumericEdit(group);
  Edit_CapitalS->setObjectName("Edit_CapitalS");
  Edit_CapitalS->setFont(edit_font);
  Edit_CapitalS->setToolTip(QStringLiteral("Votre Capital Social"));
  Edit_CapitalS->SetDisplayFormat(QStringLiteral(",0;(,0)"));
  Edit_CapitalS->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  Edit_CapitalS->setGeometry(right_box(8));
  MakeLabel(group, QStringLiteral("Capital Soc."), right_label(8))->setBuddy(Edit_CapitalS);

  Edit_Licence = edit("Edit_Licence", QStringLiteral("Licence à"),
                      QStringLiteral("Nom du propriétaire dont la licence est accordée"), 50, full_label(9),
                      full_box(9));

  Combo_Path = new TFolderComboBox(group);
  Combo_Path->setObjectName("Combo_Path");
  Combo_Path->setFont(edit_font);
  Combo_Path->setToolTip(
      QStringLiteral("Recommander de choisir la PARTITION dont vous voulez installer votre application"));
  Combo_Path->setGeometry(138, row(10), 372, 22);
  MakeLabel(group, QStringLiteral("Chemin d'installation : "), QRect(6, row(10) + 4, 130, 15))->setBuddy(Combo_Path);

  PBar = new TGradientProgressBar(group);
  PBar->setObjectName("PBar");
  PBar->setGeometry(6, 326, 504, 14);
  PBar->SetPercent(0);
}

void TForm_Install::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!event->spontaneous()) Guarded([this] { FormShow(); });
}

void TForm_Install::closeEvent(QCloseEvent* event) {
  // No close query: the caption's close button ends the program at once, in every state.
  event->accept();
  if (OnTerminate) OnTerminate();
}

void TForm_Install::FormShow() {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen) move(CentredPosition(screen->size(), 400, 250));
  Edit_Societe->setFocus(Qt::OtherFocusReason);
}

void TForm_Install::EnablingRule() {
  // Once an installation has started the buttons stay disabled: typing after a failed run must
  // not offer a second run over a half-done one.
  if (started_) return;
  // Stops at the first empty text; spaces count as text. The path is only checked at the click.
  bool filled = !Edit_Societe->text().isEmpty() && !Edit_Activite->text().isEmpty() &&
                !Edit_Licence->text().isEmpty() && !Combo_Path->Text().isEmpty();
  Btn_Ok->setEnabled(filled);
}

void TForm_Install::Edit_SocieteChange() { EnablingRule(); }
void TForm_Install::Edit_ActiviteChange() { EnablingRule(); }
void TForm_Install::Edit_LicenceChange() { EnablingRule(); }
void TForm_Install::Combo_PathPropertiesChange() { EnablingRule(); }

void TForm_Install::Btn_NoClick() {
  int answer = MessageBoxes().MessageBox(
      QStringLiteral("êtes vous sur de vouloir annuler l'installation de l'application ?"),
      QStringLiteral("Confirmation"), kMbOkCancel | kMbIconWarning);
  if (answer == kIdOk) close();
}

void TForm_Install::Btn_OkClick() { procedure_->Run(); }

void TForm_Install::Config_tblBeforeOpen(TDataSet& /*sender*/) { Config_tbl().SetPassword(install::kTablePassword); }
void TForm_Install::Settings_tblBeforeOpen(TDataSet& /*sender*/) {
  Settings_tbl().SetPassword(install::kTablePassword);
}
void TForm_Install::Societe_tblBeforeOpen(TDataSet& /*sender*/) {
  Societe_tbl().SetPassword(install::kTablePassword);
}

void TForm_Install::WriteCompanyProfile() {
  using namespace install;
  // The chosen folder is read again at each use; paths are plain concatenations (a root folder
  // gives a doubled separator). The database is opened by its name on this host's file system;
  // the texts stored in it are code page 1252.
  auto p = [this] { return Combo_Path->Path(); };
  TDbTable* tables[] = {config_tbl_.get(), settings_tbl_.get(), societe_tbl_.get()};
  // 1.-2. Setting the database clears the table name, hence the names after it.
  for (TDbTable* t : tables) t->SetDatabaseName(QFile::encodeName(p() + QString::fromUtf8(kConfigDatabase)).toStdString());
  config_tbl_->SetTableName("Config");
  settings_tbl_->SetTableName("Settings");
  societe_tbl_->SetTableName("Societe");
  // 3.-4. One database object for the three; each table edits its first record (an empty table
  // gets a new one).
  for (TDbTable* t : tables) t->Open();
  for (TDbTable* t : tables) t->Edit();
  auto set = [](TDbTable& t, const char* field, const QString& text) {
    t.SetFieldValues(field, Variant(ToAnsi(text)));
  };
  // 5.
  set(*config_tbl_, "Exercice", QString::number(procedure_->Year()));
  set(*config_tbl_, "App_Path", p() + QString::fromUtf8(kProductFolder));
  set(*config_tbl_, "Prn_PdfPath", p() + QString::fromUtf8(kExportFolder));
  set(*config_tbl_, "Save_Path", p() + QString::fromUtf8(kBackUpFolder));
  set(*config_tbl_, "Licenced_To", Edit_Licence->text());
  PBar->SetPercent(65);
  // 6. The capital as the control shows it without the focus: grouped by its display format.
  set(*societe_tbl_, "Societe", Edit_Societe->text());
  set(*societe_tbl_, "Activite", Edit_Activite->text());
  set(*societe_tbl_, "Adresse", Edit_Adresse->text());
  set(*societe_tbl_, "Tel", Edit_Tel->text());
  set(*societe_tbl_, "Fax", Edit_Fax->text());
  set(*societe_tbl_, "Email", Edit_Email->text());
  set(*societe_tbl_, "URL", Edit_URL->text());
  set(*societe_tbl_, "CBank", Edit_CBank->text());
  set(*societe_tbl_, "RC", Edit_RC->text());
  set(*societe_tbl_, "MF", Edit_MF->text());
  set(*societe_tbl_, "AI", Edit_AI->text());
  set(*societe_tbl_, "NIF", Edit_NIF->text());
  set(*societe_tbl_, "NIS", Edit_NIS->text());
  // Started from the keyboard (Alt+I) the focus may still be in the capital box, which takes
  // the typed number only when it loses the focus: let it, so the value written is the one typed.
  if (Edit_CapitalS->hasFocus()) Edit_CapitalS->clearFocus();
  set(*societe_tbl_, "CapitalS", Edit_CapitalS->DisplayText());
  PBar->SetPercent(70);
  PBar->SetPercent(75);
  // 7.-8. Each post writes its record to the file; the last close frees the database object.
  for (TDbTable* t : tables) t->Post();
  for (TDbTable* t : tables) t->Close();
  // 9.-11.
  PBar->SetPercent(80);
  PBar->SetPercent(100);
  Btn_Ok->hide();
  if (ShowCompletion) ShowCompletion();
}

}  // namespace zq
