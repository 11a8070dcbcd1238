#include <cstdio>
#include <optional>
#include <string>

#include "cli/Commands.h"
#include "platform/NumberFormat.h"
#include "tools/Convert.h"

namespace kestrane::cli {

// kestrane-cli convert DEG MIN SEC: prints the decimal degrees with the
// user's decimal separator, or "Input Error." (exit 2).
int RunConvert(const Args &args) {
  if (args.size() != 3) {
    std::fputs("usage: kestrane-cli convert DEG MIN SEC\n", stderr);
    return 2;
  }
  const std::optional<std::string> degrees =
      ConvertDegrees(args[0], args[1], args[2], UserDecimalSeparator());
  if (!degrees) {
    std::fprintf(stderr, "%s\n", kConvertInputError);
    return 2;
  }
  std::printf("%s\n", degrees->c_str());
  return 0;
}

} // namespace kestrane::cli
