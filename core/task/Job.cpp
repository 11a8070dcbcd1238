#include "task/Job.h"

#include <algorithm>
#include <set>

#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/NumberFormat.h"
#include "platform/Text.h"

namespace kestrane {

namespace {

const char kDirectionLetters[4] = {'N', 'E', 'S', 'W'};

// The items of a list between its ",", empty ones included.
std::vector<std::string_view> Items(std::string_view text) {
  std::vector<std::string_view> items;
  for (;;) {
    const size_t comma = text.find(',');
    items.push_back(text.substr(0, comma));
    if (comma == std::string_view::npos)
      return items;
    text.remove_prefix(comma + 1);
  }
}

// A zoom of a list: digits only (no sign, blank or hexadecimal, which the
// list's own "-" and "," would make ambiguous), in kMinZoom..kMaxZoom.
std::optional<int32_t> ListZoom(std::string_view text, std::string &refusal) {
  const bool digits =
      !text.empty() && std::all_of(text.begin(), text.end(),
                                   [](char c) { return c >= '0' && c <= '9'; });
  const std::optional<int32_t> zoom =
      digits ? StrToIntStrict(text) : std::nullopt;
  if (!zoom || *zoom < kMinZoom || *zoom > kMaxZoom) {
    refusal = "zoom levels go from " + std::to_string(kMinZoom) + " to " +
              std::to_string(kMaxZoom) + ": \"" + std::string(text) + "\"";
    return std::nullopt;
  }
  return zoom;
}

// Adds the values to `list` in ascending order; a value given twice
// refuses the list.
void AddValues(JobList &list, const std::vector<int32_t> &values,
               std::string (*name)(int32_t)) {
  for (const int32_t v : values) {
    if (std::find(list.Values.begin(), list.Values.end(), v) !=
        list.Values.end()) {
      list.Refusal = name(v) + " given twice";
      return;
    }
    list.Values.push_back(v);
  }
  std::sort(list.Values.begin(), list.Values.end());
}

std::string ZoomName(int32_t zoom) {
  return "zoom " + std::to_string(zoom);
}

std::string DirectionName(int32_t dir) {
  static const char *const names[4] = {"North", "East", "South", "West"};
  return names[dir];
}

std::string BaseName(const std::string &typed) {
  const std::string file = TaskFileNameFor(typed);
  return file.substr(0, file.size() - 5); // without ".ktsk"
}

[[noreturn]] void Refuse(const std::string &path, const std::string &what) {
  throw KError(ErrorCause::InvalidFile, "Job file " + path + " " + what);
}

// An entry that names a file of the job file's own folder: a plain name.
bool PlainName(const std::string &entry) {
  return !entry.empty() && entry != "." && entry != ".." &&
         entry.find('/') == std::string::npos;
}

} // namespace

std::optional<int32_t> ParseDirection(std::string_view text) {
  static const char *const kNames[4] = {"north", "east", "south", "west"};
  const std::string lower = AsciiLower(text);
  for (int32_t i = 0; i < 4; ++i)
    if (lower == kNames[i] || lower == std::string(1, char('0' + i)))
      return i;
  return std::nullopt;
}

bool IsZoomList(std::string_view text) {
  return text.find(',') != std::string_view::npos ||
         (text.size() > 1 && text.find('-', 1) != std::string_view::npos);
}

JobList ParseZoomList(std::string_view text) {
  JobList list;
  std::vector<int32_t> zooms;
  for (const std::string_view item : Items(text)) {
    const size_t dash = item.find('-');
    const std::optional<int32_t> from =
        ListZoom(item.substr(0, dash), list.Refusal);
    if (!from)
      return list;
    std::optional<int32_t> to = from;
    if (dash != std::string_view::npos &&
        !(to = ListZoom(item.substr(dash + 1), list.Refusal)))
      return list;
    if (*to < *from) {
      list.Refusal = "range runs downwards: \"" + std::string(item) +
                     "\" (write it " + std::to_string(*to) + "-" +
                     std::to_string(*from) + ")";
      return list;
    }
    for (int32_t z = *from; z <= *to; ++z)
      zooms.push_back(z);
  }
  AddValues(list, zooms, ZoomName);
  return list;
}

bool IsDirectionList(std::string_view text) {
  return AsciiLower(text) == "all" || text.find(',') != std::string_view::npos;
}

JobList ParseDirectionList(std::string_view text) {
  JobList list;
  if (AsciiLower(text) == "all") {
    list.Values = {0, 1, 2, 3};
    return list;
  }
  std::vector<int32_t> dirs;
  for (const std::string_view item : Items(text)) {
    const std::optional<int32_t> dir = ParseDirection(item);
    if (!dir) {
      list.Refusal = "Unknown direction: " + std::string(item);
      return list;
    }
    dirs.push_back(*dir);
  }
  AddValues(list, dirs, DirectionName);
  return list;
}

std::vector<TaskFields> JobTasks(const TaskFields &fields,
                                 const std::vector<int32_t> &zooms,
                                 const std::vector<int32_t> &dirs) {
  std::vector<std::string> zoomTexts;
  for (const int32_t z : zooms)
    zoomTexts.push_back(std::to_string(z));
  if (zoomTexts.empty())
    zoomTexts.push_back(fields.Zoom);
  const std::vector<int32_t> directions =
      dirs.empty() ? std::vector<int32_t>{fields.DirIndex} : dirs;
  const std::string base = BaseName(fields.TaskName);
  std::vector<TaskFields> tasks;
  for (const std::string &zoom : zoomTexts)
    for (const int32_t dir : directions) {
      TaskFields t = fields;
      t.Zoom = zoom;
      t.DirIndex = dir;
      const char letter = dir >= 0 && dir < 4 ? kDirectionLetters[dir] : '?';
      t.TaskName = base + "_z" + zoom + "_" + letter + ".ktsk";
      tasks.push_back(std::move(t));
    }
  return tasks;
}

std::string JobFileNameFor(const std::string &typedTaskName) {
  return BaseName(typedTaskName) + ".kjob";
}

void WriteJobFile(const std::string &path,
                  const std::vector<std::string> &projectFiles) {
  std::vector<std::string> lines{kJobFileHeader};
  for (const std::string &file : projectFiles)
    lines.push_back(ExtractFileName(file));
  WriteLines(path, lines);
}

std::vector<std::string> ReadJobFile(const std::string &path) {
  const std::vector<std::string> lines = ReadLines(path, kMaxJobFileBytes);
  if (lines.empty() || lines.front() != kJobFileHeader)
    throw KError(ErrorCause::InvalidFile, "Not a job file: " + path);
  const std::string folder = ExtractFilePath(path);
  std::vector<std::string> files;
  std::set<std::string> seen;
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::string &entry = lines[i];
    if (entry.empty())
      continue;
    if (!PlainName(entry))
      Refuse(path, "lists a file outside its folder: " + entry);
    if (!seen.insert(entry).second)
      Refuse(path, "lists a task twice: " + entry);
    if (files.size() == kMaxJobTasks)
      Refuse(path,
             "lists more than " + std::to_string(kMaxJobTasks) + " tasks");
    if (!FileExists(folder + entry))
      Refuse(path, "lists a project file that is not there: " + folder + entry);
    files.push_back(folder + entry);
  }
  if (files.empty())
    Refuse(path, "lists no task");
  return files;
}

} // namespace kestrane
