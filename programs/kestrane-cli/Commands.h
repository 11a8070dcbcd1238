#pragma once
#include <string>
#include <vector>

#include "inventory/TaskInventory.h"
#include "platform/Errors.h"

namespace kestrane::cli {

using Args = std::vector<std::string>; // the arguments after the command name

// Each command returns the process exit status (platform/ExitStatus.h).
int RunPlan(const Args &args);
int RunDownload(const Args &args);
int RunResume(const Args &args);
int RunOpen(const Args &args);
int RunRedownload(const Args &args);
int RunConvert(const Args &args);
int RunAudit(const Args &args);

// The inventory's counts on stdout, one to a line.
void PrintInventorySummary(const InventoryCounts &counts);

// Ends a command on a failure, the one way every command does: the
// failure's text on stderr (after what stdout holds so far), and the exit
// status of its cause.
int Fail(const KError &failure);
int Fail(ErrorCause cause, const std::string &text);

// Prints one line of a log pane or a report on stdout, the CR LF inside a
// failure text as a line break.
void PrintPaneLine(const std::string &line);

} // namespace kestrane::cli
