#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace kestrane {

class IniSnapshot;

// INI file access with the private-profile semantics the project file and the
// settings file rely on. No explicit load or save: every read looks at the
// file as it is now, every write changes the file at once.
// - Section and key names match without regard to case (ASCII).
// - Reads drop blanks around a value and one pair of enclosing single or
//   double quotes, and return at most 2,047 characters.
// - A key present with an empty value reads as "", not the default.
// - A write replaces an existing key's line in place, adds a new key after
//   the last entry of its section, a new section at the end of the file, and
//   creates a missing file. Every other line stays byte for byte. The file is
//   replaced atomically (a link at the path is replaced, not followed).
// - A file that is not a regular file, or larger than 1 MiB, reads as empty
//   and is never written over.
class IniFile {
public:
  // `newFileMode`: the permissions of the file when a write creates it (a
  // settings file holds the proxy password: 0600); an existing file keeps
  // its own.
  explicit IniFile(std::string path, unsigned newFileMode = 0666);

  const std::string &FileName() const { return path_; }

  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view def) const;
  // The text converted as by StrToIntStrict ("$" and "0x" hexadecimal
  // accepted); a text that is not a whole number, and a missing key, give def.
  int32_t ReadInteger(std::string_view section, std::string_view key,
                      int32_t def) const;

  // Throw KError("Unable to write to " + path) when the write is refused.
  void WriteString(std::string_view section, std::string_view key,
                   std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key,
                    int32_t value);
  // Several keys of one section in one replacement of the file, each as
  // WriteString would write it; nothing is written when one is refused.
  void
  WriteStrings(std::string_view section,
               std::span<const std::pair<std::string, std::string>> values);

private:
  IniSnapshot Snapshot() const;

  std::string path_;
  unsigned newFileMode_;
};

// One reading of an INI file, for a caller that reads many keys at once
// (opening a project file, reading the settings): the file is read and
// parsed once and every key is looked up in that parse, with the lookup
// rules of IniFile (first section of a name, first key of a name in it).
class IniSnapshot {
public:
  // Throws KError("Cannot open file " + path) when something stands at path
  // that is not a regular file of at most 1 MiB (a FIFO, device, socket or
  // folder, or an oversized file) or cannot be read. A missing file is no
  // error: every key then has its default.
  explicit IniSnapshot(const std::string &path);

  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view def) const;
  int32_t ReadInteger(std::string_view section, std::string_view key,
                      int32_t def) const;

private:
  friend class IniFile;
  IniSnapshot() = default;
  void Parse(std::string_view bytes);
  const std::string *Find(std::string_view section, std::string_view key) const;

  // Lower-case section name -> lower-case key name -> value as read.
  std::unordered_map<std::string, std::unordered_map<std::string, std::string>>
      sections_;
};

} // namespace kestrane
