#include "tile/Placeholder.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <optional>

#include "platform/Files.h"

namespace kestrane {

std::string PlaceholderPath(const std::string &programFolder, int32_t number,
                            std::string_view extension) {
  const std::string folder =
      programFolder.empty() ? ProgramFolder() : programFolder;
  return folder + "blankimg/blank" + std::to_string(number) + "." +
         std::string(extension);
}

std::string PlaceholderBytes(const std::string &programFolder) {
  return TryReadFileBytes(PlaceholderPath(programFolder))
      .value_or(std::string());
}

bool PlacePlaceholder(const std::string &placeholderPath,
                      const std::string &tilePath) {
  return PlacePlaceholder(placeholderPath, AT_FDCWD, tilePath);
}

bool PlacePlaceholder(const std::string &placeholderPath, int folderFd,
                      const std::string &tileName) {
  return CopyFileToAt(placeholderPath, folderFd, tileName,
                      /*failIfExists=*/true) ||
         FileExistsAt(folderFd, tileName) || !FileExists(placeholderPath);
}

bool TileFileIsStored(const std::string &path, const std::string &placeholder) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0)
    return false;
  if (placeholder.empty() ||
      static_cast<size_t>(st.st_size) != placeholder.size())
    return true;
  const std::optional<std::string> bytes = TryReadFileBytes(path);
  return bytes && *bytes != placeholder;
}

} // namespace kestrane
