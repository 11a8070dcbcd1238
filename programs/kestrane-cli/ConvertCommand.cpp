#include <cstdio>
#include <optional>
#include <string>

#include "Commands.h"
#include "Parse.h"
#include "geo/DmsConverter.h"
#include "platform/ExitStatus.h"
#include "platform/NumberFormat.h"

namespace kestrane::cli {

// kestrane-cli convert DEG MIN SEC: prints the decimal degrees with the
// user's decimal separator, or "Input Error." (exit 2).
int RunConvert(const Args &args) {
  std::string deg, min, sec;
  const auto app = CommandApp(
      "convert", "Turns degrees, minutes and seconds into decimal degrees.");
  app->add_option("DEG", deg, "whole degrees")->required();
  app->add_option("MIN", min, "whole minutes")->required();
  app->add_option("SEC", sec, "seconds")->required();
  if (const std::optional<int> status = ParseCommand(*app, args))
    return *status;
  const std::optional<std::string> degrees =
      ConvertDegrees(deg, min, sec, UserDecimalSeparator());
  if (!degrees)
    return Fail(ErrorCause::InputRefused, kConvertInputError);
  std::printf("%s\n", degrees->c_str());
  return kExitDone;
}

} // namespace kestrane::cli
