// The options dialog's "Most tiles per second": what a showing reads from
// MaxRate, what OK writes, and "no cap" for 0.
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "task/Settings.h"
#include "tests/windows/GuiTestSupport.h"
#include "tools/OptionsDialog.h"

namespace kestrane::guitest {

class MaxRateFieldTest : public QObject {
  Q_OBJECT
private slots:
  void showingReadsTheCap_data();
  void showingReadsTheCap();
  void okWritesTheCapAndTakesItAway();
};

void MaxRateFieldTest::showingReadsTheCap_data() {
  QTest::addColumn<QString>("line"); // empty: no MaxRate key
  QTest::addColumn<double>("value");
  QTest::addColumn<QString>("shown");
  QTest::newRow("no key: no cap") << QString() << 0.0 << "no cap";
  QTest::newRow("a cap") << "MaxRate=4" << 4.0 << "4";
  QTest::newRow("a fraction") << "MaxRate=0.25" << 0.25 << "0.25";
  QTest::newRow("not a number: no cap") << "MaxRate=fast" << 0.0 << "no cap";
}

void MaxRateFieldTest::showingReadsTheCap() {
  QFETCH(QString, line);
  QFETCH(double, value);
  QFETCH(QString, shown);
  GuiRig rig;
  std::vector<std::string> file{"[IniParas]", "DefaultPath=/srv"};
  if (!line.isEmpty())
    file.push_back(line.toStdString());
  WriteTextFile(rig.SettingsPath(), file);
  OptionsDialog form(rig.SettingsPath());
  form.setLocale(QLocale::c());
  form.show();
  auto *edit = form.findChild<QDoubleSpinBox *>(QStringLiteral("EditMaxRate"));
  QVERIFY(edit);
  QCOMPARE(edit->value(), value);
  QCOMPARE(edit->text(), shown);
  auto *label = form.findChild<QLabel *>(QStringLiteral("LabelMaxRate"));
  QVERIFY(label);
  QCOMPARE(label->text(), QString("Most tiles per second :"));
  QCOMPARE(label->buddy(), edit);
}

void MaxRateFieldTest::okWritesTheCapAndTakesItAway() {
  GuiRig rig;
  WriteTextFile(rig.SettingsPath(), {"[IniParas]", "DefaultPath=/srv"});
  OptionsDialog form(rig.SettingsPath());
  auto *edit = form.findChild<QDoubleSpinBox *>(QStringLiteral("EditMaxRate"));
  auto *ok = form.findChild<QPushButton *>(QStringLiteral("Button1"));
  QVERIFY(edit && ok);
  const std::pair<double, double> rows[] = {{2.5, 2.5}, {0, 0}, {1000, 1000}};
  for (const auto &[typed, read] : rows) {
    form.show();
    edit->setValue(typed);
    QTest::mouseClick(ok, Qt::LeftButton);
    QVERIFY(!form.isVisible());
    QCOMPARE(ReadSettings(rig.SettingsPath()).MaxRate, read);
  }
  // Taken away, the key stays with 0, and the next showing says so.
  QVERIFY(ReadTextFile(rig.SettingsPath()).find("MaxRate=1000\r\n") !=
          std::string::npos);
  form.show();
  edit->setValue(0);
  QTest::mouseClick(ok, Qt::LeftButton);
  QVERIFY(ReadTextFile(rig.SettingsPath()).find("MaxRate=0\r\n") !=
          std::string::npos);
  form.show();
  QCOMPARE(edit->specialValueText(), edit->text());
}

KESTRANE_GUI_TEST(MaxRateFieldTest);

} // namespace kestrane::guitest

#include "MaxRateFieldTest.moc"
