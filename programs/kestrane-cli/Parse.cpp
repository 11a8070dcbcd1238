#include "Parse.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "platform/ExitStatus.h"
#include "platform/NumberFormat.h"

namespace kestrane::cli {

namespace {

// The usage line first, as the commands have always printed it, then the
// description and the options.
class UsageFirstFormatter : public CLI::Formatter {
public:
  UsageFirstFormatter() {
    label("Usage", "usage");
    label("OPTIONS", "options");
    label("SUBCOMMAND", "COMMAND");
    label("Subcommands", "commands");
  }
  std::string make_help(const CLI::App *app, std::string name,
                        CLI::AppFormatMode mode) const override {
    if (mode == CLI::AppFormatMode::Sub)
      return make_expanded(app);
    return make_usage(app, name) + make_description(app) +
           make_positionals(app) + make_groups(app, mode) +
           make_subcommands(app, mode) + make_footer(app);
  }
};

} // namespace

std::unique_ptr<CLI::App> CommandApp(const std::string &name,
                                     const std::string &description) {
  auto app = std::make_unique<CLI::App>(description, "kestrane-cli " + name);
  app->formatter(std::make_shared<UsageFirstFormatter>());
  app->get_formatter()->column_width(24);
  return app;
}

std::optional<int> ParseCommand(CLI::App &app, const Args &args) {
  // CLI11 takes the arguments last first.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForVersion &e) {
    std::printf("%s %s\n", app.get_name().c_str(), e.what());
    return kExitDone;
  } catch (const CLI::CallForHelp &) {
    std::fputs(app.help().c_str(), stdout);
    return kExitDone;
  } catch (const CLI::ParseError &e) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n%s", app.get_name().c_str(), e.what(),
                 app.help().c_str());
    return ExitStatusFor(ErrorCause::InputRefused);
  }
  return std::nullopt;
}

void AddMaxRateOption(CLI::App &app, std::optional<double> &maxRate) {
  app.add_option_function<std::string>(
         "--max-rate",
         [&maxRate](const std::string &text) {
           maxRate = *StrToFloatStrict(text);
         },
         "most tiles a second, all requests together (default: the "
         "settings' MaxRate; 0: no cap)")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
      ->check(CLI::Validator(
          [](std::string &text) {
            const std::optional<double> v = StrToFloatStrict(text);
            return v && std::isfinite(*v) && *v >= 0
                       ? std::string()
                       : "--max-rate wants a number of tiles a second, 0 "
                         "or more: " +
                             text;
          },
          "N"));
}

} // namespace kestrane::cli
