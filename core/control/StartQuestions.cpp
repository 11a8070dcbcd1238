#include "control/StartQuestions.h"

#include "platform/Files.h"
#include "platform/Ini.h"
#include "platform/NumberFormat.h"
#include "task/Estimate.h"

namespace kestrane {

namespace {

std::string DirectionName(int32_t dir) {
  static const char *const kNames[] = {"North", "East", "South", "West"};
  return dir >= 0 && dir <= 3 ? kNames[dir] : std::to_string(dir);
}

std::string Quoted(const std::string &value) {
  return "\"" + value + "\"";
}

} // namespace

std::vector<FieldDifference> DifferingFields(const std::string &projectFile,
                                             const TaskFields &fields,
                                             int32_t zoom, int32_t dir) {
  const IniSnapshot ini(projectFile);
  std::vector<FieldDifference> out;
  const auto compare = [&out](const char *field, const std::string &typed,
                              const std::string &saved) {
    if (typed != saved)
      out.push_back({field, typed, saved});
  };
  compare("Task name", fields.TaskName, ExtractFileName(projectFile));
  compare("Path to save", IncludeTrailingDelimiter(fields.Path),
          ExtractFilePath(projectFile));
  compare("Left Longitude", fields.Left,
          ini.ReadString("AREA", "LeftLongitude", ""));
  compare("Right Longitude", fields.Right,
          ini.ReadString("AREA", "RightLongitude", ""));
  compare("Top Latitude", fields.Top,
          ini.ReadString("AREA", "TopLatitude", ""));
  compare("Bottom Latitude", fields.Bottom,
          ini.ReadString("AREA", "BottomLatitude", ""));
  // Numbers are compared as numbers and shown as the rule read them.
  const int32_t savedZoom = ini.ReadInteger("Zoom", "Zoom", 100);
  if (savedZoom != zoom)
    out.push_back({"Zoom level", fields.Zoom, std::to_string(savedZoom)});
  const int32_t savedDir = ini.ReadInteger("Dir", "Dir", 0);
  if (savedDir != dir)
    out.push_back({"Direction", DirectionName(dir), DirectionName(savedDir)});
  const int32_t savedMaps = ini.ReadInteger("MapsType", "MapsType", 100);
  if (savedMaps != 21)
    out.push_back({"Map type", "21", std::to_string(savedMaps)});
  return out;
}

bool ContinuesEarlierRun(const std::string &projectFile,
                         const TaskFields &fields, int32_t zoom, int32_t dir) {
  return FileExists(projectFile) &&
         DifferingFields(projectFile, fields, zoom, dir).empty();
}

bool HoldsPositions(const std::string &projectFile, int32_t slots) {
  const IniSnapshot ini(projectFile);
  for (int32_t i = 1; i <= slots; ++i)
    for (const char axis : {'X', 'Y'})
      if (!ini.ReadString("THREADS", "T" + std::to_string(i) + axis, "")
               .empty())
        return true;
  return false;
}

const std::vector<std::string> &RestartAnswerTexts() {
  static const std::vector<std::string> kTexts = {"Continue the saved task",
                                                  "Start afresh", "Cancel"};
  return kTexts;
}

std::string RestartQuestion(const std::string &projectFile,
                            const std::vector<FieldDifference> &differences) {
  std::string text = "The task file " + projectFile +
                     " holds the saved positions of an earlier run, but the "
                     "fields differ from it:\n";
  for (const FieldDifference &d : differences)
    text += "\n" + d.Field + ": " + Quoted(d.Typed) + " now, " +
            Quoted(d.Saved) + " in the file";
  text += "\n\nContinue the saved task (its values go back into the "
          "fields), start it afresh (the saved positions are lost), or "
          "cancel?";
  return text;
}

std::optional<std::string> LongTaskQuestion(int64_t tiles,
                                            int64_t leastMilliseconds) {
  if (leastMilliseconds <= kLongTaskMilliseconds)
    return std::nullopt;
  return "This task has " + GroupDigits(tiles) +
         " tiles; at the service's pace their download takes at least " +
         FormatDuration(leastMilliseconds, DurationStyle::Compact) +
         ". Start it?";
}

} // namespace kestrane
