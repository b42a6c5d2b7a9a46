#include "ui/db_login_form.h"

#include <QApplication>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>

#include "ui/text_codec.h"

namespace zq {

namespace {

// Password edits show '*' for every character, whatever the platform style would use.
class StarPasswordStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* data) const override {
    if (hint == SH_LineEdit_PasswordCharacter) return '*';
    return QProxyStyle::styleHint(hint, option, widget, data);
  }
};

// Layout of the dialog, in pixels.
constexpr int kWidth = 281;
constexpr int kHeight = 154;
constexpr int kPanelMargin = 8;
constexpr int kPanelHeight = 75;
constexpr int kEditLeft = 86;
constexpr int kEditHeight = 21;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;

}  // namespace

TDbLoginForm::TDbLoginForm(const std::string& database_path, QWidget* parent) : QDialog(parent) {
  setObjectName("DbLoginForm");
  setWindowTitle("Database Login");
  // Dialog border: fixed size, no minimise or maximise buttons.
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFont(QApplication::font("QMessageBox"));
  setFixedSize(kWidth, kHeight);

  back_panel_ = new QFrame(this);
  back_panel_->setObjectName("BackPanel");
  // Lowered outer bevel, raised inner bevel.
  back_panel_->setFrameShape(QFrame::Box);
  back_panel_->setFrameShadow(QFrame::Sunken);
  back_panel_->setGeometry(kPanelMargin, kPanelMargin, width() - 2 * kPanelMargin, kPanelHeight);
  const int edit_width = back_panel_->width() - 98;

  database_label_ = new QLabel("Database:", back_panel_);
  database_label_->setObjectName("DatabaseLabel");
  database_label_->move(12, 15);
  database_label_->adjustSize();
  password_label_ = new QLabel("Password:", back_panel_);
  password_label_->setObjectName("PasswordLabel");
  password_label_->move(12, 45);
  password_label_->adjustSize();

  database_edit_ = new QLineEdit(back_panel_);
  database_edit_->setObjectName("DatabaseEdit");
  database_edit_->setGeometry(kEditLeft, 12, edit_width, kEditHeight);
  database_edit_->setReadOnly(true);
  database_edit_->setFocusPolicy(Qt::NoFocus);  // not a tab stop
  QPalette face = database_edit_->palette();
  face.setColor(QPalette::Base, face.color(QPalette::Button));
  database_edit_->setPalette(face);
  database_edit_->setText(FromAnsi(database_path));
  database_edit_->setCursorPosition(0);

  password_edit_ = new QLineEdit(back_panel_);
  password_edit_->setObjectName("PasswordEdit");
  password_edit_->setGeometry(kEditLeft, 42, edit_width, kEditHeight);
  auto* star = new StarPasswordStyle;
  star->setParent(password_edit_);
  password_edit_->setStyle(star);
  password_edit_->setEchoMode(QLineEdit::Password);

  ok_button_ = new QPushButton("&OK", this);
  ok_button_->setObjectName("OKButton");
  ok_button_->setGeometry(109, 94, kButtonWidth, kButtonHeight);
  ok_button_->setDefault(true);
  connect(ok_button_, &QPushButton::clicked, this, &QDialog::accept);

  cancel_button_ = new QPushButton("&Cancel", this);
  cancel_button_->setObjectName("CancelButton");
  cancel_button_->setGeometry(191, 94, kButtonWidth, kButtonHeight);
  connect(cancel_button_, &QPushButton::clicked, this, &QDialog::reject);

  // Tab order: the password first, then the buttons.
  setTabOrder(password_edit_, ok_button_);
  setTabOrder(ok_button_, cancel_button_);
  password_edit_->setFocus();
}

std::string TDbLoginForm::Password() const { return ToAnsi(password_edit_->text()); }

void TDbLoginForm::showEvent(QShowEvent* event) {
  // Centred on the screen.
  if (QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
    QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
  }
  QDialog::showEvent(event);
  password_edit_->setFocus();
}

bool DbLoginDialog(const std::string& database_path, std::string& password) {
  TDbLoginForm form(database_path, QApplication::activeWindow());
  if (form.exec() != QDialog::Accepted) return false;
  password = form.Password();
  return true;
}

void InstallDbLoginForm() {
  static TDbLoginFormHook hook;
  SetDbLoginHook(&hook);
}

}  // namespace zq
