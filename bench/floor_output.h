// The floors' last step, the least any exporter must do with its output: write `bytes` a
// megabyte at a time, as the tool hands them to the file, fsync, rename over the earlier file.
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace sheafwright::bench {

// 0, or 1 after saying what failed.
inline int writeFloorOutput(const std::string& output, std::size_t bytes) {
  const std::string temporary = output + ".floor";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    std::perror(temporary.c_str());
    return 1;
  }
  const std::vector<char> piece(1 << 20, ' ');
  for (std::size_t left = bytes; left > 0;) {
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

}  // namespace sheafwright::bench
