// The least any exporter must do, timed beside the tool by the whole-run benchmark: read and
// parse the library file with simdjson, write an output file of a given size, fsync it and
// rename it over the earlier one.
//   sheafwright_floor LIBRARY OUTPUT BYTES
#include "bench/floor_output.h"

#include <simdjson.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s LIBRARY OUTPUT BYTES\n", argv[0]);
    return 2;
  }
  simdjson::padded_string library;
  simdjson::dom::parser parser;
  simdjson::dom::element root;
  if (simdjson::padded_string::load(argv[1]).get(library) != simdjson::SUCCESS ||
      parser.parse(library).get(root) != simdjson::SUCCESS) {
    std::fprintf(stderr, "cannot parse %s\n", argv[1]);
    return 1;
  }
  return sheafwright::bench::writeFloorOutput(argv[2], std::strtoull(argv[3], nullptr, 10));
}
