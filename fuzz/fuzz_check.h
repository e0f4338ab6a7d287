// The fuzz targets' assertion, active in every build.
#pragma once

#include <cstdio>
#include <cstdlib>

// A broken invariant is a finding: stop loudly, under libFuzzer and in the corpus replay alike.
#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (false)
