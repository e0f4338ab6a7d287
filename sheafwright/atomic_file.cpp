// The atomic replacement of the export file: a temporary file beside the target, fsync, rename.
#include "sheafwright/atomic_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sheafwright {

AtomicFile::AtomicFile(std::string path) : target_(std::move(path)) {
  const std::filesystem::path targetPath(target_);
  std::string name = ".";
  name.append(targetPath.filename().string());
  name.append(".XXXXXX");
  std::string pattern = (targetPath.parent_path() / name).string();
  fd_ = ::mkstemp(pattern.data());
  if (fd_ < 0) {
    fail(errno);
    return;
  }
  temporary_ = pattern;
}

AtomicFile::~AtomicFile() {
  discard();
}

void AtomicFile::write(std::string_view bytes) {
  while (!failure_ && !bytes.empty()) {
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno != EINTR) {
        fail(errno);
      }
      continue;
    }
#if defined(__linux__)
    // The disk can take each piece while the rest is still being made, so that commit's fsync
    // has little left to wait for. Only a hint: fsync reports any failure.
    (void)::sync_file_range(fd_, static_cast<off_t>(written_), n, SYNC_FILE_RANGE_WRITE);
#endif
    written_ += static_cast<std::size_t>(n);
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

std::optional<std::string> AtomicFile::commit() {
  if (failure_) {
    return failure_;
  }
  // mkstemp makes the file private; give it the mode a newly created file would get.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  if (::fchmod(fd_, 0666 & ~mask) != 0 || ::fsync(fd_) != 0) {
    fail(errno);
    return failure_;
  }
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 || ::rename(temporary_.c_str(), target_.c_str()) != 0) {
    fail(errno);
    return failure_;
  }
  temporary_.clear();
  return std::nullopt;
}

void AtomicFile::fail(int error) {
  failure_ = target_ + ": " + std::strerror(error);
  discard();
}

void AtomicFile::discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temporary_.empty()) {
    ::unlink(temporary_.c_str());
    temporary_.clear();
  }
}

}  // namespace sheafwright
