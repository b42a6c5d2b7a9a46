// Whole installations of the demo package (made by scripts/make-demo-package with the project's
// database and package tools), driven through the window's install button up to the completion
// window, and the configuration database read back through the engine.
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QLocale>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <map>
#include <memory>

#include "app/install_procedure.h"
#include "dbengine/storage/db_creator.h"
#include "dbengine/format/db_error.h"
#include "dbengine/dataset/db_table.h"
#include "dbengine/dataset/field.h"
#include "dbengine/format/field_type.h"
#include "platform/exception.h"
#include "tests/app/install_run_fixture.h"
#include "tests/support/run_program.h"
#include "ui/enter_edit.h"
#include "ui/folder_combo_box.h"
#include "ui/gradient_progress_bar.h"
#include "ui/numeric_edit.h"
#include "ui/text_codec.h"

namespace zq::testing {
namespace {

const char kPlaceholder[] =
    "Briskal SE 5.2 - demo placeholder for the product's program.\n"
    "The installer copies it and points the three shortcuts at it.\n";
const char kShortcutName[] = "/Briskal SE 5.2 Logiciel de Gestion.lnk";

// One record of a table as texts by field name, with the table's record count.
struct TableRecord {
  int count = -1;
  std::map<std::string, std::string> fields;
};

TableRecord ReadFirstRecord(const QString& database, const std::string& table, const std::string& password) {
  TDbTable t;
  t.SetDatabaseName(QFile::encodeName(database).toStdString());
  t.SetTableName(table);
  t.BeforeOpen = [&](TDataSet&) { t.SetPassword(password); };
  t.Open();
  TableRecord record;
  record.count = t.RecordCount();
  t.First();
  for (int i = 0; i < t.Fields().Count(); ++i) record.fields[t.Fields()[i].FieldName()] = t.Fields()[i].AsString();
  t.Close();
  return record;
}

class ProfileRun : public InstallRunFixture {
 protected:
  // The packages are made once for the suite: one as shipped, one whose configuration database
  // has another password.
  static void SetUpTestSuite() { packages_ = std::make_unique<QTemporaryDir>(); }
  static void TearDownTestSuite() { packages_.reset(); }

  static QString Package(const QString& table_password) {
    QString dir = packages_->path() + "/" + table_password;
    QString package = dir + "/" + install::kPackageName;
    if (QFileInfo::exists(package)) return package;
    testing_support::ProgramResult made = testing_support::RunProgram(
        "bash", {testing_support::SourceFile("scripts/make-demo-package"), QFile::encodeName(dir).toStdString()},
        {.env = {{"ZQ_BUILD_DIR", ZQ_TEST_BINARY_DIR}, {"ZQ_DEMO_TABLE_PASSWORD", table_password.toStdString()}},
         .limit = std::chrono::minutes(5)});
    if (made.status != 0) {
      ADD_FAILURE() << "make-demo-package: " << made.err;
      return {};
    }
    return package;
  }

  void WireForm() override {
    InstallRunFixture::WireForm();
    // The completion window is recorded, not run, unless a test asks for the real one.
    form->ShowCompletion = [this] {
      ++completions;
      ok_hidden_at_completion = form->Btn_Ok->isHidden();
      percent_at_completion = form->PBar->Percent();
    };
  }

  // The program started again: a new installation window (and completion window).
  void RestartProgram() {
    form->Config_tbl().Close();
    form->Settings_tbl().Close();
    form->Societe_tbl().Close();
    delete form;
    FormFixture::SetUp();
    WireForm();
    boxes.asked.clear();
    completions = 0;
  }

  void TearDown() override {
    // A failed run leaves its tables open, as the program would; the next test starts afresh.
    form->Config_tbl().Close();
    form->Settings_tbl().Close();
    form->Societe_tbl().Close();
    FormFixture::TearDown();
  }

  void CopyPackage(const QString& table_password = "tarvu") {
    QString package = Package(table_password);
    ASSERT_FALSE(package.isEmpty());
    QFile::remove(cwd + "/" + install::kPackageName);
    ASSERT_TRUE(QFile::copy(package, cwd + "/" + install::kPackageName));
  }

  void FillProfile() {
    form->Edit_Societe->setText(QString::fromUtf8("Société Générale d'Exemple"));
    form->Edit_Activite->setText(QString::fromUtf8("Commerce de gros et de détail"));
    form->Edit_Adresse->setText(QString::fromUtf8("12, rue de l'Église"));
    form->Edit_Tel->setText("+00 555 0199 01");
    form->Edit_Fax->setText("");  // optional, left empty
    form->Edit_Email->setText("gestion@exemple.example");
    form->Edit_URL->setText("");
    form->Edit_CBank->setText("000 111 222 Banque Exemple");
    form->Edit_RC->setText("RC 0000000 B 13");
    form->Edit_MF->setText("MF-42");
    form->Edit_AI->setText("AI 7");
    form->Edit_NIF->setText("");
    form->Edit_NIS->setText("NIS 99");
    form->Edit_CapitalS->SetValue(1500000);
    form->Edit_Licence->setText("M. Karim Exemple");
    form->Combo_Path->SetPath(target);
  }

  // The year is read during the run: both sides of a New Year's midnight are accepted.
  std::vector<int> RunInstall() {
    years_.first = QDate::currentDate().year();
    std::vector<int> progress = InstallRunFixture::RunInstall();
    years_.second = QDate::currentDate().year();
    return progress;
  }
  // The year the run used: the one whose fiscal database it made.
  int RunYear() const { return QFileInfo::exists(Fiscal(years_.second)) ? years_.second : years_.first; }
  QString Fiscal(int year) const { return Product() + "/Ex_Data/DBEx_" + QString::number(year) + ".FDB"; }
  QString Database() const { return Product() + "/scg.zqc"; }

  static std::unique_ptr<QTemporaryDir> packages_;
  std::pair<int, int> years_;
  int completions = 0;
  bool ok_hidden_at_completion = false;
  int percent_at_completion = -1;
};

std::unique_ptr<QTemporaryDir> ProfileRun::packages_;

const std::vector<int> kAllSteps{10, 20, 23, 26, 29, 32, 33, 36, 40, 60, 65, 70, 75, 80, 100};

TEST_F(ProfileRun, WholeInstallationWritesTheProfileAndShowsTheCompletionWindow) {
  CopyPackage();
  FillProfile();
  form->show();
  form->Btn_Ok->setFocus();
  // The real completion window, modal; the user closes it, which closes the installation window.
  bool end_visible = false;
  bool end_modal = false;
  form->ShowCompletion = [this] {
    ++completions;
    ok_hidden_at_completion = form->Btn_Ok->isHidden();
    percent_at_completion = form->PBar->Percent();
    Form_End->exec();
  };
  QTimer::singleShot(0, end, [&] {
    end_visible = end->isVisible();
    end_modal = end->isModal();
    end->close();
  });
  std::vector<int> progress = RunInstall();
  const int year = RunYear();

  ASSERT_EQ(boxes.asked.size(), 1u) << boxes.AskedTexts();  // only the confirmation
  EXPECT_EQ(progress, kAllSteps);
  EXPECT_EQ(completions, 1);
  EXPECT_TRUE(ok_hidden_at_completion);
  EXPECT_EQ(percent_at_completion, 100);
  EXPECT_TRUE(end_visible);
  EXPECT_TRUE(end_modal);
  EXPECT_EQ(terminated, 1);  // closing the completion window ends the program
  EXPECT_TRUE(form->Btn_Ok->isHidden());
  EXPECT_FALSE(form->Btn_No->isEnabled());
  EXPECT_FALSE(form->Config_tbl().Active());
  EXPECT_FALSE(form->Settings_tbl().Active());
  EXPECT_FALSE(form->Societe_tbl().Active());

  // Every file of the package, the template renamed to this year.
  EXPECT_EQ(ReadAll(Product() + "/Briskal.EXE"), QByteArray(kPlaceholder));
  EXPECT_FALSE(QFileInfo::exists(Product() + "/Ex_Data/DBEx_20xx.FDB"));
  QString fiscal = Fiscal(year);
  ASSERT_TRUE(QFileInfo(fiscal).isFile());
  EXPECT_EQ(ReadFirstRecord(fiscal, "Ventes", "").count, 0);  // an engine database, empty
  EXPECT_TRUE(QFileInfo(Product() + "/Files_Export").isDir());
  EXPECT_TRUE(QFileInfo(Product() + "/BackUp").isDir());
  EXPECT_EQ(QDir(Product()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
            (QStringList{"BackUp", "Briskal.EXE", "Ex_Data", "Files_Export", "scg.zqc"}));

  // The three shortcuts point at the program and start in the product folder.
  for (QString link : {root.path() + "/Desktop" + kShortcutName, root.path() + "/programs" + kShortcutName,
                       root.path() + "/common/QUORVANT" + kShortcutName}) {
    auto [link_target, working_dir] = ReadShortcut(link);
    EXPECT_EQ(link_target, ToAnsi(Product() + "/Briskal.EXE")) << link.toStdString();
    EXPECT_EQ(working_dir, U16(Product() + "/")) << link.toStdString();
  }

  // The database read back: the same single record of each table, the written fields as typed,
  // the others as the template had them.
  TableRecord config = ReadFirstRecord(Database(), "Config", "tarvu");
  EXPECT_EQ(config.count, 1);
  EXPECT_EQ(config.fields["Exercice"], std::to_string(year));
  EXPECT_EQ(config.fields["App_Path"], ToAnsi(target) + "/QUORVANT/Briskal_SE");
  EXPECT_EQ(config.fields["Prn_PdfPath"], ToAnsi(target) + "/QUORVANT/Briskal_SE/Files_Export");
  EXPECT_EQ(config.fields["Save_Path"], ToAnsi(target) + "/QUORVANT/Briskal_SE/BackUp");
  EXPECT_EQ(config.fields["Licenced_To"], "M. Karim Exemple");
  EXPECT_EQ(config.fields["Devise"], "DA");
  EXPECT_EQ(config.fields["Decimales"], "2");

  TableRecord societe = ReadFirstRecord(Database(), "Societe", "tarvu");
  EXPECT_EQ(societe.count, 1);
  const std::map<std::string, std::string> expected{
      {"Societe", "Soci\xE9t\xE9 G\xE9n\xE9rale d'Exemple"},
      {"Activite", "Commerce de gros et de d\xE9tail"},
      {"Adresse", "12, rue de l'\xC9glise"},
      {"Tel", "+00 555 0199 01"},
      {"Fax", ""},
      {"Email", "gestion@exemple.example"},
      {"URL", ""},
      {"CBank", "000 111 222 Banque Exemple"},
      {"RC", "RC 0000000 B 13"},
      {"MF", "MF-42"},
      {"AI", "AI 7"},
      {"NIF", ""},
      {"NIS", "NIS 99"},
      {"CapitalS", "1,500,000"},
      {"Ville", ""},
      {"Pays", ""}};
  for (const auto& [field, value] : expected) EXPECT_EQ(societe.fields[field], value) << field;

  TableRecord settings = ReadFirstRecord(Database(), "Settings", "tarvu");
  EXPECT_EQ(settings.count, 1);
  EXPECT_EQ(settings.fields["Theme"], "Standard");
  EXPECT_EQ(settings.fields["Ticket_Largeur"], "80");
}

TEST_F(ProfileRun, AccentedFolderLocaleGroupingAndBestFitTexts) {
  CopyPackage();
  FillProfile();
  target = root.path() + QString::fromUtf8("/Société Générale");
  ASSERT_TRUE(QDir().mkpath(target));
  form->Combo_Path->SetPath(target);
  // French grouping uses a narrow no-break space, which code page 1252 holds as 0xA0; the euro
  // sign and the oe ligature have their own 1252 bytes; a non-breaking hyphen best-fits to '-'.
  form->Edit_CapitalS->SetFormatLocale(QLocale(QLocale::French, QLocale::France));
  form->Edit_CapitalS->SetValue(1500000);
  form->Edit_Activite->setText(QString::fromUtf8("Œuvres d’art – 5 €"));
  form->Edit_Tel->setText(QString::fromUtf8("05\u201155"));
  form->Procedure().CurrentYear = [] { return 2031; };
  EXPECT_EQ(RunInstall(), kAllSteps);
  ASSERT_EQ(boxes.asked.size(), 1u) << boxes.AskedTexts();
  EXPECT_EQ(completions, 1);

  TableRecord config = ReadFirstRecord(Database(), "Config", "tarvu");
  EXPECT_EQ(config.fields["Exercice"], "2031");
  EXPECT_EQ(config.fields["App_Path"], ToAnsi(root.path()) + "/Soci\xE9t\xE9 G\xE9n\xE9rale/QUORVANT/Briskal_SE");
  TableRecord societe = ReadFirstRecord(Database(), "Societe", "tarvu");
  EXPECT_EQ(societe.fields["CapitalS"], "1\xA0" "500\xA0" "000");
  EXPECT_EQ(societe.fields["Activite"], "\x8Cuvres d\x92" "art \x96 5 \x80");
  EXPECT_EQ(societe.fields["Tel"], "05-55");
  EXPECT_TRUE(QFileInfo::exists(Product() + "/Ex_Data/DBEx_2031.FDB"));
}

TEST_F(ProfileRun, WrongTablePasswordShowsTheEngineMessageAndStops) {
  CopyPackage("autre");
  FillProfile();
  std::vector<int> progress = RunInstall();
  ASSERT_EQ(boxes.asked.size(), 2u);
  EXPECT_EQ(boxes.asked[1].text, "Access denied");
  EXPECT_EQ(boxes.asked[1].flags, static_cast<unsigned>(kMbOk | kMbIconError));
  // The progress bar keeps its last value, the buttons stay disabled, no completion window.
  EXPECT_EQ(progress, (std::vector<int>{10, 20, 23, 26, 29, 32, 33, 36, 40, 60}));
  EXPECT_EQ(form->PBar->Percent(), 60);
  EXPECT_FALSE(form->Btn_Ok->isEnabled());
  EXPECT_FALSE(form->Btn_No->isEnabled());
  EXPECT_FALSE(form->Btn_Ok->isHidden());
  EXPECT_EQ(completions, 0);
  EXPECT_FALSE(end->isVisible());
  EXPECT_FALSE(form->Config_tbl().Active());
  // Typing does not offer a second run over the half-done one.
  form->Edit_Societe->setText("Autre");
  EXPECT_FALSE(form->Btn_Ok->isEnabled());
  // Nothing undone: files, fiscal database and shortcuts stay; the database is as shipped.
  EXPECT_EQ(ReadAll(Product() + "/Briskal.EXE"), QByteArray(kPlaceholder));
  EXPECT_TRUE(QFileInfo::exists(Fiscal(RunYear())));
  EXPECT_TRUE(QFileInfo::exists(root.path() + "/Desktop" + kShortcutName));
  TableRecord config = ReadFirstRecord(Database(), "Config", "autre");
  EXPECT_EQ(config.fields["Exercice"], "20xx");
  EXPECT_EQ(config.fields["Licenced_To"], "");
  EXPECT_THROW(ReadFirstRecord(Database(), "Config", "tarvu"), EDatabaseError);
}

// A configuration database of another shape, put in place of the package's one right after the
// extraction: the engine's errors end the run where they happen.
TDbSchema OtherConfiguration(bool with_company_table, uint8_t licence_type) {
  auto text = [](const char* name, int size) { return TDbSchemaField{name, ftString, size}; };
  TDbSchema schema;
  schema.EncryptAlgorithm = "Blowfish";
  schema.EncryptMode = 1;
  schema.Password = "tarvu";
  TDbSchemaTable config{"Config",
                        {text("Exercice", 10), text("App_Path", 255), text("Prn_PdfPath", 255),
                         text("Save_Path", 255), TDbSchemaField{"Licenced_To", licence_type, 0}},
                        {},
                        {}};
  config.Records.push_back({{{"Exercice", Variant("20xx")}, {"App_Path", Variant("")},
                             {"Prn_PdfPath", Variant("")}, {"Save_Path", Variant("")},
                             {"Licenced_To", licence_type == ftString ? Variant("") : Variant(int32_t{0})}}});
  if (licence_type == ftString) config.Fields.back().Size = 50;
  schema.Tables.push_back(config);
  schema.Tables.push_back(TDbSchemaTable{"Settings", {text("Theme", 30)}, {}, {{{{"Theme", Variant("Standard")}}}}});
  if (with_company_table) schema.Tables.push_back(TDbSchemaTable{"Societe", {text("Societe", 50)}, {}, {}});
  return schema;
}

TEST_F(ProfileRun, EngineErrorsEndTheRunAndLeaveOpenedTablesAsTheyAre) {
  struct Case {
    TDbSchema schema;
    const char* message;
    int last_percent;
    TDataSetState config_state;
  };
  const Case cases[] = {
      {OtherConfiguration(false, ftString), "Table 'Societe' not found", 60, TDataSetState::dsBrowse},
      {OtherConfiguration(true, ftInteger),
       "'M. Karim Exemple' is not a valid integer value for field 'Licenced_To'", 60, TDataSetState::dsEdit},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    RestartProgram();
    QDir(target).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(target));
    CopyPackage();
    FillProfile();
    form->Procedure().ContinueWithProfile = [this, &c] {
      ASSERT_TRUE(QFile::remove(Database()));
      TDbCreator::CreateFile(QFile::encodeName(Database()).toStdString(), c.schema);
      form->WriteCompanyProfile();
    };
    RunInstall();
    ASSERT_EQ(boxes.asked.size(), 2u);
    EXPECT_EQ(boxes.asked[1].text, c.message);
    EXPECT_EQ(form->PBar->Percent(), c.last_percent);
    EXPECT_EQ(completions, 0);
    EXPECT_FALSE(form->Btn_Ok->isHidden());
    EXPECT_FALSE(form->Btn_Ok->isEnabled());
    EXPECT_EQ(form->Config_tbl().State(), c.config_state);
    EXPECT_EQ(form->Settings_tbl().State(), c.config_state);
    // Nothing posted: the database keeps its template record.
    form->Config_tbl().Close();
    form->Settings_tbl().Close();
    form->Societe_tbl().Close();
    TableRecord config = ReadFirstRecord(Database(), "Config", "tarvu");
    EXPECT_EQ(config.fields["Exercice"], "20xx");
  }
}

TEST_F(ProfileRun, RootFolderGivesTheDoubledSeparator) {
  // Installing into the real root is out of a test's reach; the database path the write-back
  // builds for it shows in the engine's message (there is no such database).
  if (QFileInfo::exists("/QUORVANT")) GTEST_SKIP() << "/QUORVANT exists on this machine";
  form->Combo_Path->SetPath("/");
  ASSERT_EQ(form->Combo_Path->Path(), "/");
  try {
    form->WriteCompanyProfile();
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_NE(e.Message().find(" //QUORVANT/Briskal_SE/scg.zqc"), std::string::npos) << e.Message();
  }
  EXPECT_FALSE(QFileInfo::exists("/QUORVANT"));
  EXPECT_EQ(completions, 0);
}

TEST_F(ProfileRun, ChecksThatStopTheRunNeverReachTheDatabase) {
  CopyPackage();
  FillProfile();
  // Missing folder.
  form->Combo_Path->SetPath(target + "/removed");
  RunInstall();
  // Cancel at the confirmation.
  form->Combo_Path->SetPath(target);
  boxes.answers = {kIdCancel};
  form->Btn_Ok->click();
  // Missing package (reported after the confirmation).
  QFile::remove(cwd + "/" + install::kPackageName);
  boxes.answers = {kIdOk, kIdOk};
  form->Btn_Ok->click();
  ASSERT_EQ(boxes.asked.size(), 4u);
  EXPECT_EQ(boxes.asked[0].text, install::PathMissingText());
  EXPECT_EQ(boxes.asked[1].text, install::ConfirmText());
  EXPECT_EQ(boxes.asked[3].text, install::PackageMissingText());
  EXPECT_EQ(completions, 0);
  EXPECT_EQ(form->PBar->Percent(), 0);
  EXPECT_TRUE(form->Btn_Ok->isEnabled());
  EXPECT_FALSE(form->Btn_Ok->isHidden());
  EXPECT_FALSE(form->Config_tbl().Active());
  EXPECT_TRUE(QDir(target).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

TEST_F(ProfileRun, SecondInstallationOverTheFirst) {
  CopyPackage();
  FillProfile();
  form->Procedure().CurrentYear = [] { return 2030; };
  ASSERT_EQ(RunInstall(), kAllSteps);
  ASSERT_EQ(completions, 1);
  // The year's database is in use: a marker shows whether the second run leaves it alone.
  QString fiscal = Product() + "/Ex_Data/DBEx_2030.FDB";
  QByteArray first_fiscal = ReadAll(fiscal);
  ASSERT_FALSE(first_fiscal.isEmpty());
  // The installed files made read-only, as a user or a backup tool may leave them.
  for (QString file : {Product() + "/Briskal.EXE", Database()})
    ASSERT_TRUE(QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));

  RestartProgram();
  FillProfile();
  form->Edit_Societe->setText("Seconde Installation");
  form->Edit_Email->setText("");
  form->Procedure().CurrentYear = [] { return 2030; };
  EXPECT_EQ(RunInstall(), kAllSteps);
  ASSERT_EQ(boxes.asked.size(), 1u) << boxes.AskedTexts();
  EXPECT_EQ(completions, 1);
  // The template stays beside the kept year database.
  EXPECT_TRUE(QFileInfo::exists(Product() + "/Ex_Data/DBEx_20xx.FDB"));
  EXPECT_EQ(ReadAll(fiscal), first_fiscal);
  TableRecord societe = ReadFirstRecord(Database(), "Societe", "tarvu");
  EXPECT_EQ(societe.count, 1);
  EXPECT_EQ(societe.fields["Societe"], "Seconde Installation");
  EXPECT_EQ(societe.fields["Email"], "");  // the first run's text overwritten by the empty one
}

TEST_F(ProfileRun, CapitalTypedWhileTheBoxKeepsTheFocusIsWrittenAsTyped) {
  CopyPackage();
  FillProfile();
  form->Edit_CapitalS->SetValue(std::nullopt);
  ShowActive();
  form->Edit_CapitalS->setFocus();
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->Edit_CapitalS->hasFocus(); }, 2000));
  QTest::keyClicks(form->Edit_CapitalS, "-2500000");
  ASSERT_EQ(form->Edit_CapitalS->text(), "-2500000");  // still plain while focused
  // The accelerator of the install button runs it without moving the focus.
  boxes.answers = {kIdOk};
  form->Btn_OkClick();
  ASSERT_EQ(completions, 1) << boxes.AskedTexts();
  EXPECT_EQ(ReadFirstRecord(Database(), "Societe", "tarvu").fields["CapitalS"], "(2,500,000)");
}

// The completed installation as the user sees it: the installation window at 100 % with the
// completion window over it. With ZQ_SCREENSHOT_DIR set (scripts/screenshots) the picture is kept
// as the documentation's screenshot.
TEST_F(ProfileRun, CompletedInstallationScreenshot) {
  CopyPackage();
  FillProfile();
  ShowActive();
  form->Btn_Ok->setFocus();
  // The right end of the progress bar, empty before the run.
  const QPoint bar_end = form->PBar->mapTo(form, QPoint(form->PBar->width() - 4, form->PBar->height() / 2));
  QImage before = form->grab().toImage();
  QImage picture;
  bool end_visible = false;
  form->ShowCompletion = [&] {
    ++completions;
    QTimer::singleShot(0, end, [&] {
      end_visible = end->isVisible();
      end->Btn_No->setEnabled(true);  // as after the window's five seconds
      // The picture shows a folder as a user would choose it, not the test's scratch folder the
      // installation went into (the install button is gone, so this changes nothing else).
      form->Combo_Path->SetPath("/home/karim/Logiciels");
      picture = form->grab().toImage();
      QImage over = end->grab().toImage();
      QPainter painter(&picture);
      // Painter coordinates are logical pixels on both images.
      painter.drawImage(end->pos() - form->pos(), over);
      painter.end();
      end->close();
    });
    Form_End->exec();
  };
  EXPECT_EQ(RunInstall(), kAllSteps);
  ASSERT_EQ(completions, 1);
  EXPECT_TRUE(end_visible);
  ASSERT_FALSE(picture.isNull());
  EXPECT_EQ(picture.size() / picture.devicePixelRatio(), QSize(784, 487));
  const qreal ratio = picture.devicePixelRatio();
  EXPECT_NE(picture.pixelColor(bar_end * ratio), before.pixelColor(bar_end * before.devicePixelRatio()));
  QString dir = qEnvironmentVariable("ZQ_SCREENSHOT_DIR");
  if (!dir.isEmpty()) {
    ASSERT_TRUE(picture.save(QDir(dir).filePath("installation-completed.png"), "PNG"));
  }
}

}  // namespace
}  // namespace zq::testing
