#pragma once
// Whether the tests run under AddressSanitizer. Its shadow address space and
// its quarantine of freed memory make a process's address space and peak
// memory no measure of what the program holds, so memory bounds are checked
// in the other builds only.

namespace kestrane::testing {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

} // namespace kestrane::testing
