#pragma once
// Whether this test binary runs under a sanitizer, for GCC (which defines __SANITIZE_*) and clang
// (which answers __has_feature). Address-space limits and resident-memory bounds mean nothing
// there: the sanitizers reserve terabytes and keep shadow memory and quarantines of their own.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitizerBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kSanitizerBuild = true;
#else
inline constexpr bool kSanitizerBuild = false;
#endif
#else
inline constexpr bool kSanitizerBuild = false;
#endif
