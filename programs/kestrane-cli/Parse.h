#pragma once
// The command line's options, parsed by CLI11: one CLI::App per command.
#include <CLI/CLI.hpp>
#include <memory>
#include <optional>
#include <string>

#include "Commands.h"

namespace kestrane::cli {

// A command's description: its help begins "usage: kestrane-cli NAME
// [options] ..." followed by `description` and the options.
std::unique_ptr<CLI::App> CommandApp(const std::string &name,
                                     const std::string &description);

// Parses the arguments after the command name. Returns the exit status when
// the command ends here: 0 after --help (the help on stdout), 2 after an
// unknown option, a missing value or a refused one (the reason, then the
// help, on stderr).
std::optional<int> ParseCommand(CLI::App &app, const Args &args);

// Adds --max-rate N (tiles a second for all requests together, a decimal
// number with "." as the point; 0: no cap) to a command; parsing writes it
// into `maxRate`, which must outlive the parse. Without the option the
// settings' MaxRate holds.
void AddMaxRateOption(CLI::App &app, std::optional<double> &maxRate);

} // namespace kestrane::cli
