#include "platform/Ini.h"

#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/NumberFormat.h"
#include "platform/Text.h"

#include <mutex>
#include <optional>
#include <vector>

namespace kestrane {

namespace {

constexpr size_t kMaxValueLength = 2047;
constexpr std::string_view kLineEnd = "\r\n";

bool SameName(std::string_view a, std::string_view b) {
  return EqualsNoCase(Trim(a), Trim(b));
}

enum class LineKind { Other, Section, Key };

struct Parsed {
  LineKind kind = LineKind::Other;
  std::string_view name;  // section or key name, trimmed
  std::string_view value; // raw text after the first '=' (keys only)
};

Parsed Classify(std::string_view text) {
  Parsed p;
  std::string_view t = Trim(text);
  if (!t.empty() && t.front() == '[') {
    size_t close = t.find(']');
    if (close != std::string_view::npos) {
      p.kind = LineKind::Section;
      p.name = Trim(t.substr(1, close - 1));
      return p;
    }
  }
  size_t eq = text.find('=');
  if (eq == std::string_view::npos)
    return p;
  std::string_view key = Trim(text.substr(0, eq));
  if (key.empty())
    return p;
  p.kind = LineKind::Key;
  p.name = key;
  p.value = text.substr(eq + 1);
  return p;
}

// Where a key stands: the first section of that name, the first key of that
// name inside it, and the section's last key line (where a new key goes).
struct Location {
  std::optional<size_t> section;
  std::optional<size_t> key;
  std::optional<size_t> lastKey;
  std::string_view rawValue;
};

Location Find(const std::vector<TextLine> &lines, std::string_view section,
              std::string_view key) {
  Location loc;
  for (size_t i = 0; i < lines.size(); ++i) {
    Parsed p = Classify(lines[i].Text);
    if (p.kind == LineKind::Section) {
      if (loc.section)
        break; // the first matching section ends here
      if (SameName(p.name, section))
        loc.section = i;
      continue;
    }
    if (!loc.section || p.kind != LineKind::Key)
      continue;
    loc.lastKey = i;
    if (!loc.key && SameName(p.name, key)) {
      loc.key = i;
      loc.rawValue = p.value;
    }
  }
  return loc;
}

std::string CleanValue(std::string_view raw) {
  std::string_view v = Trim(raw);
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') &&
      v.back() == v.front())
    v = v.substr(1, v.size() - 2);
  if (v.size() > kMaxValueLength)
    v = v.substr(0, kMaxValueLength);
  return std::string(v);
}

std::string LowerName(std::string_view name) {
  return AsciiLower(Trim(name));
}

bool HasLineBreak(std::string_view s) {
  return s.find_first_of("\r\n") != std::string_view::npos;
}

// Names and values that would change the file's structure when written as
// they are: a line break would start a new line (a forged key or section), an
// '=' in a key or a ']' in a section name would be read back as another name.
bool WouldBreakFile(std::string_view section, std::string_view key,
                    std::string_view value) {
  return HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value) ||
         Trim(section).empty() || Trim(key).empty() ||
         section.find(']') != std::string_view::npos ||
         key.find('=') != std::string_view::npos || Trim(key).front() == '[';
}

std::string Rewrite(const std::vector<TextLine> &lines, const Location &loc,
                    std::string_view section, std::string_view key,
                    std::string_view value) {
  std::string keyLine = std::string(key) + "=" + std::string(value);
  std::string out;
  auto append = [&out](const TextLine &l) {
    out += l.Text;
    out += l.End;
  };
  if (loc.key) {
    for (size_t i = 0; i < lines.size(); ++i) {
      if (i == *loc.key) {
        out += keyLine;
        out += lines[i].End;
      } else {
        append(lines[i]);
      }
    }
    return out;
  }
  if (loc.section) {
    const size_t after = loc.lastKey ? *loc.lastKey : *loc.section;
    for (size_t i = 0; i < lines.size(); ++i) {
      append(lines[i]);
      if (i == after) {
        if (lines[i].End.empty())
          out += kLineEnd;
        out += keyLine;
        out += kLineEnd;
      }
    }
    return out;
  }
  for (const TextLine &l : lines)
    append(l);
  if (!lines.empty() && lines.back().End.empty())
    out += kLineEnd;
  out += "[";
  out += section;
  out += "]";
  out += kLineEnd;
  out += keyLine;
  out += kLineEnd;
  return out;
}

// Writers in this process take turns, so two read-change-write cycles on the
// same file never lose each other's change.
std::mutex &WriteMutex() {
  static std::mutex mu;
  return mu;
}

} // namespace

IniFile::IniFile(std::string path, unsigned newFileMode)
    : path_(std::move(path)), newFileMode_(newFileMode) {}

IniSnapshot IniFile::Snapshot() const {
  // A missing or unreadable file reads as empty: every key has its default.
  IniSnapshot snap;
  if (std::optional<std::string> bytes =
          TryReadFileBytes(path_, nullptr, kMaxIniFileBytes))
    snap.Parse(*bytes);
  return snap;
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view def) const {
  return Snapshot().ReadString(section, key, def);
}

int32_t IniFile::ReadInteger(std::string_view section, std::string_view key,
                             int32_t def) const {
  return Snapshot().ReadInteger(section, key, def);
}

IniSnapshot::IniSnapshot(const std::string &path) {
  bool missing = false;
  std::optional<std::string> bytes =
      TryReadFileBytes(path, &missing, kMaxIniFileBytes);
  if (!bytes) {
    if (missing)
      return;
    throw KError(ErrorCause::CannotOpen, "Cannot open file " + path);
  }
  Parse(*bytes);
}

void IniSnapshot::Parse(std::string_view bytes) {
  // Only the first section of a name counts, and in it the first key of a
  // name; keys before any section belong to none.
  std::unordered_map<std::string, std::string> *current = nullptr;
  for (const TextLine &line : SplitLines(bytes)) {
    const Parsed p = Classify(line.Text);
    if (p.kind == LineKind::Section) {
      auto [it, added] = sections_.try_emplace(LowerName(p.name));
      current = added ? &it->second : nullptr;
    } else if (p.kind == LineKind::Key && current != nullptr) {
      current->try_emplace(LowerName(p.name), CleanValue(p.value));
    }
  }
}

const std::string *IniSnapshot::Find(std::string_view section,
                                     std::string_view key) const {
  const auto s = sections_.find(LowerName(section));
  if (s == sections_.end())
    return nullptr;
  const auto k = s->second.find(LowerName(key));
  return k == s->second.end() ? nullptr : &k->second;
}

std::string IniSnapshot::ReadString(std::string_view section,
                                    std::string_view key,
                                    std::string_view def) const {
  const std::string *v = Find(section, key);
  return v ? *v : std::string(def);
}

int32_t IniSnapshot::ReadInteger(std::string_view section, std::string_view key,
                                 int32_t def) const {
  const std::string *v = Find(section, key);
  if (!v)
    return def;
  std::optional<int32_t> n = StrToIntStrict(Trim(*v));
  return n ? *n : def;
}

void IniFile::WriteString(std::string_view section, std::string_view key,
                          std::string_view value) {
  const std::pair<std::string, std::string> one(key, value);
  WriteStrings(section, {&one, 1});
}

void IniFile::WriteStrings(
    std::string_view section,
    std::span<const std::pair<std::string, std::string>> values) {
  const KError refused(ErrorCause::CannotWrite, "Unable to write to " + path_);
  for (const auto &[key, value] : values)
    if (WouldBreakFile(section, key, value))
      throw refused;
  std::lock_guard<std::mutex> lock(WriteMutex());
  bool missing = false;
  std::optional<std::string> bytes =
      TryReadFileBytes(path_, &missing, kMaxIniFileBytes);
  if (!bytes && !missing)
    throw refused; // a folder or an unreadable file: never overwrite blindly
  std::string content = bytes ? std::move(*bytes) : std::string();
  // Each key as its own write would leave it, but the file is replaced once.
  for (const auto &[key, value] : values) {
    const std::vector<TextLine> lines = SplitLines(content);
    const Location loc = Find(lines, section, key);
    content = Rewrite(lines, loc, section, key, value);
  }
  if (!WriteFileAtomic(path_, content, nullptr, newFileMode_))
    throw refused;
}

void IniFile::WriteInteger(std::string_view section, std::string_view key,
                           int32_t value) {
  WriteString(section, key, std::to_string(value));
}

} // namespace kestrane
