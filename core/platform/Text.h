#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace kestrane {

// Text helpers shared by the settings files, the command line, the place
// search and the sample server. Case is folded for ASCII letters only: the
// names compared this way (keys, sections, header names, option words) are
// ASCII, and bytes of other characters stay as they are.

// A space or a tab.
bool IsBlank(char c);
// `s` without the spaces and tabs at either end.
std::string_view Trim(std::string_view s);

char AsciiLower(char c);
std::string AsciiLower(std::string_view s);
// Equal when the ASCII letters are folded to one case.
bool EqualsNoCase(std::string_view a, std::string_view b);

// One line of a text and the line end that closed it ("\r\n", "\n", "\r",
// or empty for a last line without one), so a text can be written back
// byte for byte.
struct TextLine {
  std::string_view Text;
  std::string_view End;
};

// Which bytes end a line: text files accept CR LF, LF and a bare CR; the
// HTTP head only LF (with an optional CR before it), so a bare CR stays in
// the line.
enum class LineEnds { CrLfOrLfOrCr, LfOnly };

// The lines of `text`, views into it. A last line without a line end counts;
// a final line end makes no extra empty line.
std::vector<TextLine> SplitLines(std::string_view text,
                                 LineEnds ends = LineEnds::CrLfOrLfOrCr);

} // namespace kestrane
