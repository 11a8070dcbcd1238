// The main window's layout: at its default size (596 x 357) and at its
// smallest, with the longest texts a large task gives, no widget is cut off
// and no text runs past its widget; the fields' column grows with a wide
// window; the progress line wraps between its parts, never inside a figure
// and its unit.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTextLayout>

#include "control/Progress.h"
#include "mainwindow/MainWindow.h"
#include "tests/windows/GuiTestSupport.h"
#include "tests/windows/MainWindowDriver.h"

namespace kestrane::guitest {

namespace {

// Why `w` does not show whole; empty when it does.
QString Clipped(const QWidget *w) {
  const QWidget *parent = w->parentWidget();
  if (parent != nullptr && !parent->rect().contains(w->geometry()))
    return QStringLiteral("outside its parent");
  const QFontMetrics metrics = w->fontMetrics();
  if (const auto *label = qobject_cast<const QLabel *>(w)) {
    if (label->text().isEmpty())
      return {};
    if (label->wordWrap())
      return label->heightForWidth(label->width()) > label->height()
                 ? QStringLiteral("wrapped text taller than the label")
                 : QString();
    return metrics.horizontalAdvance(label->text()) >
                   label->contentsRect().width()
               ? QStringLiteral("text wider than the label")
               : QString();
  }
  if (const auto *button = qobject_cast<const QPushButton *>(w)) {
    const QString text = QString(button->text()).remove(QLatin1Char('&'));
    return metrics.horizontalAdvance(text) + 6 > button->width()
               ? QStringLiteral("caption wider than the button")
               : QString();
  }
  if (const auto *combo = qobject_cast<const QComboBox *>(w))
    return metrics.horizontalAdvance(combo->currentText()) + 20 > combo->width()
               ? QStringLiteral("choice wider than the list")
               : QString();
  if (w->height() < w->minimumSizeHint().height())
    return QStringLiteral("lower than it needs");
  return {};
}

// Every visible widget of the window that does not show whole.
QStringList ClippedWidgets(QWidget &window) {
  window.layout()->activate();
  QApplication::processEvents();
  QStringList clipped;
  for (const QWidget *w : window.findChildren<QWidget *>()) {
    // The inner parts of the toolkit's own widgets, and the spinner's two
    // small arrows, lay themselves out.
    if (!w->isVisible() || w->objectName().startsWith(QLatin1String("qt_")) ||
        qobject_cast<const QPlainTextEdit *>(w->parentWidget()) ||
        qobject_cast<const UpDown *>(w->parentWidget()))
      continue;
    const QString why = Clipped(w);
    if (!why.isEmpty())
      clipped << QStringLiteral("%1 (%2 \"%3\") %4: %5x%6")
                     .arg(w->objectName(), w->metaObject()->className(),
                          w->property("text").toString(), why)
                     .arg(w->width())
                     .arg(w->height());
  }
  return clipped;
}

// The progress line of a large task that ended after a second run.
QString LongProgressLine() {
  TaskProgress p;
  p.Total = 1570646;
  p.Stored = 1550000;
  p.GivenUp = 646;
  p.Skipped = 20000;
  InventoryCounts end;
  end.Total = 1570646;
  end.Stored = 1550000;
  end.Placeholder = 20646;
  return QString::fromStdString(
      ProgressLineWithEnd(ComputeProgress(p, false, 3600), end));
}

// Where the lines of `text` in `label`'s font and width break.
QStringList WrappedLines(const QLabel *label) {
  QTextLayout layout(label->text(), label->font());
  QTextOption option;
  option.setWrapMode(QTextOption::WordWrap);
  layout.setTextOption(option);
  QStringList lines;
  layout.beginLayout();
  for (QTextLine line = layout.createLine(); line.isValid();
       line = layout.createLine()) {
    line.setLineWidth(label->contentsRect().width());
    lines << label->text().mid(line.textStart(), line.textLength());
  }
  layout.endLayout();
  return lines;
}

} // namespace

class MainWindowLayoutTest : public QObject {
  Q_OBJECT
private slots:
  void nothingIsCutOff_data();
  void nothingIsCutOff();
  void fieldsColumnGrowsWithTheWindow();
  void progressLineKeepsFiguresWithTheirUnits();
};

void MainWindowLayoutTest::nothingIsCutOff_data() {
  QTest::addColumn<bool>("smallest");
  QTest::addColumn<bool>("largeTask");
  QTest::newRow("default size, fresh form") << false << false;
  QTest::newRow("default size, a large task") << false << true;
  QTest::newRow("smallest size, fresh form") << true << false;
  QTest::newRow("smallest size, a large task") << true << true;
}

void MainWindowLayoutTest::nothingIsCutOff() {
  QFETCH(bool, smallest);
  QFETCH(bool, largeTask);
  GuiRig rig;
  MainWindowDriver w(rig);
  w.form.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w.form));
  QCOMPARE(w.form.size(), QSize(596, 357));
  if (smallest) {
    w.form.resize(w.form.minimumSize());
    QCOMPARE(w.form.size(), w.form.minimumSize());
  }
  if (largeTask) {
    // An area of 1,570,646 tiles typed, and the texts of its download.
    w.Edit("Edit1")->setText(QStringLiteral("-122.5"));
    w.Edit("Edit3")->setText(QStringLiteral("-121.5"));
    w.Edit("Edit2")->setText(QStringLiteral("48"));
    w.Edit("Edit4")->setText(QStringLiteral("47.4"));
    w.Get<UpDown>("UpDown1")->SetValue(19);
    w.Edit("Edit6")->setText(QString::fromStdString(rig.Dir()));
    QVERIFY2(w.Estimate().startsWith(QLatin1String("Tiles: ")),
             qPrintable(w.Estimate()));
    auto *total = w.Get<QLabel>("LabelTotalxy");
    total->setText(QStringLiteral("Total images: 1,570,646"));
    total->show();
    auto *bar = w.Get<QProgressBar>("ProgressBar1");
    bar->setRange(0, 1570646);
    bar->setValue(1570646);
    bar->setFormat(QStringLiteral("1,570,646 / 1,570,646"));
    bar->setTextVisible(true);
    w.Get<QLabel>("LabelProgress")
        ->setText(KeepUnitsTogether(LongProgressLine()));
  }
  const QStringList clipped = ClippedWidgets(w.form);
  QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(QLatin1Char('\n'))));
  // The estimate shows whole on its one line.
  auto *estimate = w.Get<QLabel>("LabelEstimate");
  QVERIFY2(estimate->fontMetrics().horizontalAdvance(estimate->text()) <=
               estimate->contentsRect().width(),
           qPrintable(estimate->text()));
  // The fields' column ends above the progress row: the count never runs
  // into the button.
  QVERIFY(w.Button()->mapTo(&w.form, QPoint(0, w.Button()->height())).y() <=
          w.Get<QProgressBar>("ProgressBar1")->mapTo(&w.form, QPoint()).y());
}

void MainWindowLayoutTest::fieldsColumnGrowsWithTheWindow() {
  GuiRig rig;
  MainWindowDriver w(rig);
  w.form.show();
  QWidget *fields = w.Get<QWidget>("PanelFields");
  const int narrow = fields->width();
  w.form.resize(1400, 900);
  w.form.layout()->activate();
  QApplication::processEvents();
  QVERIFY2(
      fields->width() > narrow + 150,
      qPrintable(QStringLiteral("%1 -> %2").arg(narrow).arg(fields->width())));
  // The log pane keeps the larger part; its lines scroll sideways.
  QVERIFY(w.Memo1()->width() > fields->width());
  QCOMPARE(w.Memo1()->lineWrapMode(), QPlainTextEdit::NoWrap);
}

void MainWindowLayoutTest::progressLineKeepsFiguresWithTheirUnits() {
  GuiRig rig;
  MainWindowDriver w(rig);
  w.form.show();
  w.form.resize(w.form.minimumSize());
  auto *label = w.Get<QLabel>("LabelProgress");
  TaskProgress running;
  running.Total = 1570646;
  running.Stored = 12000;
  running.GivenUp = 1234;
  running.Skipped = 20000;
  for (const QString &line :
       {QString::fromStdString(ProgressLine(running, true, 1000)),
        LongProgressLine()}) {
    label->setText(KeepUnitsTogether(line));
    w.form.layout()->activate();
    QApplication::processEvents();
    const QStringList lines = WrappedLines(label);
    QVERIFY2(lines.size() > 1, qPrintable(lines.join('|')));
    // No line ends in a figure or inside "tiles/s": its unit or its word
    // would start the next one.
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
      const QString end = PlainText(lines[i]).trimmed();
      QVERIFY2(!end.back().isDigit() && !end.endsWith(QLatin1Char('/')),
               qPrintable(lines.join('|')));
    }
    QCOMPARE(PlainText(lines.join(QString())), line);
  }
}

KESTRANE_GUI_TEST(MainWindowLayoutTest);

} // namespace kestrane::guitest

#include "MainWindowLayoutTest.moc"
