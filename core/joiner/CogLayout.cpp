#include "joiner/CogLayout.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "joiner/GeoKeys.h"

namespace kestrane::joiner_detail {

namespace {

// TIFF field types.
enum : uint16_t {
  kAscii = 2,
  kShort = 3,
  kLong = 4,
  kRational = 5,
  kDouble = 12,
  kLong8 = 16,
};

// Field tags.
enum : uint16_t {
  kSubfileType = 254,
  kImageWidth = 256,
  kImageLength = 257,
  kBitsPerSample = 258,
  kCompression = 259,
  kPhotometric = 262,
  kSamplesPerPixel = 277,
  kPlanarConfig = 284,
  kTileWidth = 322,
  kTileLength = 323,
  kTileOffsets = 324,
  kTileByteCounts = 325,
  kYCbCrSubsampling = 530,
  kReferenceBlackWhite = 532,
};

constexpr uint32_t kReducedImage = 1, kMask = 4;
constexpr uint16_t kJpeg = 7, kDeflate = 8;
constexpr uint16_t kYCbCr = 6, kTransparencyMask = 4;

void PutLe(std::string &s, uint64_t v, unsigned bytes) {
  for (unsigned i = 0; i < bytes; ++i)
    s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// One field of a directory: its values as they stand in the file, or, for
// the tile arrays, only their place (Array: 0 offsets, 1 byte counts).
struct Field {
  uint16_t Tag = 0, Type = 0;
  uint64_t Count = 0;
  std::string Value;
  int Array = -1;
};

Field Shorts(uint16_t tag, std::initializer_list<uint16_t> values) {
  Field f{tag, kShort, values.size(), {}, -1};
  for (uint16_t v : values)
    PutLe(f.Value, v, 2);
  return f;
}

Field Long(uint16_t tag, uint64_t value) {
  Field f{tag, kLong, 1, {}, -1};
  PutLe(f.Value, value, 4);
  return f;
}

Field Doubles(uint16_t tag, const double *values, size_t n) {
  Field f{tag, kDouble, n, {}, -1};
  for (size_t i = 0; i < n; ++i) {
    uint64_t bits = 0;
    std::memcpy(&bits, &values[i], sizeof bits);
    PutLe(f.Value, bits, 8);
  }
  return f;
}

// One directory: the fields of one level's image or mask, sorted by tag.
struct Directory {
  std::vector<Field> Fields;
  uint64_t At = 0; // where it starts in the file
};

// The fields every directory has: its kind, its size and its tiles.
void GridFields(Directory &d, const GridSize &g, uint32_t subfile,
                const CogShape &shape) {
  if (subfile != 0)
    d.Fields.push_back(Long(kSubfileType, subfile));
  d.Fields.push_back(Long(kImageWidth, static_cast<uint64_t>(g.Width)));
  d.Fields.push_back(Long(kImageLength, static_cast<uint64_t>(g.Height)));
  d.Fields.push_back(Shorts(kPlanarConfig, {1}));
  d.Fields.push_back(Long(kTileWidth, 256));
  d.Fields.push_back(Long(kTileLength, 256));
  const uint16_t type = shape.BigTiff ? kLong8 : kLong;
  const auto tiles = static_cast<uint64_t>(g.Tiles());
  d.Fields.push_back({kTileOffsets, type, tiles, {}, 0});
  d.Fields.push_back({kTileByteCounts, type, tiles, {}, 1});
}

Directory ImageDirectory(const CogShape &shape, size_t level) {
  Directory d;
  GridFields(d, shape.Levels[level], level == 0 ? 0 : kReducedImage, shape);
  d.Fields.push_back(Shorts(kBitsPerSample, {8, 8, 8}));
  d.Fields.push_back(Shorts(kCompression, {kJpeg}));
  d.Fields.push_back(Shorts(kPhotometric, {kYCbCr}));
  d.Fields.push_back(Shorts(kSamplesPerPixel, {3}));
  d.Fields.push_back(
      Shorts(kYCbCrSubsampling, {static_cast<uint16_t>(shape.HSampling),
                                 static_cast<uint16_t>(shape.VSampling)}));
  // The JPEG range of Y, Cb and Cr: 0 to 255, 128 to 255 twice.
  Field ref{kReferenceBlackWhite, kRational, 6, {}, -1};
  for (uint32_t v : {0u, 255u, 128u, 255u, 128u, 255u}) {
    PutLe(ref.Value, v, 4);
    PutLe(ref.Value, 1, 4);
  }
  d.Fields.push_back(std::move(ref));
  if (level == 0 && shape.Georeferenced) {
    d.Fields.push_back(Doubles(kPixelScaleTag, shape.Scale, 3));
    d.Fields.push_back(Doubles(kTiePointTag, shape.Tie, 6));
    Field keys{kKeyDirectoryTag, kShort, WebMercatorKeys().size(), {}, -1};
    for (uint16_t k : WebMercatorKeys())
      PutLe(keys.Value, k, 2);
    d.Fields.push_back(std::move(keys));
    Field citation{kAsciiParamsTag, kAscii, WebMercatorCitation().size() + 1,
                   std::string(WebMercatorCitation()), -1};
    citation.Value.push_back('\0');
    d.Fields.push_back(std::move(citation));
  }
  return d;
}

Directory MaskDirectory(const CogShape &shape, size_t level) {
  Directory d;
  GridFields(d, shape.Levels[level], level == 0 ? kMask : kMask | kReducedImage,
             shape);
  d.Fields.push_back(Shorts(kBitsPerSample, {1}));
  d.Fields.push_back(Shorts(kCompression, {kDeflate}));
  d.Fields.push_back(Shorts(kPhotometric, {kTransparencyMask}));
  d.Fields.push_back(Shorts(kSamplesPerPixel, {1}));
  return d;
}

// The structural metadata after the header: the layout's promises to a
// reader. A fixed text; its size is part of it.
std::string StructuralMetadata(bool masks) {
  std::string body = "LAYOUT=IFDS_BEFORE_DATA\n"
                     "BLOCK_ORDER=ROW_MAJOR\n"
                     "BLOCK_LEADER=SIZE_AS_UINT4\n"
                     "BLOCK_TRAILER=LAST_4_BYTES_REPEATED\n"
                     "KNOWN_INCOMPATIBLE_EDITION=NO\n ";
  if (masks)
    body += "MASK_INTERLEAVED_WITH_IMAGERY=YES\n";
  char head[64];
  std::snprintf(head, sizeof head,
                "GDAL_STRUCTURAL_METADATA_SIZE=%06zu bytes\n", body.size());
  return head + body;
}

// Lays out and writes the directories into `h.Bytes` from its end on, and
// notes where each one's tile arrays go; the arrays themselves come after
// the last directory.
class DirectoryWriter {
public:
  DirectoryWriter(CogHeader &h, bool big)
      : h_(h), big_(big), inline_(big ? 8 : 4) {}

  // Writes `dirs` chained in order; returns the array places of each.
  std::vector<TileArrays> Write(std::vector<Directory> &dirs) {
    std::vector<TileArrays> places(dirs.size());
    std::vector<std::pair<uint64_t *, uint64_t>> deferred; // place, bytes
    for (size_t i = 0; i < dirs.size(); ++i) {
      Directory &d = dirs[i];
      std::sort(d.Fields.begin(), d.Fields.end(),
                [](const Field &a, const Field &b) { return a.Tag < b.Tag; });
      d.At = h_.Bytes.size();
      WriteOne(d, i + 1 < dirs.size(), places[i], deferred);
    }
    // The arrays after the last directory, each on an 8-byte boundary.
    uint64_t at = h_.Bytes.size();
    for (auto &[place, bytes] : deferred) {
      at = (at + 7) & ~uint64_t{7};
      *place = at;
      at += bytes;
    }
    // The pointers to them in the entries.
    for (size_t i = 0; i < dirs.size(); ++i)
      for (const auto &[where, array] : pointers_[i])
        Patch(where, array == 0 ? places[i].Offsets : places[i].Counts);
    h_.DataStart = (at + 1) & ~uint64_t{1};
    return places;
  }

private:
  void WriteOne(const Directory &d, bool more, TileArrays &place,
                std::vector<std::pair<uint64_t *, uint64_t>> &deferred);
  void Patch(uint64_t where, uint64_t value) {
    for (unsigned i = 0; i < inline_; ++i)
      h_.Bytes[where + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  }
  unsigned TypeBytes(uint16_t type) const {
    switch (type) {
    case kShort:
      return 2;
    case kLong:
      return 4;
    case kRational:
    case kDouble:
    case kLong8:
      return 8;
    default:
      return 1;
    }
  }

  CogHeader &h_;
  bool big_;
  unsigned inline_; // bytes of a value that fit in its entry
  // Per directory: entries whose value is the place of an array.
  std::vector<std::vector<std::pair<uint64_t, int>>> pointers_;
};

void DirectoryWriter::WriteOne(
    const Directory &d, bool more, TileArrays &place,
    std::vector<std::pair<uint64_t *, uint64_t>> &deferred) {
  std::string &out = h_.Bytes;
  const size_t n = d.Fields.size();
  const unsigned entry = big_ ? 20 : 12;
  const uint64_t valuesAt =
      out.size() + (big_ ? 8 : 2) + n * entry + (big_ ? 8 : 4);
  std::string values; // the values that do not fit in their entries
  pointers_.emplace_back();
  PutLe(out, n, big_ ? 8 : 2);
  for (const Field &f : d.Fields) {
    PutLe(out, f.Tag, 2);
    PutLe(out, f.Type, 2);
    PutLe(out, f.Count, big_ ? 8 : 4);
    const uint64_t bytes = f.Count * TypeBytes(f.Type);
    const uint64_t valueField = out.size();
    if (f.Array >= 0) {
      uint64_t *slot = f.Array == 0 ? &place.Offsets : &place.Counts;
      if (bytes <= inline_)
        *slot = valueField; // the one entry stands in the field itself
      else {
        deferred.emplace_back(slot, bytes);
        pointers_.back().emplace_back(valueField, f.Array);
      }
      PutLe(out, 0, inline_);
    } else if (bytes <= inline_) {
      std::string v = f.Value;
      v.resize(inline_, '\0');
      out += v;
    } else {
      if (values.size() % 2 != 0)
        values.push_back('\0');
      PutLe(out, valuesAt + values.size(), inline_);
      values += f.Value;
    }
  }
  const uint64_t next = more ? valuesAt + values.size() : 0;
  PutLe(out, (next + 1) & ~uint64_t{1}, big_ ? 8 : 4);
  out += values;
  if (out.size() % 2 != 0)
    out.push_back('\0');
}

} // namespace

CogHeader LayOutCog(const CogShape &shape) {
  CogHeader h;
  const bool big = shape.BigTiff;
  h.EntryBytes = big ? 8 : 4;
  h.Bytes =
      big ? std::string("II\x2B\0\x08\0\0\0", 8) : std::string("II*\0", 4);
  const size_t pointerAt = h.Bytes.size();
  PutLe(h.Bytes, 0, big ? 8 : 4); // the first directory's place, below
  h.Bytes += StructuralMetadata(shape.Masks);
  if (h.Bytes.size() % 2 != 0)
    h.Bytes.push_back('\0');
  const uint64_t first = h.Bytes.size();
  for (unsigned i = 0; i < (big ? 8u : 4u); ++i)
    h.Bytes[pointerAt + i] = static_cast<char>((first >> (8 * i)) & 0xFF);

  // The picture and its mask, then the reduced levels, then their masks.
  const size_t levels = shape.Levels.size();
  std::vector<Directory> dirs;
  std::vector<std::pair<bool, size_t>> kinds; // mask?, level
  dirs.push_back(ImageDirectory(shape, 0));
  kinds.emplace_back(false, 0);
  if (shape.Masks) {
    dirs.push_back(MaskDirectory(shape, 0));
    kinds.emplace_back(true, 0);
  }
  for (size_t l = 1; l < levels; ++l) {
    dirs.push_back(ImageDirectory(shape, l));
    kinds.emplace_back(false, l);
  }
  for (size_t l = 1; shape.Masks && l < levels; ++l) {
    dirs.push_back(MaskDirectory(shape, l));
    kinds.emplace_back(true, l);
  }
  const std::vector<TileArrays> places = DirectoryWriter(h, big).Write(dirs);
  h.Images.resize(levels);
  if (shape.Masks)
    h.Masks.resize(levels);
  for (size_t i = 0; i < dirs.size(); ++i)
    (kinds[i].first ? h.Masks : h.Images)[kinds[i].second] = places[i];
  return h;
}

} // namespace kestrane::joiner_detail
