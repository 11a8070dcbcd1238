#pragma once
// The program's windows put into a state to be looked at under a real window
// manager: the README's screenshots and the caption test use it through
// `kestrane-showcase --showcase STATE`.
#include <QString>

#include "mainwindow/MainWindow.h"

namespace kestrane {

// Queues the steps of a showcase; the caller then runs the event loop, and
// whoever looks ends the process. States:
//  "estimate"   the main window with an area typed: the estimate line;
//  "message"    the converter beside the main window, and the main
//               window's message box of a refused Start over both;
//  "options"    the converter open, and the modal options dialog;
//  "redownload" the Re-Download window after a run of the list `ftl`.
// False for an unknown state.
bool StartShowcase(MainWindow &mainWindow, const ToolWindows &tools,
                   const QString &state, const QString &ftl);

} // namespace kestrane
