// Reading a task back from its project file, and writing the list of the
// tiles it still lacks.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <optional>

#include "inventory/ProjectFile.h"
#include "inventory/TaskInventory.h"
#include "platform/Files.h"
#include "platform/Ini.h"
#include "task/TaskInput.h"

namespace kestrane {

OpenedTask OpenTaskFile(const std::string &projectFile) {
  const IniSnapshot ini(projectFile);
  OpenedTask t;
  t.Left = ini.ReadString("AREA", "LeftLongitude", "");
  t.Right = ini.ReadString("AREA", "RightLongitude", "");
  t.Top = ini.ReadString("AREA", "TopLatitude", "");
  t.Bottom = ini.ReadString("AREA", "BottomLatitude", "");
  t.Path = ExtractFilePath(projectFile);
  t.TaskName = ExtractFileName(projectFile);
  t.Zoom = ini.ReadInteger("Zoom", "Zoom", 0);
  t.Dir = ini.ReadInteger("Dir", "Dir", 0);
  // A value that is no number reads as either default.
  t.DirGiven = t.Dir == ini.ReadInteger("Dir", "Dir", -1);
  return t;
}

TaskFields OpenedTask::Fields() const {
  TaskFields f;
  f.TaskName = TaskName;
  f.Left = Left;
  f.Right = Right;
  f.Top = Top;
  f.Bottom = Bottom;
  f.Zoom = std::to_string(Zoom);
  f.DirIndex = Dir;
  f.Path = Path;
  return f;
}

LoadedTask LoadTask(const std::string &projectFile, TaskEnvironment env) {
  const std::string text = "Cannot open file " + projectFile;
  if (!FileExists(projectFile) || !TryReadFileBytes(projectFile))
    throw KError(ErrorCause::CannotOpen, text);
  const KError refused(ErrorCause::InvalidFile, text);
  // The fields the window loads from the file, through the checks Start
  // runs: what Start would refuse is not a task's project file either. A
  // file without a direction is refused rather than read as North.
  TaskFields fields;
  try {
    const OpenedTask opened = OpenTaskFile(projectFile);
    fields = opened.Fields();
    if (!opened.DirGiven)
      fields.DirIndex = -1;
  } catch (const KError &) {
    throw refused;
  }
  if (fields.Path.empty())
    fields.Path = "./";
  const TaskInputCheck check = CheckTaskInput(fields);
  if (!check.Ok())
    throw refused;

  LoadedTask t;
  t.ProjectFile = projectFile;
  t.Params = std::make_unique<TaskParameters>(
      ParametersFor(check.Input, Settings{}, /*continueTask=*/true));
  TaskParameters &p = *t.Params;
  // The file's own name, whatever its extension.
  p.TaskFileName = fields.TaskName;

  // Building the task makes its tile folder when there is none; looking at
  // a task leaves the disk as it was, so a folder made here goes again.
  const std::string base = p.TaskFileName.substr(
      0, p.TaskFileName.size() - ExtractFileExt(p.TaskFileName).size());
  const std::string tileFolder = p.Path + base + "/";
  const bool hadFolder = DirectoryExists(tileFolder);
  try {
    t.Task = std::make_unique<DownloadTask>(p, std::move(env));
  } catch (const KError &) {
    throw;
  } catch (const std::exception &) {
    throw refused;
  }
  if (!hadFolder)
    ::rmdir(tileFolder.c_str());
  return t;
}

std::string MissingListPath(const std::string &projectFile) {
  const std::string ext = ExtractFileExt(projectFile);
  return projectFile.substr(0, projectFile.size() - ext.size()) +
         "_missing.ftl";
}

namespace {

std::atomic<unsigned> listCounter{0};

// Writes the list through a temporary file beside it (its name holds the
// process id, so a run killed in mid-write leaves one that the next start
// of a task clears) and a rename, streaming: the list of a large block
// never sits in memory as text.
class StreamingReplace {
public:
  explicit StreamingReplace(const std::string &path) : path_(path) {
    for (int attempt = 0; attempt < 100 && file_ == nullptr; ++attempt) {
      temp_ = path + ".tmp" + std::to_string(::getpid()) + "." +
              std::to_string(listCounter.fetch_add(1));
      const int fd =
          ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd < 0) {
        if (errno == EEXIST)
          continue;
        break;
      }
      file_ = ::fdopen(fd, "wb");
      if (file_ == nullptr)
        ::close(fd);
    }
    if (file_ == nullptr)
      throw KError(ErrorCause::CannotWrite, "Cannot create file " + path_);
  }
  StreamingReplace(const StreamingReplace &) = delete;
  StreamingReplace &operator=(const StreamingReplace &) = delete;
  ~StreamingReplace() {
    if (file_ != nullptr) {
      std::fclose(file_);
      ::unlink(temp_.c_str());
    }
  }

  void Write(const std::string &bytes) {
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size())
      ok_ = false;
  }

  void Commit() {
    ok_ = std::fflush(file_) == 0 && ::fsync(::fileno(file_)) == 0 && ok_;
    ok_ = std::fclose(file_) == 0 && ok_;
    file_ = nullptr;
    if (!ok_ || ::rename(temp_.c_str(), path_.c_str()) != 0) {
      ::unlink(temp_.c_str());
      throw KError(ErrorCause::CannotWrite, "Cannot create file " + path_);
    }
  }

private:
  std::string path_, temp_;
  std::FILE *file_ = nullptr;
  bool ok_ = true;
};

} // namespace

void WriteMissingList(const DownloadTask &task, const TaskInventory &inventory,
                      const std::string &listPath) {
  StreamingReplace out(listPath);
  std::string chunk;
  for (const InventoryTile &t : inventory.Problems) {
    if (t.State == TileState::Stored)
      continue; // listed for its side file only
    chunk += task.TilePath(t.X, t.Y);
    chunk += '|';
    chunk += task.TileUrl(t.X, t.Y);
    chunk += "\r\n";
    if (chunk.size() >= 1 << 16) {
      out.Write(chunk);
      chunk.clear();
    }
  }
  out.Write(chunk);
  out.Commit();
}

} // namespace kestrane

namespace kestrane {

std::vector<std::string> InventorySummaryLines(const InventoryCounts &c) {
  return {"Tiles in the block: " + std::to_string(c.Total),
          "Stored: " + std::to_string(c.Stored),
          "Placeholders: " + std::to_string(c.Placeholder),
          "Damaged: " + std::to_string(c.Damaged),
          "Missing: " + std::to_string(c.Missing),
          "Side files: " + std::to_string(c.SideFiles)};
}

std::string InventorySummaryLine(const InventoryCounts &c) {
  return std::to_string(c.Stored) + " of " + std::to_string(c.Total) +
         " tiles stored, " + std::to_string(c.Placeholder) + " placeholders, " +
         std::to_string(c.Damaged) + " damaged, " + std::to_string(c.Missing) +
         " missing, " + std::to_string(c.SideFiles) + " side files";
}

std::string BlankImageBytes(const std::string &programFolder) {
  const std::string folder =
      programFolder.empty() ? ProgramFolder() : programFolder;
  return TryReadFileBytes(folder + "blankimg/blank180.jpg")
      .value_or(std::string());
}

bool TileFileIsStored(const std::string &path, const std::string &blankImage) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0)
    return false;
  if (blankImage.empty() ||
      static_cast<size_t>(st.st_size) != blankImage.size())
    return true;
  const std::optional<std::string> bytes = TryReadFileBytes(path);
  return bytes && *bytes != blankImage;
}

} // namespace kestrane
