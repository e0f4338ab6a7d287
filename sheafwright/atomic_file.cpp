#include "sheafwright/atomic_file.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sheafwright {

namespace {

[[noreturn]] void fail(int error, const std::string& path) {
  throw std::system_error(error, std::generic_category(), path);
}

}  // namespace

AtomicFile::AtomicFile(std::string path) : target_(std::move(path)) {
  const std::filesystem::path targetPath(target_);
  std::string name = ".";
  name.append(targetPath.filename().string());
  name.append(".XXXXXX");
  std::string pattern = (targetPath.parent_path() / name).string();
  fd_ = ::mkstemp(pattern.data());
  if (fd_ < 0) {
    fail(errno, target_);
  }
  temporary_ = pattern;
}

AtomicFile::~AtomicFile() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
  if (!temporary_.empty()) {
    ::unlink(temporary_.c_str());
  }
}

void AtomicFile::write(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      fail(errno, target_);
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
    startWriteback(static_cast<std::size_t>(n));
  }
}

void AtomicFile::startWriteback(std::size_t length) {
#if defined(__linux__)
  // The disk can take each piece while the rest is still being made, so that commit's fsync
  // has little left to wait for. Only a hint: fsync reports any failure.
  (void)::sync_file_range(fd_, static_cast<off_t>(written_), static_cast<off_t>(length),
                          SYNC_FILE_RANGE_WRITE);
#endif
  written_ += length;
}

void AtomicFile::commit() {
  // mkstemp makes the file private; give it the mode a newly created file would get.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  if (::fchmod(fd_, 0666 & ~mask) != 0 || ::fsync(fd_) != 0) {
    fail(errno, target_);
  }
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) {
    fail(errno, target_);
  }
  if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
    fail(errno, target_);
  }
  temporary_.clear();
}

void writeFileAtomically(const std::string& path, std::string_view contents) {
  AtomicFile file(path);
  file.write(contents);
  file.commit();
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
