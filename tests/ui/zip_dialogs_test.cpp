// The archive component's default dialogs, answered by a timer once they are up, and driven
// through a real extraction.
#include "ui/zip_dialogs.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>

#include "tests/ui/qstring_printer.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/qt_wait.h"
#include "ui/message_boxes.h"
#include "zip/zip_writer.h"

namespace zq {
namespace {

using testing_support::WhenModalUp;

TEST(ZipDialogs, PasswordQuery) {
  TZipDialogs dialogs;
  QTimer poll;
  QString title, label, initial;
  QLineEdit::EchoMode echo = QLineEdit::Normal;
  WhenModalUp<QInputDialog>(poll, [&](QInputDialog* d) {
    title = d->windowTitle();
    label = d->labelText();
    initial = d->textValue();
    echo = d->textEchoMode();
    d->setTextValue(QString::fromUtf8("n\xC3\xA9w"));
    d->accept();
  });
  std::string value = "old";
  ASSERT_TRUE(dialogs.InputQuery("Password for \"caf\xE9.txt\"", "Enter password: ", value));
  EXPECT_EQ(title, QString::fromUtf8("Password for \"caf\xC3\xA9.txt\""));
  EXPECT_EQ(label, "Enter password: ");
  EXPECT_EQ(initial, "old");
  EXPECT_EQ(echo, QLineEdit::Password);
  EXPECT_EQ(value, "n\xE9w");

  QTimer poll2;
  WhenModalUp<QInputDialog>(poll2, [](QInputDialog* d) { d->reject(); });
  value = "kept";
  EXPECT_FALSE(dialogs.InputQuery("c", "p", value));
  EXPECT_EQ(value, "kept");
}

class RecordingBoxes : public IMessageBoxes {
 public:
  int answer = kIdAbort;
  QString text, caption;
  unsigned flags = 0;
  int MessageBox(const QString& t, const QString& c, unsigned f) override {
    text = t, caption = c, flags = f;
    return answer;
  }
};

TEST(ZipDialogs, FailureQuestionThroughTheMessageBoxes) {
  RecordingBoxes boxes;
  SetMessageBoxes(&boxes);
  TZipDialogs dialogs;
  boxes.answer = kIdRetry;
  EXPECT_EQ(dialogs.AskFileFailure("x - Native error: 00008. File processing error, possibly disk is full"), fxaRetry);
  EXPECT_EQ(boxes.text, "x - Native error: 00008. File processing error, possibly disk is full");
  EXPECT_EQ(boxes.caption, "Confirm");
  EXPECT_EQ(boxes.flags, kMbAbortRetryIgnore | kMbIconQuestion);
  boxes.answer = kIdIgnore;
  EXPECT_EQ(dialogs.AskFileFailure("x"), fxaIgnore);
  boxes.answer = kIdAbort;
  EXPECT_EQ(dialogs.AskFileFailure("x"), fxaAbort);
  boxes.answer = kIdCancel;  // closed
  EXPECT_EQ(dialogs.AskFileFailure("x"), fxaAbort);
  SetMessageBoxes(nullptr);
}

TEST(ZipDialogs, OverwriteQuestionButtons) {
  TZipDialogs dialogs;
  const std::pair<QMessageBox::StandardButton, TZipOverwriteAnswer> cases[] = {
      {QMessageBox::Yes, oaYes}, {QMessageBox::No, oaNo}, {QMessageBox::NoToAll, oaNoToAll},
      {QMessageBox::YesToAll, oaYesToAll}};
  for (const auto& [button, answer] : cases) {
    QTimer poll;
    QString text;
    int buttons = 0;
    WhenModalUp<QMessageBox>(poll, [&, button = button](QMessageBox* b) {
      text = b->text();
      buttons = static_cast<int>(b->buttons().size());
      b->button(button)->click();
    });
    EXPECT_EQ(dialogs.AskOverwrite("Overwrite file \"/d/a.txt\" with \"a.txt\""), answer);
    EXPECT_EQ(text, "Overwrite file \"/d/a.txt\" with \"a.txt\"");
    EXPECT_EQ(buttons, 4);
  }
  QTimer poll;
  WhenModalUp<QMessageBox>(poll, [](QMessageBox* b) { b->reject(); });
  EXPECT_EQ(dialogs.AskOverwrite("closed"), oaNo);
}

TEST(ZipDialogs, ExtractionAsksThroughTheInstalledDialogs) {
  testing_support::TempDir temp("zqzipdlg");
  const std::string& dir = temp.Path();
  {
    TFileStream out = TFileStream::Create(dir + "/e.zip");
    TZipWriter writer(out);
    writer.SetPassword("right");
    TMemoryStream data;
    data.WriteBuffer("secret", 6);
    writer.AddStream("s.txt", data, 0x5A216000, 0x20);
    writer.Finish();
  }
  InstallZipDialogs();
  TZipArchiver archiver;
  archiver.SetFileName(dir + "/e.zip");
  archiver.SetBaseDir(dir + "/out");
  archiver.SetPassword("wrong");
  archiver.Open();
  QTimer poll;
  QString title;
  WhenModalUp<QInputDialog>(poll, [&](QInputDialog* d) {
    title = d->windowTitle();
    d->setTextValue("right");
    d->accept();
  });
  archiver.ExtractMatching();
  archiver.Close();
  SetZipInteraction(nullptr);
  EXPECT_EQ(title, "Password for \"s.txt\"");
  std::ifstream in(dir + "/out/s.txt");
  std::string content;
  std::getline(in, content);
  EXPECT_EQ(content, "secret");
}

}  // namespace
}  // namespace zq
