#pragma once
// Two drives of the desktop program's windows that end on their own: every
// window saved as a picture, and the options dialog's save and read-back.
#include <QString>

#include "mainwindow/MainWindow.h"

namespace kestrane {

// Shows every window in turn and saves it as a PNG in `folder`: a check of
// captions and layout. With a project file the main window then starts
// that task and is saved again after `seconds` of downloading. Message
// boxes go to stderr. The exit status: 0 when every picture was saved.
int SaveScreenshots(MainWindow &mainWindow, const ToolWindows &tools,
                    const QString &folder, const QString &task, int seconds);

// The options dialog's round trip: types `folder` as the default path,
// presses OK, shows the dialog again (which reads the file back) and prints
// where the settings went. Exit status 0 when the folder came back.
int OptionsRoundTrip(OptionsDialog &options, const QString &folder);

} // namespace kestrane
