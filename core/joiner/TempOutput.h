#pragma once
#include <string>

#include "platform/UniqueFd.h"

namespace kestrane {

// The temporary file beside the target that a picture is written to:
// removed unless committed, which renames it onto the target.
class TempOutput {
public:
  // Throws KError(CannotWrite, "Cannot create file " + target + ": " +
  // reason) when no file can be made in the target's folder.
  explicit TempOutput(const std::string &target);
  ~TempOutput();
  TempOutput(const TempOutput &) = delete;
  TempOutput &operator=(const TempOutput &) = delete;

  int Fd() const { return fd_.Get(); }
  const std::string &Path() const { return path_; }
  // The TIFF library owns and closes the descriptor once it has opened it.
  void HandOver() { fd_.Release(); }
  // Renames the file onto the target. Throws KError(CannotWrite) with the
  // reason.
  void Commit();

private:
  std::string target_, path_;
  UniqueFd fd_;
  bool committed_ = false;
};

} // namespace kestrane
