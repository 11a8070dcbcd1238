#pragma once
#include <string_view>

namespace kestrane {

// The texts of a failed tile, in one place: the download workers and the
// re-download run write them, and stored logs and failed-tile lists hold
// them. The side files' suffixes are the tile layer's (tile/SideFiles.h).

// Parts of a request's failure text (see FetchResult) that both failure
// classifications look for.
inline constexpr std::string_view kSocketError = "Socket Error";
inline constexpr std::string_view kConnectionReset = "10054";
inline constexpr std::string_view kAddressInUse = "10048";
inline constexpr std::string_view kClosedGracefully =
    "Connection Closed Gracefully";
inline constexpr std::string_view kResponseTooLarge = "Response too large";
inline constexpr std::string_view kStatusFound = "302";
inline constexpr std::string_view kStatusForbidden = "403";
inline constexpr std::string_view kStatusNotFound = "404";
inline constexpr std::string_view kStatusBadRequest = "400";

// The lines that end a worker or a re-download run, and the line of a tile
// the server does not have.
inline constexpr std::string_view kBannedMessage =
    "Error: may be your IP is banned.\nPlease try again later.";
inline constexpr std::string_view kNetworkMessage =
    "Error: Your network has problem, please check it.";
inline constexpr std::string_view kNotFoundMessage =
    "Error: the image is not found on server.";

// A failed-tile list's record: the tile's path, this, the tile's URL.
inline constexpr char kRecordSeparator = '|';

} // namespace kestrane
