#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace kestrane {

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
//   replaced atomically.
class IniFile {
public:
  explicit IniFile(std::string path);

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
  std::string path_;
};

} // namespace kestrane
