#include "tools/OptionsDialog.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "task/Settings.h"

namespace kestrane {

OptionsDialog::OptionsDialog(std::string settingsPath, QWidget *parent)
    : QDialog(parent), settingsPath_(std::move(settingsPath)),
      errorBox_(this, true), errors_(&errorBox_) {
  setObjectName(QStringLiteral("frmOptions"));
  setWindowTitle(QStringLiteral("Options"));
  setFont(QFont(QStringLiteral("Tahoma"), 8));

  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->setSpacing(8);

  auto *panel = new QFrame(this);
  Panel1 = panel;
  panel->setObjectName(QStringLiteral("Panel1"));
  panel->setFrameShape(QFrame::StyledPanel);
  auto *pathRow = new QHBoxLayout(panel);
  pathRow->setContentsMargins(6, 6, 6, 6);
  Label1 = new QLabel(QStringLiteral("Default path to save :"), panel);
  Label1->setObjectName(QStringLiteral("Label1"));
  Edit12 = new QLineEdit(panel);
  Edit12->setObjectName(QStringLiteral("Edit12"));
  Edit12->setMinimumWidth(220);
  Button3 = new QPushButton(QStringLiteral("..."), panel);
  Button3->setObjectName(QStringLiteral("Button3"));
  Button3->setAutoDefault(false);
  Button3->setMaximumWidth(28);
  pathRow->addWidget(Label1);
  pathRow->addWidget(Edit12, 1);
  pathRow->addWidget(Button3);
  layout->addWidget(panel);

  GroupBox1 = new QGroupBox(this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  auto *grid = new QGridLayout(GroupBox1);
  grid->setContentsMargins(8, 8, 8, 8);
  grid->setVerticalSpacing(4);
  CheckBoxUseProxy =
      new QCheckBox(QStringLiteral("Use proxy server"), GroupBox1);
  CheckBoxUseProxy->setObjectName(QStringLiteral("CheckBoxUseProxy"));
  grid->addWidget(CheckBoxUseProxy, 0, 0, 1, 2);
  auto row = [&](int r, const char *labelName, const char *text,
                 const char *editName, QLabel *&label, QLineEdit *&edit) {
    label = new QLabel(QString::fromLatin1(text), GroupBox1);
    label->setObjectName(QString::fromLatin1(labelName));
    edit = new QLineEdit(GroupBox1);
    edit->setObjectName(QString::fromLatin1(editName));
    grid->addWidget(label, r, 0);
    grid->addWidget(edit, r, 1);
  };
  // The proxy fields stay enabled whatever the box says; the password is
  // shown in the clear, as it is stored.
  row(1, "Label3", "Proxy Server Name (IP)", "EditProxyServer", Label3,
      EditProxyServer);
  row(2, "Label4", "Proxy Port", "EditProxyPort", Label4, EditProxyPort);
  row(3, "Label5", "Proxy Username", "EditProxyUsername", Label5,
      EditProxyUsername);
  row(4, "Label6", "Proxy Password", "EditProxyPassword", Label6,
      EditProxyPassword);
  grid->setColumnStretch(1, 1);
  layout->addWidget(GroupBox1);

  auto *buttons = new QHBoxLayout;
  buttons->addStretch(1);
  Button1 = new QPushButton(QStringLiteral("OK"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setDefault(true);
  Button2 = new QPushButton(QStringLiteral("Cancel"), this);
  Button2->setObjectName(QStringLiteral("Button2"));
  Button2->setAutoDefault(false);
  buttons->addWidget(Button1);
  buttons->addWidget(Button2);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(Button3, &QPushButton::clicked, this,
          [this] { Guarded(errors_, [this] { Button3Click(); }); });
  connect(Button1, &QPushButton::clicked, this,
          [this] { Guarded(errors_, [this] { Button1Click(); }); });
  connect(Button2, &QPushButton::clicked, this,
          [this] { Guarded(errors_, [this] { Button2Click(); }); });
}

void OptionsDialog::showEvent(QShowEvent *event) {
  // Every showing starts from the file: edits left by a Cancel are gone.
  Guarded(errors_, [this] { FormShow(); });
  QDialog::showEvent(event);
}

void OptionsDialog::FormShow() {
  const Settings settings = ReadSettings(settingsPath_);
  Edit12->setText(QStr(settings.DefaultPath));
  const ProxySettings &proxy = settings.Proxy;
  CheckBoxUseProxy->setChecked(proxy.UseProxy);
  EditProxyServer->setText(QStr(proxy.ProxyServer));
  EditProxyPort->setText(QStr(proxy.ProxyPort));
  EditProxyUsername->setText(QStr(proxy.ProxyUsername));
  EditProxyPassword->setText(QStr(proxy.ProxyPassword));
}

void OptionsDialog::Button3Click() {
  const QString folder =
      QFileDialog::getExistingDirectory(this, QStringLiteral("Select path"),
                                        QString(), QFileDialog::ShowDirsOnly);
  if (!folder.isEmpty())
    Edit12->setText(folder);
}

void OptionsDialog::Button1Click() {
  Settings settings;
  settings.DefaultPath = StdStr(Edit12->text());
  settings.Proxy = {
      CheckBoxUseProxy->isChecked(), StdStr(EditProxyServer->text()),
      StdStr(EditProxyPort->text()), StdStr(EditProxyUsername->text()),
      StdStr(EditProxyPassword->text())};
  PrepareSettingsFolder(settingsPath_);
  WriteOptions(settingsPath_, settings); // throws: the dialog stays open
  accept();
}

void OptionsDialog::Button2Click() {
  reject();
}

} // namespace kestrane
