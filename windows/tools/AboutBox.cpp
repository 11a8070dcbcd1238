#include "tools/AboutBox.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestrane {

namespace {

QLabel *LinkLabel(const QString &name, const QString &link,
                  const QString &shown, QWidget *parent) {
  auto *label =
      new QLabel(QStringLiteral("<a href=\"%1\">%2</a>")
                     .arg(link.toHtmlEscaped(), shown.toHtmlEscaped()),
                 parent);
  label->setObjectName(name);
  label->setTextFormat(Qt::RichText);
  label->setTextInteractionFlags(Qt::LinksAccessibleByMouse |
                                 Qt::LinksAccessibleByKeyboard);
  label->setOpenExternalLinks(false);
  label->setToolTip(link);
  return label;
}

} // namespace

AboutBox::AboutBox(const QString &homePage, const QString &contact,
                   QWidget *parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("frmAbout"));
  setWindowTitle(QStringLiteral("About Kestrane"));
  shellOpen_ = [](const QUrl &url) { QDesktopServices::openUrl(url); };

  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(16, 16, 16, 12);
  layout->setSpacing(6);

  LabelName = new QLabel(QStringLiteral("Kestrane"), this);
  LabelName->setObjectName(QStringLiteral("LabelName"));
  QFont big = LabelName->font();
  big.setPointSize(big.pointSize() + 8);
  big.setBold(true);
  LabelName->setFont(big);
  layout->addWidget(LabelName, 0, Qt::AlignHCenter);

  LabelVersion = new QLabel(this);
  LabelVersion->setObjectName(QStringLiteral("LabelVersion"));
  layout->addWidget(LabelVersion, 0, Qt::AlignHCenter);

  auto *about = new QLabel(
      QStringLiteral("Downloads bird's eye view map tiles of an area,\n"
                     "checks every image and keeps a resumable task."),
      this);
  about->setAlignment(Qt::AlignHCenter);
  layout->addWidget(about);
  layout->addSpacing(6);

  QString shownContact = contact;
  shownContact.remove(QStringLiteral("mailto:"));
  LabelHomePage =
      LinkLabel(QStringLiteral("LabelHomePage"), homePage, homePage, this);
  LabelContact =
      LinkLabel(QStringLiteral("LabelContact"), contact, shownContact, this);
  layout->addWidget(LabelHomePage, 0, Qt::AlignHCenter);
  layout->addWidget(LabelContact, 0, Qt::AlignHCenter);
  for (QLabel *label : {LabelHomePage, LabelContact})
    connect(label, &QLabel::linkActivated, this, &AboutBox::LinkClick);

  layout->addSpacing(6);
  OKButton = new QPushButton(QStringLiteral("&OK"), this);
  OKButton->setObjectName(QStringLiteral("OKButton"));
  OKButton->setDefault(true);
  connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
  layout->addWidget(OKButton, 0, Qt::AlignHCenter);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  SetVersion(QStringLiteral("6.2"));
}

void AboutBox::SetVersion(const QString &version) {
  LabelVersion->setText(QStringLiteral("Version %1").arg(version));
}

void AboutBox::LinkClick(const QString &link) {
  shellOpen_(QUrl(link));
}

} // namespace kestrane
