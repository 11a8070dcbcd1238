#include "tile/TileName.h"

#include <charconv>

#include "tile/SideFiles.h"

namespace kestrane {

namespace {

constexpr std::string_view kPrefix = "ks_";

// The longest number a name of a 32-bit grid carries, in digits.
constexpr size_t kMostDigits = 11;

void AppendInt(std::string &out, int64_t value) {
  char buf[24];
  const auto res = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, res.ptr);
}

// A name cut at its separators: "ks_" A "_" B "_" zoom "." rest, where each
// number is an optional "-" and at least one digit, still as text.
struct NameParts {
  std::string_view A, B, Zoom, Rest;
};

bool Eat(std::string_view &s, std::string_view what) {
  if (!s.starts_with(what))
    return false;
  s.remove_prefix(what.size());
  return true;
}

bool EatNumber(std::string_view &s, std::string_view &number) {
  size_t i = !s.empty() && s[0] == '-' ? 1 : 0;
  const size_t first = i;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9')
    ++i;
  if (i == first)
    return false;
  number = s.substr(0, i);
  s.remove_prefix(i);
  return true;
}

bool SplitName(std::string_view s, NameParts &parts) {
  if (!Eat(s, kPrefix) || !EatNumber(s, parts.A) || !Eat(s, "_") ||
      !EatNumber(s, parts.B) || !Eat(s, "_") || !EatNumber(s, parts.Zoom) ||
      !Eat(s, "."))
    return false;
  parts.Rest = s;
  return true;
}

// A number as a task writes it: no leading zero (except "0" itself), no
// "-0", no more digits than a tile number of a 32-bit grid has.
bool CanonicalValue(std::string_view text, int64_t *value) {
  const bool negative = text[0] == '-';
  const std::string_view digits = text.substr(negative ? 1 : 0);
  if (digits.size() > kMostDigits || (digits.size() > 1 && digits[0] == '0'))
    return false;
  int64_t v = 0;
  for (char c : digits)
    v = v * 10 + (c - '0');
  if (negative && v == 0)
    return false;
  *value = negative ? -v : v;
  return true;
}

} // namespace

TileNameNumbers NameNumbersOf(const TileBlock &t, int32_t x, int32_t y) {
  switch (t.Dir) {
  case 1: // East: the row mirrored, then the column
    return {int64_t{t.MaxY} + t.MinY - y, x};
  case 2: // South: both mirrored
    return {int64_t{t.MaxX} + t.MinX - x, int64_t{t.MaxY} + t.MinY - y};
  case 3: // West: the row, then the column mirrored
    return {y, int64_t{t.MaxX} + t.MinX - x};
  default: // North: the tile's own numbers
    return {x, y};
  }
}

GridPlace TileOfNameNumbers(const TileBlock &t, TileNameNumbers n) {
  switch (t.Dir) {
  case 1: // East
    return {n.B, int64_t{t.MaxY} + t.MinY - n.A};
  case 2: // South
    return {int64_t{t.MaxX} + t.MinX - n.A, int64_t{t.MaxY} + t.MinY - n.B};
  case 3: // West
    return {int64_t{t.MaxX} + t.MinX - n.B, n.A};
  default: // North
    return {n.A, n.B};
  }
}

bool BlockHolds(const TileBlock &t, GridPlace p) {
  return p.X >= t.MinX && p.X <= t.MaxX && p.Y >= t.MinY && p.Y <= t.MaxY;
}

void AppendTileFileName(std::string &out, TileNameNumbers n, int32_t zoom,
                        std::string_view extension) {
  out += kPrefix;
  AppendInt(out, n.A);
  out += '_';
  AppendInt(out, n.B);
  out += '_';
  AppendInt(out, zoom);
  out += '.';
  out += extension;
}

std::string TileFileName(TileNameNumbers n, int32_t zoom,
                         std::string_view extension) {
  std::string name;
  AppendTileFileName(name, n, zoom, extension);
  return name;
}

ParsedTileName ParseTileFileName(std::string_view name, int32_t zoom,
                                 std::string_view extension) {
  ParsedTileName out;
  NameParts parts;
  int64_t a = 0, b = 0, z = 0;
  if (!SplitName(name, parts) || !CanonicalValue(parts.A, &a) ||
      !CanonicalValue(parts.B, &b) || !CanonicalValue(parts.Zoom, &z) ||
      z != zoom)
    return out;
  std::string_view rest = parts.Rest;
  if (!Eat(rest, extension))
    return out;
  if (rest.empty())
    out.Kind = TileNameKind::Tile;
  else if (rest == SideFileSuffix(SideFile::Crashed))
    out.Kind = TileNameKind::Crashed;
  else if (rest == SideFileSuffix(SideFile::Invalid))
    out.Kind = TileNameKind::Invalid;
  else
    return out;
  out.Numbers = {a, b};
  return out;
}

bool HasTileFileNameForm(std::string_view name) {
  NameParts parts;
  return SplitName(name, parts) && parts.A[0] != '-' && parts.B[0] != '-' &&
         parts.Zoom[0] != '-' && parts.Rest == "jpg";
}

} // namespace kestrane
