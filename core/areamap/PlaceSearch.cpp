#include "areamap/PlaceSearch.h"

#include <algorithm>

#include "platform/Text.h"

namespace kestrane {

namespace {

// One code point from `s` at `i` (advancing i); malformed bytes come back
// one at a time as themselves.
char32_t NextCodePoint(std::string_view s, size_t &i) {
  const auto b = static_cast<unsigned char>(s[i]);
  const int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
  if (extra == 0 || i + extra >= s.size()) {
    ++i;
    return b;
  }
  char32_t cp = b & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    const auto c = static_cast<unsigned char>(s[i + k]);
    if ((c & 0xC0) != 0x80) {
      ++i;
      return b;
    }
    cp = (cp << 6) | (c & 0x3F);
  }
  i += 1 + extra;
  return cp;
}

void AppendUtf8(std::string &out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

char32_t FoldCodePoint(char32_t c) {
  if (c >= 'A' && c <= 'Z')
    return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
    return c + 32;
  if (c >= 0x100 && c <= 0x137 && c % 2 == 0)
    return c + 1;
  if (c >= 0x139 && c <= 0x148 && c % 2 == 1)
    return c + 1;
  if (c >= 0x14A && c <= 0x177 && c % 2 == 0)
    return c + 1;
  if (c == 0x178)
    return 0xFF;
  if ((c == 0x179 || c == 0x17B || c == 0x17D))
    return c + 1;
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2)
    return c + 32;
  if (c >= 0x410 && c <= 0x42F)
    return c + 32;
  if (c >= 0x400 && c <= 0x40F)
    return c + 80;
  return c;
}

} // namespace

std::string FoldCase(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();)
    AppendUtf8(out, FoldCodePoint(NextCodePoint(utf8, i)));
  return out;
}

std::vector<size_t> FindPlaces(const WorldMap &map, std::string_view typed,
                               size_t limit) {
  const std::string prefix = FoldCase(Trim(typed));
  std::vector<size_t> found;
  if (prefix.empty())
    return found;
  for (size_t i = 0; i < map.Places.size(); ++i)
    if (FoldCase(map.Places[i].Name).starts_with(prefix))
      found.push_back(i);
  std::stable_sort(found.begin(), found.end(), [&](size_t a, size_t b) {
    const MapPlace &pa = map.Places[a], &pb = map.Places[b];
    if (pa.Kind != pb.Kind)
      return pa.Kind < pb.Kind;
    return pa.Name < pb.Name;
  });
  if (found.size() > limit)
    found.resize(limit);
  return found;
}

std::string PlaceTitle(const MapPlace &place) {
  if (place.Country.empty())
    return place.Name;
  return place.Name + ", " + place.Country;
}

} // namespace kestrane
