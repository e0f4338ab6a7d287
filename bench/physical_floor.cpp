// The least any exporter must do, timed beside the tool by the whole-run benchmark: read and
// parse the library file with simdjson, write an output file of a given size, fsync it and
// rename it over the earlier one.
//   sheafwright_floor LIBRARY OUTPUT BYTES
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
  const std::string output = argv[2];
  const std::string temporary = output + ".floor";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    std::perror(temporary.c_str());
    return 1;
  }
  // The tool hands the file its bytes a megabyte at a time; so does the floor.
  const std::vector<char> piece(1 << 20, ' ');
  for (std::size_t left = std::strtoull(argv[3], nullptr, 10); left > 0;) {
    const std::size_t size = std::min(left, piece.size());
    if (::write(fd, piece.data(), size) != static_cast<ssize_t>(size)) {
      std::perror(temporary.c_str());
      return 1;
    }
    left -= size;
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0 || ::rename(temporary.c_str(), output.c_str()) != 0) {
    std::perror(output.c_str());
    return 1;
  }
  return 0;
}
