#include "joinerwindow/JoinerWindow.h"

#include <algorithm>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

#include "joinerwindow/RunJoinerWindow.h"

namespace kestrane {

namespace {

QString QStr(const std::string &s) {
  return QString::fromStdString(s);
}

} // namespace

JoinerWindow::JoinerWindow(QWidget *parent) : QWidget(parent) {
  setObjectName(QStringLiteral("JoinerForm"));
  setWindowTitle(QStringLiteral("Tile Joiner"));
  auto *grid = new QGridLayout(this);

  ProjectEdit = new QLineEdit(this);
  auto *projectButton = new QPushButton(QStringLiteral("..."), this);
  grid->addWidget(new QLabel(QStringLiteral("Project file:"), this), 0, 0);
  grid->addWidget(ProjectEdit, 0, 1);
  grid->addWidget(projectButton, 0, 2);

  OutputEdit = new QLineEdit(this);
  auto *outputButton = new QPushButton(QStringLiteral("..."), this);
  grid->addWidget(new QLabel(QStringLiteral("Output file:"), this), 1, 0);
  grid->addWidget(OutputEdit, 1, 1);
  grid->addWidget(outputButton, 1, 2);

  FormatBox = new QComboBox(this);
  FormatBox->setObjectName(QStringLiteral("FormatBox"));
  FormatBox->addItem(QStringLiteral("Cloud-optimized GeoTIFF (.tif)"));
  FormatBox->addItem(QStringLiteral("MBTiles for map apps (.mbtiles)"));
  grid->addWidget(new QLabel(QStringLiteral("Format:"), this), 2, 0);
  grid->addWidget(FormatBox, 2, 1);

  OverviewsBox = new QCheckBox(QStringLiteral("Build overviews"), this);
  OverviewsBox->setChecked(true);
  JoinButton = new QPushButton(QStringLiteral("Join"), this);
  grid->addWidget(OverviewsBox, 3, 1);
  grid->addWidget(JoinButton, 3, 2);

  Progress = new QProgressBar(this);
  Progress->setRange(0, 1000);
  Progress->setValue(0);
  grid->addWidget(Progress, 4, 0, 1, 3);

  Results = new QPlainTextEdit(this);
  Results->setReadOnly(true);
  grid->addWidget(Results, 5, 0, 1, 3);
  resize(560, 320);

  for (auto *b : {projectButton, outputButton})
    b->setFixedWidth(b->fontMetrics().horizontalAdvance(QStringLiteral("...")) +
                     24);
  connect(projectButton, &QPushButton::clicked, this,
          &JoinerWindow::BrowseProject);
  connect(outputButton, &QPushButton::clicked, this,
          &JoinerWindow::BrowseOutput);
  connect(ProjectEdit, &QLineEdit::textChanged, this,
          &JoinerWindow::ProjectChanged);
  connect(FormatBox, &QComboBox::currentIndexChanged, this,
          &JoinerWindow::FormatChanged);
  connect(JoinButton, &QPushButton::clicked, this, &JoinerWindow::JoinClicked);
}

JoinerWindow::~JoinerWindow() {
  Stop();
}

void JoinerWindow::BrowseProject() {
  const QString file = QFileDialog::getOpenFileName(
      this, QStringLiteral("Project file"), ProjectEdit->text(),
      QStringLiteral("Projects(*.ktsk)"));
  if (!file.isEmpty())
    ProjectEdit->setText(file);
}

void JoinerWindow::BrowseOutput() {
  const QString file = QFileDialog::getSaveFileName(
      this, QStringLiteral("Output file"), OutputEdit->text(),
      Format() == JoinFormat::MbTiles ? QStringLiteral("MBTiles(*.mbtiles)")
                                      : QStringLiteral("TIFF(*.tif)"));
  if (!file.isEmpty())
    OutputEdit->setText(file);
}

JoinFormat JoinerWindow::Format() const {
  return FormatBox->currentIndex() == 1 ? JoinFormat::MbTiles
                                        : JoinFormat::GeoTiff;
}

// The output follows the project file and the format until the user writes
// another one.
void JoinerWindow::ProjectChanged() {
  const QString suggested =
      ProjectEdit->text().isEmpty()
          ? QString()
          : QStr(
                DefaultJoinOutput(ProjectEdit->text().toStdString(), Format()));
  if (OutputEdit->text().isEmpty() || OutputEdit->text() == defaultOutput_)
    OutputEdit->setText(suggested);
  defaultOutput_ = suggested;
}

// Overviews are the TIFF's; an output of the other format's extension
// takes this one's.
void JoinerWindow::FormatChanged() {
  const bool mbtiles = Format() == JoinFormat::MbTiles;
  OverviewsBox->setEnabled(!mbtiles);
  QString output = OutputEdit->text();
  const QString from =
      mbtiles ? QStringLiteral(".tif") : QStringLiteral(".mbtiles");
  if (output != defaultOutput_ && output.endsWith(from, Qt::CaseInsensitive)) {
    output.chop(from.size());
    OutputEdit->setText(output + (mbtiles ? QStringLiteral(".mbtiles")
                                          : QStringLiteral(".tif")));
  }
  ProjectChanged();
}

void JoinerWindow::JoinClicked() {
  if (Running()) {
    cancel_.Request();
    JoinButton->setEnabled(false);
    return;
  }
  Results->clear();
  Progress->setValue(0);
  cancel_.Clear();
  JoinButton->setText(QStringLiteral("Cancel"));

  const std::string project = ProjectEdit->text().toStdString();
  const std::string output = OutputEdit->text().toStdString();
  JoinOptions options;
  options.Format = Format();
  options.Overviews = OverviewsBox->isChecked();
  options.Cancel = &cancel_;
  // Progress crosses to the window's thread as values.
  options.Progress = [this](JoinPhase phase, int64_t done, int64_t total) {
    // The checking and joining take the first 0.8 of the bar, the
    // overviews the rest, and so does the writing of the file (without
    // overviews); the bar never goes back.
    const double part = total > 0 ? static_cast<double>(done) / total : 1.0;
    const double start = phase == JoinPhase::Checking  ? 0.0
                         : phase == JoinPhase::Joining ? 0.1
                                                       : 0.8;
    const double span = phase == JoinPhase::Checking  ? 0.1
                        : phase == JoinPhase::Joining ? 0.7
                                                      : 0.2;
    const int value = static_cast<int>((start + span * part) * 1000);
    QMetaObject::invokeMethod(
        this,
        [this, value] {
          Progress->setValue(std::max(value, Progress->value()));
        },
        Qt::QueuedConnection);
  };
  worker_ = std::thread([this, project, output, options] {
    QStringList lines;
    try {
      for (const std::string &line :
           JoinTiles(project, output, options).Lines())
        lines << QStr(line);
    } catch (const std::exception &e) {
      lines << QStr(e.what());
    }
    QMetaObject::invokeMethod(
        this, [this, lines] { Done(lines); }, Qt::QueuedConnection);
  });
}

void JoinerWindow::Done(const QStringList &lines) {
  if (worker_.joinable())
    worker_.join();
  Results->setPlainText(lines.join(QLatin1Char('\n')));
  Progress->setValue(Progress->maximum());
  JoinButton->setText(QStringLiteral("Join"));
  JoinButton->setEnabled(true);
  emit Finished();
}

void JoinerWindow::Stop() {
  cancel_.Request();
  if (worker_.joinable())
    worker_.join();
}

int RunJoinerWindow(int argc, char **argv) {
  QApplication app(argc, argv);
  JoinerWindow window;
  window.show();
  return QApplication::exec();
}

} // namespace kestrane
