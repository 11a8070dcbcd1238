#include "platform/Text.h"

namespace kestrane {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front()))
    s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back()))
    s.remove_suffix(1);
  return s;
}

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string AsciiLower(std::string_view s) {
  std::string out(s);
  for (char &c : out)
    c = AsciiLower(c);
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i]))
      return false;
  return true;
}

std::vector<TextLine> SplitLines(std::string_view text, LineEnds ends) {
  std::vector<TextLine> lines;
  const size_t n = text.size();
  size_t start = 0;
  for (size_t i = 0; i < n; ++i) {
    const char c = text[i];
    const bool crLf = c == '\r' && i + 1 < n && text[i + 1] == '\n';
    size_t textEnd = i;
    size_t endLength = 0;
    if (c == '\n') {
      endLength = 1;
      // Under LfOnly the CR before an LF belongs to the line end too.
      if (ends == LineEnds::LfOnly && i > start && text[i - 1] == '\r') {
        textEnd = i - 1;
        endLength = 2;
      }
    } else if (c == '\r' && ends == LineEnds::CrLfOrLfOrCr) {
      endLength = crLf ? 2 : 1;
    } else {
      continue;
    }
    lines.push_back(
        {text.substr(start, textEnd - start), text.substr(textEnd, endLength)});
    start = textEnd + endLength;
    i = start - 1;
  }
  if (start < n)
    lines.push_back({text.substr(start), std::string_view()});
  return lines;
}

} // namespace kestrane
