#include "sheafwright/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace sheafwright {

namespace {

[[noreturn]] void fail(int error, const std::string& path) {
  throw std::system_error(error, std::generic_category(), path);
}

// Owns the temporary file until it has been renamed into place.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& target) {
    const std::filesystem::path targetPath(target);
    std::string pattern = (targetPath.parent_path() /
                           ("." + targetPath.filename().string() + ".XXXXXX"))
                              .string();
    fd_ = ::mkstemp(pattern.data());
    if (fd_ < 0) {
      fail(errno, target);
    }
    path_ = pattern;
  }

  ~TemporaryFile() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
    if (!path_.empty()) {
      ::unlink(path_.c_str());
    }
  }

  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  void write(std::string_view bytes, const std::string& target) {
    while (!bytes.empty()) {
      const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
      if (n < 0) {
        if (errno == EINTR) {
          continue;
        }
        fail(errno, target);
      }
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
  }

  void commit(const std::string& target) {
    // mkstemp makes the file private; give it the mode a newly created file would get.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(fd_, 0666 & ~mask) != 0 || ::fsync(fd_) != 0) {
      fail(errno, target);
    }
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
      fail(errno, target);
    }
    if (::rename(path_.c_str(), target.c_str()) != 0) {
      fail(errno, target);
    }
    path_.clear();
  }

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace

void writeFileAtomically(const std::string& path, std::string_view contents) {
  TemporaryFile file(path);
  file.write(contents, path);
  file.commit(path);
}

std::string absolutePath(const std::string& path) {
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(path, error);
  if (error) {
    absolute = path;
  }
  std::filesystem::path cleaned;
  for (const auto& part : absolute) {
    if (part != ".") {
      cleaned /= part;
    }
  }
  return cleaned.string();
}

}  // namespace sheafwright
