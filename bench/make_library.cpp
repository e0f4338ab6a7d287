// Writes one generated library file, for profiling the tool by hand:
//   sheafwright_make_library MEGABYTES ascii|mixed FILE
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "bench/library_generator.h"

int main(int argc, char** argv) {
  using sheafwright::bench::Script;
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s MEGABYTES ascii|mixed FILE\n", argv[0]);
    return 2;
  }
  const std::size_t megabytes = std::strtoull(argv[1], nullptr, 10);
  const std::string script = argv[2];
  if (megabytes == 0 || (script != "ascii" && script != "mixed")) {
    std::fprintf(stderr, "usage: %s MEGABYTES ascii|mixed FILE\n", argv[0]);
    return 2;
  }
  const auto library = sheafwright::bench::generateLibrary(
      {.htmlBytes = megabytes << 20,
       .script = script == "ascii" ? Script::kAscii : Script::kMixed,
       .seed = 11});
  std::ofstream out(argv[3], std::ios::binary);
  out << library.json;
  if (!out.flush()) {
    std::fprintf(stderr, "could not write %s\n", argv[3]);
    return 1;
  }
  std::printf("%zu notes, %zu bytes of note HTML, %zu bytes of library\n", library.notes,
              library.htmlBytes, library.json.size());
  return 0;
}
