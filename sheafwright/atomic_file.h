#pragma once

// A file that replaces the one at its path all at once, or not at all.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace sheafwright {

// The bytes go to a new temporary file beside the target, reach the disk, and only on commit
// take the target's name. Until then, and whenever something fails, an earlier file at the
// path is left as it was; a temporary file that is not committed is removed. A failure is kept,
// not thrown: later writes do nothing, and commit reports the first one, naming the target
// path and the system's reason. Not for concurrent use.
class AtomicFile {
 public:
  explicit AtomicFile(std::string path);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  void write(std::string_view bytes);
  // Gives the file its name; the first failure of any step, or absent when the file is there.
  std::optional<std::string> commit();

 private:
  void fail(int error);
  void discard();

  std::string target_;
  std::string temporary_;
  int fd_ = -1;
  std::size_t written_ = 0;
  std::optional<std::string> failure_;
};

}  // namespace sheafwright
