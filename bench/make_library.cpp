// Writes one generated library file, for profiling the tool by hand:
//   sheafwright_make_library MEGABYTES ascii|mixed FILE [text-only]
#include "bench/library_generator.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
  using sheafwright::bench::Alphabet;
  const std::size_t megabytes = argc >= 4 ? std::strtoull(argv[1], nullptr, 10) : 0;
  const std::string alphabet = argc >= 4 ? argv[2] : "";
  const bool textOnly = argc == 5 && std::string(argv[4]) == "text-only";
  if (megabytes == 0 || (alphabet != "ascii" && alphabet != "mixed") || argc > 5 ||
      (argc == 5 && !textOnly)) {
    std::fprintf(stderr, "usage: %s MEGABYTES ascii|mixed FILE [text-only]\n", argv[0]);
    return 2;
  }
  const auto library = sheafwright::bench::generateLibrary(
      {.htmlBytes = megabytes << 20,
       .alphabet = alphabet == "ascii" ? Alphabet::kAscii : Alphabet::kMixed,
       .seed = 11,
       .withImages = !textOnly});
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
