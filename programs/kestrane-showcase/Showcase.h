#pragma once
// The program's windows put into a state to be looked at under a real window
// manager: the README's screenshots and the caption test use it through
// `kestrane-showcase --showcase STATE`.
#include <QString>

#include "mainwindow/MainWindow.h"

namespace kestrane {

// Queues the steps of a showcase; the caller then runs the event loop, and
// whoever looks ends the process. States:
//  "greeting"     the main window's fresh form: how to begin;
//  "estimate"     the main window with an area typed: the estimate line;
//  "longtask"     a degree square at zoom 18 started: the question first;
//  "message"      the converter beside the main window's fields, and the
//                 main window's message box of a refused Start over both;
//  "options"      the converter open, and the modal options dialog;
//  "opener"       "User manual" where nothing opens files: the message;
//  "about"        the about box;
//  "picker-world" the area picker beside the main window, on the world;
//  "picker-city"  the same on a quarter of Paris at zoom 17;
//  "picker-outline" the picker on a province, "Use outline" ticked;
//  "redownload"   the Re-Download window after a run of the list `ftl`.
// With a project file `task`, opened into the fields first:
//  "download"     the task started;
//  "restart"      Start with its name typed without ".ktsk": the question;
//  "viewer", "joiner"  the tool program opened on it beside the window;
//  "viewer-outline"    the tile viewer in this process on the task with
//                 the outline of "<task>_area.geojson" beside it.
// False for an unknown state.
bool StartShowcase(MainWindow &mainWindow, const ToolWindows &tools,
                   const QString &state, const QString &ftl,
                   const QString &task = {});

} // namespace kestrane
