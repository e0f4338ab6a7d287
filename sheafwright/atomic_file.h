#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace sheafwright {

// A file that replaces the one at its path all at once: the bytes go to a new temporary file
// beside the target, reach the disk, and only on commit take the target's name. Until then,
// and whenever something fails, an earlier file at the path is left as it was; a temporary
// file that is not committed is removed. Failures throw std::system_error whose text names
// the target path and the system's reason.
class AtomicFile {
 public:
  explicit AtomicFile(std::string path);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  void write(std::string_view bytes);
  void commit();

 private:
  void startWriteback(std::size_t length);

  std::string target_;
  std::string temporary_;
  int fd_ = -1;
  std::size_t written_ = 0;
};

// Replaces the file at `path` with `contents` through an AtomicFile.
void writeFileAtomically(const std::string& path, std::string_view contents);

// `path` made absolute against the working directory, without "." components.
std::string absolutePath(const std::string& path);

}  // namespace sheafwright
