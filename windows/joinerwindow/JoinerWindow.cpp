#include "joinerwindow/JoinerWindow.h"

#include <algorithm>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

#include <memory>
#include <optional>

#include "joiner/JoinProgress.h"
#include "joinerwindow/RunJoinerWindow.h"
#include "platform/Files.h"
#include "qtbridge/Placement.h"
#include "task/Settings.h"

namespace kestrane {

JoinerWindow::JoinerWindow(QWidget *parent)
    : QWidget(parent), box_(this), messages_(&box_) {
  shellOpen_ = [](const QUrl &url) { return QDesktopServices::openUrl(url); };
  setObjectName(QStringLiteral("JoinerForm"));
  setWindowTitle(QStringLiteral("Tile Joiner"));
  auto *grid = new QGridLayout(this);

  ProjectEdit = new QLineEdit(this);
  auto *projectButton = projectButton_ =
      new QPushButton(QStringLiteral("..."), this);
  grid->addWidget(new QLabel(QStringLiteral("Project file:"), this), 0, 0);
  grid->addWidget(ProjectEdit, 0, 1);
  grid->addWidget(projectButton, 0, 2);

  OutputEdit = new QLineEdit(this);
  auto *outputButton = outputButton_ =
      new QPushButton(QStringLiteral("..."), this);
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
  OpenFolderButton = new QPushButton(QStringLiteral("Open folder"), this);
  OpenFolderButton->setObjectName(QStringLiteral("ButtonOpenFolder"));
  OpenFolderButton->setEnabled(false);
  grid->addWidget(OpenFolderButton, 6, 2);
  resize(600, 380);

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
  connect(OpenFolderButton, &QPushButton::clicked, this,
          &JoinerWindow::OpenFolderClicked);
}

JoinerWindow::~JoinerWindow() {
  Stop();
}

QString JoinerWindow::DialogFolder() const {
  for (const QLineEdit *edit : {ProjectEdit, OutputEdit}) {
    const std::string path = edit->text().toStdString();
    if (!path.empty() && !ExtractFilePath(path).empty())
      return QStr(ExtractFilePath(path));
  }
  return startFolder_;
}

void JoinerWindow::BrowseProject() {
  const QString file = QFileDialog::getOpenFileName(
      this, QStringLiteral("Project file"), DialogFolder(),
      QStringLiteral("Projects(*.ktsk)"));
  if (!file.isEmpty())
    ProjectEdit->setText(file);
}

void JoinerWindow::BrowseOutput() {
  const QString start =
      OutputEdit->text().isEmpty() ? DialogFolder() : OutputEdit->text();
  const QString file = QFileDialog::getSaveFileName(
      this, QStringLiteral("Output file"), start,
      Format() == JoinFormat::MbTiles ? QStringLiteral("MBTiles(*.mbtiles)")
                                      : QStringLiteral("TIFF(*.tif)"),
      nullptr, QFileDialog::DontConfirmOverwrite); // Join asks
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
  const std::string project = ProjectEdit->text().toStdString();
  const std::string output = OutputEdit->text().toStdString();
  // A picture of an earlier join is replaced only when the user says so.
  const std::string target =
      output.empty() && !project.empty() ? DefaultJoinOutput(project) : output;
  if (!target.empty() && FileExists(target) &&
      !messages_.AskYesNo("The picture " + target +
                          " exists already. Replace it?"))
    return;
  Results->clear();
  Progress->setValue(0);
  cancel_.Clear();
  written_.clear();
  OpenFolderButton->setEnabled(false);
  JoinButton->setText(QStringLiteral("Cancel"));
  LockInputs(true);

  JoinOptions options;
  options.Format = Format();
  options.Overviews = OverviewsBox->isChecked();
  options.Cancel = &cancel_;
  // Progress crosses to the window's thread as values; the reduced levels
  // and the TIFF's layout count for the work they take.
  auto progress = std::make_shared<JoinProgress>(
      options.Overviews, options.Format == JoinFormat::GeoTiff);
  options.Progress = [this, progress](JoinPhase phase, int64_t done,
                                      int64_t total) {
    progress->Report(phase, done, total);
    const int value = static_cast<int>(progress->Fraction() * 1000);
    QMetaObject::invokeMethod(
        this,
        [this, value] {
          Progress->setValue(std::max(value, Progress->value()));
        },
        Qt::QueuedConnection);
  };
  worker_ = std::thread([this, project, output, options] {
    QStringList lines;
    QString written;
    try {
      const JoinResult result = JoinTiles(project, output, options);
      for (const std::string &line : result.Lines())
        lines << QStr(line);
      if (!result.Cancelled)
        written = QStr(result.OutputFile);
    } catch (const std::exception &e) {
      lines << QStr(e.what());
    }
    QMetaObject::invokeMethod(
        this, [this, lines, written] { Done(lines, written); },
        Qt::QueuedConnection);
  });
}

void JoinerWindow::Done(const QStringList &lines, const QString &written) {
  if (worker_.joinable())
    worker_.join();
  Results->setPlainText(lines.join(QLatin1Char('\n')));
  // A full bar says a picture was written; a cancelled or failed join
  // leaves none, and an empty bar.
  Progress->setValue(written.isEmpty() ? 0 : Progress->maximum());
  written_ = written;
  OpenFolderButton->setEnabled(!written.isEmpty());
  JoinButton->setText(QStringLiteral("Join"));
  JoinButton->setEnabled(true);
  LockInputs(false);
  emit Finished();
}

void JoinerWindow::LockInputs(bool locked) {
  ProjectEdit->setReadOnly(locked);
  OutputEdit->setReadOnly(locked);
  projectButton_->setEnabled(!locked);
  outputButton_->setEnabled(!locked);
  FormatBox->setEnabled(!locked);
  // MBTiles have no overviews of the TIFF's kind.
  OverviewsBox->setEnabled(!locked && Format() != JoinFormat::MbTiles);
}

void JoinerWindow::OpenFolderClicked() {
  if (written_.isEmpty())
    return;
  const QUrl folder =
      QUrl::fromLocalFile(QStr(ExtractFilePath(written_.toStdString())));
  if (!shellOpen_(folder))
    messages_.ShowMessage(CannotOpenText(folder));
}

void JoinerWindow::Stop() {
  cancel_.Request();
  if (worker_.joinable())
    worker_.join();
}

int RunJoinerWindow(int argc, char **argv) {
  QApplication app(argc, argv);
  NameApplication();
  app.setWindowIcon(QIcon(QStr(ProgramFolder() + "kestrane.png")));
  JoinerWindow window;
  const Settings settings = ReadSettings(SettingsPath(ProgramFolder()));
  window.SetStartFolder(QStr(settings.DefaultPath.empty()
                                 ? DefaultDownloadFolder()
                                 : settings.DefaultPath));
  const QStringList args = QApplication::arguments();
  if (const std::optional<QRect> place = PlaceFromArguments(args))
    MoveToPlace(&window, *place);
  window.show();
  // The project file among the arguments: the main window's task in hand.
  for (qsizetype i = 1; i < args.size(); ++i) {
    if (args[i] == QLatin1String("--place")) {
      ++i;
      continue;
    }
    if (!args[i].startsWith(QLatin1Char('-'))) {
      window.ProjectEdit->setText(args[i]);
      break;
    }
  }
  return QApplication::exec();
}

} // namespace kestrane
