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
    : QDialog(parent), box_(this), messages_(&box_) {
  setObjectName(QStringLiteral("frmAbout"));
  setWindowTitle(QStringLiteral("About Kestrane"));
  shellOpen_ = [](const QUrl &url) { return QDesktopServices::openUrl(url); };

  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(16, 16, 16, 12);
  layout->setSpacing(6);

  nameLabel_ = new QLabel(QStringLiteral("Kestrane"), this);
  nameLabel_->setObjectName(QStringLiteral("LabelName"));
  QFont big = nameLabel_->font();
  big.setPointSize(big.pointSize() + 8);
  big.setBold(true);
  nameLabel_->setFont(big);
  layout->addWidget(nameLabel_, 0, Qt::AlignHCenter);

  versionLabel_ = new QLabel(this);
  versionLabel_->setObjectName(QStringLiteral("LabelVersion"));
  layout->addWidget(versionLabel_, 0, Qt::AlignHCenter);

  auto *about = new QLabel(
      QStringLiteral("Downloads bird's eye view map tiles of an area,\n"
                     "checks every image and keeps a resumable task."),
      this);
  about->setAlignment(Qt::AlignHCenter);
  layout->addWidget(about);
  layout->addSpacing(6);

  QString shownContact = contact;
  shownContact.remove(QStringLiteral("mailto:"));
  // The manual in the program folder stands for a home page the build was
  // not given: shown as what it is.
  const QUrl home(homePage);
  homePageLabel_ = LinkLabel(
      QStringLiteral("LabelHomePage"), homePage,
      home.isLocalFile() ? QStringLiteral("User manual") : homePage, this);
  contactLabel_ =
      LinkLabel(QStringLiteral("LabelContact"), contact, shownContact, this);
  layout->addWidget(homePageLabel_, 0, Qt::AlignHCenter);
  layout->addWidget(contactLabel_, 0, Qt::AlignHCenter);
  contactLabel_->setVisible(!contact.isEmpty());
  for (QLabel *label : {homePageLabel_, contactLabel_})
    connect(label, &QLabel::linkActivated, this, &AboutBox::LinkClicked);

  layout->addSpacing(6);
  okButton_ = new QPushButton(QStringLiteral("&OK"), this);
  okButton_->setObjectName(QStringLiteral("OKButton"));
  okButton_->setDefault(true);
  connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);
  layout->addWidget(okButton_, 0, Qt::AlignHCenter);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  SetVersion(QStringLiteral("6.2"));
}

void AboutBox::SetVersion(const QString &version) {
  versionLabel_->setText(QStringLiteral("Version %1").arg(version));
}

void AboutBox::LinkClicked(const QString &link) {
  const QUrl url(link);
  if (!shellOpen_(url))
    messages_.ShowMessage(CannotOpenText(url));
}

} // namespace kestrane
