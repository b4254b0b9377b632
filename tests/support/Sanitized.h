#pragma once
// NORVIX_SANITIZED is defined in the sanitizers' build, which runs several times slower: the
// tests' time bounds are checked only outside it (the figures are still printed).
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define NORVIX_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) && !defined(NORVIX_SANITIZED)
#define NORVIX_SANITIZED 1
#endif
