#include "tools/OptionsDialog.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
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

namespace {

// Tiles a second as the settings file holds them: "4", "0.5", not "4.00".
class RateSpinBox : public QDoubleSpinBox {
public:
  using QDoubleSpinBox::QDoubleSpinBox;
  QString textFromValue(double value) const override {
    QString text = locale().toString(value, 'f', decimals());
    if (!isGroupSeparatorShown())
      text.remove(locale().groupSeparator());
    const QChar point = locale().decimalPoint().front();
    if (text.contains(point)) {
      while (text.endsWith(QLatin1Char('0')))
        text.chop(1);
      if (text.endsWith(point))
        text.chop(1);
    }
    return text;
  }
};

} // namespace

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
  pathPanel_ = panel;
  panel->setObjectName(QStringLiteral("Panel1"));
  panel->setFrameShape(QFrame::StyledPanel);
  auto *pathRow = new QHBoxLayout(panel);
  pathRow->setContentsMargins(6, 6, 6, 6);
  pathLabel_ = new QLabel(QStringLiteral("Default path to save :"), panel);
  pathLabel_->setObjectName(QStringLiteral("Label1"));
  defaultPathEdit_ = new QLineEdit(panel);
  defaultPathEdit_->setObjectName(QStringLiteral("Edit12"));
  defaultPathEdit_->setMinimumWidth(220);
  browsePathButton_ = new QPushButton(QStringLiteral("..."), panel);
  browsePathButton_->setObjectName(QStringLiteral("Button3"));
  browsePathButton_->setAutoDefault(false);
  browsePathButton_->setMaximumWidth(28);
  pathRow->addWidget(pathLabel_);
  pathRow->addWidget(defaultPathEdit_, 1);
  pathRow->addWidget(browsePathButton_);
  layout->addWidget(panel);

  // The cap on tiles a second for all workers of a task together, and for
  // a re-download run.
  auto *ratePanel = new QFrame(this);
  ratePanel_ = ratePanel;
  ratePanel->setObjectName(QStringLiteral("PanelMaxRate"));
  ratePanel->setFrameShape(QFrame::StyledPanel);
  auto *rateRow = new QHBoxLayout(ratePanel_);
  rateRow->setContentsMargins(6, 6, 6, 6);
  maxRateLabel_ =
      new QLabel(QStringLiteral("Most tiles per second :"), ratePanel_);
  maxRateLabel_->setObjectName(QStringLiteral("LabelMaxRate"));
  maxRateEdit_ = new RateSpinBox(ratePanel_);
  maxRateEdit_->setObjectName(QStringLiteral("EditMaxRate"));
  maxRateEdit_->setRange(0, 1000);
  maxRateEdit_->setDecimals(2);
  maxRateEdit_->setSingleStep(1);
  maxRateEdit_->setSpecialValueText(QStringLiteral("no cap"));
  maxRateEdit_->setToolTip(
      QStringLiteral("All workers together take at most this many tiles a "
                     "second; \"no cap\" (0) leaves the pace to the "
                     "server."));
  maxRateLabel_->setBuddy(maxRateEdit_);
  rateRow->addWidget(maxRateLabel_);
  rateRow->addWidget(maxRateEdit_);
  rateRow->addStretch(1);
  layout->addWidget(ratePanel_);

  proxyGroup_ = new QGroupBox(this);
  proxyGroup_->setObjectName(QStringLiteral("GroupBox1"));
  auto *grid = new QGridLayout(proxyGroup_);
  grid->setContentsMargins(8, 8, 8, 8);
  grid->setVerticalSpacing(4);
  useProxyBox_ = new QCheckBox(QStringLiteral("Use proxy server"), proxyGroup_);
  useProxyBox_->setObjectName(QStringLiteral("CheckBoxUseProxy"));
  grid->addWidget(useProxyBox_, 0, 0, 1, 2);
  auto row = [&](int r, const char *labelName, const char *text,
                 const char *editName, QLabel *&label, QLineEdit *&edit) {
    label = new QLabel(QString::fromLatin1(text), proxyGroup_);
    label->setObjectName(QString::fromLatin1(labelName));
    edit = new QLineEdit(proxyGroup_);
    edit->setObjectName(QString::fromLatin1(editName));
    grid->addWidget(label, r, 0);
    grid->addWidget(edit, r, 1);
  };
  // The proxy fields stay enabled whatever the box says; the password is
  // shown in the clear, as it is stored.
  row(1, "Label3", "Proxy Server Name (IP)", "EditProxyServer",
      proxyServerLabel_, proxyServerEdit_);
  row(2, "Label4", "Proxy Port", "EditProxyPort", proxyPortLabel_,
      proxyPortEdit_);
  row(3, "Label5", "Proxy Username", "EditProxyUsername", proxyUsernameLabel_,
      proxyUsernameEdit_);
  row(4, "Label6", "Proxy Password", "EditProxyPassword", proxyPasswordLabel_,
      proxyPasswordEdit_);
  grid->setColumnStretch(1, 1);
  layout->addWidget(proxyGroup_);

  // Where the tiles come from: the four hosts the tiles' addresses are
  // spread over, each a host name with an optional ":port".
  hostsGroup_ = new QGroupBox(QStringLiteral("Tile service hosts"), this);
  hostsGroup_->setObjectName(QStringLiteral("GroupBoxHosts"));
  auto *hosts = new QGridLayout(hostsGroup_);
  hosts->setContentsMargins(8, 8, 8, 8);
  hosts->setVerticalSpacing(4);
  for (int i = 0; i < 4; ++i) {
    auto *edit = new QLineEdit(hostsGroup_);
    edit->setObjectName(QStringLiteral("EditHost%1").arg(i));
    edit->setToolTip(QStringLiteral("A host name, with :port when needed"));
    hostEdits_[static_cast<size_t>(i)] = edit;
    hosts->addWidget(new QLabel(QStringLiteral("Host %1").arg(i), hostsGroup_),
                     i / 2, (i % 2) * 2);
    hosts->addWidget(edit, i / 2, (i % 2) * 2 + 1);
  }
  hosts->setColumnStretch(1, 1);
  hosts->setColumnStretch(3, 1);
  layout->addWidget(hostsGroup_);

  auto *buttons = new QHBoxLayout;
  buttons->addStretch(1);
  okButton_ = new QPushButton(QStringLiteral("OK"), this);
  okButton_->setObjectName(QStringLiteral("Button1"));
  okButton_->setDefault(true);
  cancelButton_ = new QPushButton(QStringLiteral("Cancel"), this);
  cancelButton_->setObjectName(QStringLiteral("Button2"));
  cancelButton_->setAutoDefault(false);
  buttons->addWidget(okButton_);
  buttons->addWidget(cancelButton_);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(browsePathButton_, &QPushButton::clicked, this,
          [this] { Guarded(errors_, [this] { BrowsePathClicked(); }); });
  connect(okButton_, &QPushButton::clicked, this,
          [this] { Guarded(errors_, [this] { OkClicked(); }); });
  connect(cancelButton_, &QPushButton::clicked, this,
          [this] { Guarded(errors_, [this] { CancelClicked(); }); });
}

void OptionsDialog::showEvent(QShowEvent *event) {
  // Every showing starts from the file: edits left by a Cancel are gone.
  Guarded(errors_, [this] { Showing(); });
  QDialog::showEvent(event);
}

void OptionsDialog::Showing() {
  const Settings settings = ReadSettings(settingsPath_);
  defaultPathEdit_->setText(QStr(settings.DefaultPath));
  maxRateEdit_->setValue(settings.MaxRate);
  const ProxySettings &proxy = settings.Proxy;
  useProxyBox_->setChecked(proxy.UseProxy);
  proxyServerEdit_->setText(QStr(proxy.ProxyServer));
  proxyPortEdit_->setText(QStr(proxy.ProxyPort));
  proxyUsernameEdit_->setText(QStr(proxy.ProxyUsername));
  proxyPasswordEdit_->setText(QStr(proxy.ProxyPassword));
  for (size_t i = 0; i < hostEdits_.size(); ++i)
    hostEdits_[i]->setText(QStr(settings.Hosts[i]));
}

void OptionsDialog::BrowsePathClicked() {
  const QString folder =
      QFileDialog::getExistingDirectory(this, QStringLiteral("Select path"),
                                        QString(), QFileDialog::ShowDirsOnly);
  if (!folder.isEmpty())
    defaultPathEdit_->setText(folder);
}

void OptionsDialog::OkClicked() {
  Settings settings;
  settings.DefaultPath = StdStr(defaultPathEdit_->text());
  settings.MaxRate = maxRateEdit_->value();
  settings.Proxy = {useProxyBox_->isChecked(), StdStr(proxyServerEdit_->text()),
                    StdStr(proxyPortEdit_->text()),
                    StdStr(proxyUsernameEdit_->text()),
                    StdStr(proxyPasswordEdit_->text())};
  for (size_t i = 0; i < hostEdits_.size(); ++i)
    settings.Hosts[i] = StdStr(hostEdits_[i]->text().trimmed());
  PrepareSettingsFolder(settingsPath_);
  WriteOptions(settingsPath_, settings); // throws: the dialog stays open
  accept();
}

void OptionsDialog::CancelClicked() {
  reject();
}

} // namespace kestrane
