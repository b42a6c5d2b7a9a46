#include "app/fin_install.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>

#include "app/maker_info.h"
#include "app/pictures.h"
#include "app/zqsw_inst.h"
#include "ui/application.h"

namespace zq {

TForm_End* Form_End = nullptr;

namespace {

QLabel* Bold(QLabel* label) {
  QFont f = label->font();
  f.setBold(true);
  label->setFont(f);
  return label;
}

QLabel* Link(QWidget* parent, const QString& url, const QString& text) {
  auto* label = new QLabel(QStringLiteral("<a href=\"%1\">%2</a>").arg(url, text.toHtmlEscaped()), parent);
  label->setOpenExternalLinks(true);
  label->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
  label->setFocusPolicy(Qt::NoFocus);
  return label;
}

}  // namespace

TForm_End::TForm_End(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setObjectName("Form_End");
  setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
  setFixedSize(584, 362);
  setWindowTitle(QStringLiteral("QUORVANT SW Installer 2.0 - Fin de l'installation"));

  // Only the lower part of the banner shows.
  auto* banner = new QLabel(this);
  banner->setObjectName("Banner");
  banner->setPixmap(DrawBanner(QSize(584, 197)));
  banner->setScaledContents(true);
  banner->setGeometry(0, -83, 584, 197);

  auto* logo = new QLabel(this);
  logo->setObjectName("Image_Logo");
  logo->setPixmap(DrawLogo(96));
  logo->setGeometry(12, 128, 96, 96);

  auto* message1 = Bold(new QLabel(QStringLiteral("Félicitation, installation terminée.\n"
                                                  "Nous vous remercions de choisir nos services et applications."),
                                   this));
  message1->setObjectName("Label_Message1");
  message1->setAlignment(Qt::AlignCenter);
  message1->setGeometry(120, 122, 452, 34);
  auto* message2 = Bold(new QLabel(
      QStringLiteral("Vous pouvez dès maintenant commencer a utiliser le logiciel en plein fonctionnalités, "
                     "juste un click sur le raccourci."),
      this));
  message2->setObjectName("Label_Message2");
  message2->setAlignment(Qt::AlignCenter);
  message2->setWordWrap(true);
  message2->setGeometry(120, 160, 452, 36);

  auto* contact = new QGroupBox(this);
  contact->setObjectName("Group_Contact");
  contact->setGeometry(120, 200, 452, 114);
  const int x = 12;
  const int vx = 140;
  int y = 14;
  auto row = [&](const QString& label, QLabel* value) {
    auto* l = new QLabel(label, contact);
    l->setGeometry(x, y, 124, 15);
    value->setParent(contact);
    value->setGeometry(vx, y, 240, 15);
    y += 22;
  };
  row(QStringLiteral("Site web :"), Link(contact, QString::fromUtf8(maker::kWebAddress), QString::fromUtf8(maker::kWebAddress)));
  row(QStringLiteral("E-Mail :"), Link(contact, QStringLiteral("mailto:") + QString::fromUtf8(maker::kEmail),
                                       QString::fromUtf8(maker::kEmail)));
  row(QStringLiteral("Service Commerciale :"), new QLabel(QString::fromUtf8(maker::kSalesPhone)));
  row(QStringLiteral("Service Partenaires :"), new QLabel(QString::fromUtf8(maker::kPartnersPhone)));
  auto* picture = new QLabel(contact);
  picture->setPixmap(DrawContactPicture(48));
  picture->setGeometry(392, 34, 48, 48);

  Btn_No = new QPushButton(QStringLiteral("&Terminer"), this);
  Btn_No->setObjectName("Btn_No");
  Btn_No->setToolTip(QStringLiteral("Quitter l'assistant d'installation"));
  Btn_No->setGeometry(472, 326, 100, 25);
  Btn_No->setEnabled(false);
  Btn_No->setAutoDefault(false);
  connect(Btn_No, &QPushButton::clicked, this, [this] { Guarded([this] { Btn_NoClick(); }); });

  // Running from creation, never stopped: the first tick enables the finish button.
  Timer1.setInterval(5000);
  Timer1.setTimerType(Qt::PreciseTimer);  // a coarse timer may fire up to 5 % early
  connect(&Timer1, &QTimer::timeout, this, [this] { Guarded([this] { Timer1Timer(); }); });
  Timer1.start();
}

TForm_End::~TForm_End() {
  if (Form_End == this) Form_End = nullptr;
}

void TForm_End::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) Guarded([this] { FormShow(); });
}

void TForm_End::reject() {
  // From inside the close event (QDialog ends its modal loop through reject) it only hides.
  if (closing_) {
    QDialog::reject();
    return;
  }
  close();
}

void TForm_End::closeEvent(QCloseEvent* event) {
  closing_ = true;
  QDialog::closeEvent(event);
  closing_ = false;
  Guarded([this] { FormClose(); });
}

void TForm_End::FormShow() {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen) move(CentredPosition(screen->size(), 300, 200));
}

void TForm_End::Timer1Timer() { Btn_No->setEnabled(true); }

void TForm_End::Btn_NoClick() {
  if (Form_Install) Form_Install->close();
}

void TForm_End::FormClose() {
  if (Form_Install) Form_Install->close();
}

}  // namespace zq
