// The place search: prefix match in any letter case, countries first.
#include <gtest/gtest.h>

#include <filesystem>

#include "areamap/PlaceSearch.h"

namespace kestrane {
namespace {

WorldMap SmallMap() {
  WorldMap map;
  const auto add = [&map](PlaceKind kind, const char *name,
                          const char *country) {
    MapPlace p;
    p.Kind = kind;
    p.Name = name;
    p.Country = country;
    map.Places.push_back(p);
  };
  add(PlaceKind::Country, "France", "");
  add(PlaceKind::Country, "Finland", "");
  add(PlaceKind::Province, "Île-de-France", "France");
  add(PlaceKind::Province, "Friesland", "Netherlands");
  add(PlaceKind::Province, "Västerbotten", "Sweden");
  add(PlaceKind::Province, "Москва", "Russia");
  add(PlaceKind::Country, "Fiji", "");
  return map;
}

std::vector<std::string> Titles(const WorldMap &map, const char *typed) {
  std::vector<std::string> titles;
  for (const size_t i : FindPlaces(map, typed))
    titles.push_back(PlaceTitle(map.Places[i]));
  return titles;
}

TEST(PlaceSearchTest, PrefixInAnyCaseCountriesFirst) {
  const WorldMap map = SmallMap();
  using V = std::vector<std::string>;
  struct Row {
    const char *typed;
    V want;
  } rows[] = {
      {"fr", {"France", "Friesland, Netherlands"}},
      {"FRANCE", {"France"}},
      {"  fin ", {"Finland"}},
      // Countries by name, then provinces.
      {"f", {"Fiji", "Finland", "France", "Friesland, Netherlands"}},
      // Letters beyond ASCII fold too.
      {"västerb", {"Västerbotten, Sweden"}},
      {"VÄSTERB", {"Västerbotten, Sweden"}},
      {"îLE-DE", {"Île-de-France, France"}},
      {"МОСК", {"Москва, Russia"}},
      // A match inside a name is no prefix match.
      {"rance", {}},
      {"", {}},
      {"   ", {}},
  };
  for (const Row &row : rows)
    EXPECT_EQ(Titles(map, row.typed), row.want) << row.typed;
}

TEST(PlaceSearchTest, LimitKeepsTheFirstMatches) {
  const WorldMap map = SmallMap();
  const std::vector<size_t> two = FindPlaces(map, "f", 2);
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(map.Places[two[0]].Name, "Fiji");
  EXPECT_EQ(map.Places[two[1]].Name, "Finland");
}

// The map the build derives: provinces are found by their own names.
TEST(PlaceSearchTest, BundleMapFindsProvinces) {
  const std::string path = KESTRANE_BUNDLE_DIR "map/world.bin";
  if (!std::filesystem::exists(path))
    GTEST_SKIP() << "no map file in the bundle";
  const WorldMap map = LoadWorldMap(path);
  const std::vector<size_t> found = FindPlaces(map, "bayer");
  ASSERT_FALSE(found.empty());
  const MapPlace &bayern = map.Places[found.front()];
  EXPECT_EQ(bayern.Name, "Bayern");
  EXPECT_EQ(bayern.Country, "Germany");
  // Its box lies around Munich (11.58 E, 48.14 N).
  EXPECT_LT(bayern.Box.Left, LongitudeToWorldX(11.58));
  EXPECT_GT(bayern.Box.Right, LongitudeToWorldX(11.58));
  EXPECT_LT(bayern.Box.Top, LatitudeToWorldY(48.14));
  EXPECT_GT(bayern.Box.Bottom, LatitudeToWorldY(48.14));
}

} // namespace
} // namespace kestrane
