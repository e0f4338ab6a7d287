// The fuzz targets' assertion, active in every build.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

// A broken invariant is a finding: stop loudly, under libFuzzer and in the corpus replay alike.
#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (false)

// A directory of this process's own for the files a target writes, made on first use and
// removed at exit. Never destroyed, so that the exit handler still has its name.
inline const std::filesystem::path& fuzzWorkDirectory(const char* name) {
  static const std::filesystem::path* const dir = [name] {
    const auto* made = new std::filesystem::path(
        std::filesystem::temp_directory_path() /
        (std::string("sheafwright-") + name + "-" + std::to_string(::getpid())));
    std::filesystem::create_directories(*made);
    std::atexit([] { std::filesystem::remove_all(*dir); });
    return made;
  }();
  return *dir;
}
