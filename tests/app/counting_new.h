#pragma once
#include <cstddef>

// Test binaries that must show that a step allocates nothing link counting_new.cpp: it replaces
// the global operator new and delete and calls noteAllocation (defined by the test) before every
// allocation. ThreadSanitizer's runtime owns operator new itself, so under it the replacement is
// left out and MERVANE_COUNT_BY_HOOK says that the binary must count another way.
#if defined(__SANITIZE_THREAD__)
#define MERVANE_COUNT_BY_HOOK 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define MERVANE_COUNT_BY_HOOK 1
#endif
#endif

void noteAllocation();
