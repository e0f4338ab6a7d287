// A library file's bytes with zeroed padding, read into memory or copied.
#include "sheafwright/standin/library_bytes.h"

#include <cerrno>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sheafwright::standin {

LibraryBytes::LibraryBytes(std::string_view text)
    : copy_(new char[text.size() + kLibraryPadding]), data_(copy_.get()), size_(text.size()) {
  std::memcpy(copy_.get(), text.data(), text.size());
  std::memset(copy_.get() + text.size(), 0, kLibraryPadding);
}

LibraryBytes& LibraryBytes::operator=(LibraryBytes&& other) noexcept {
  std::swap(copy_, other.copy_);
  std::swap(data_, other.data_);
  std::swap(size_, other.size_);
  return *this;
}

namespace {

std::string notRegular(mode_t mode) {
  const char* kind = S_ISDIR(mode)    ? "a directory"
                     : S_ISFIFO(mode) ? "a named pipe"
                     : S_ISSOCK(mode) ? "a socket"
                     : S_ISCHR(mode)  ? "a character device"
                     : S_ISBLK(mode)  ? "a block device"
                                      : "of an unknown kind";
  return std::string("Not a regular file (") + kind + ")";
}

}  // namespace

OrFailure<LibraryBytes> readLibraryFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    return std::string(std::strerror(errno));
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    return std::string(std::strerror(errno));
  }
  if (!S_ISREG(info.st_mode)) {
    return notRegular(info.st_mode);
  }
  constexpr std::size_t kTooLarge = std::numeric_limits<std::size_t>::max() / 2;
  const auto size = static_cast<std::size_t>(info.st_size);
  LibraryBytes bytes;
  if (size <= kTooLarge) {
    bytes.copy_.reset(new (std::nothrow) char[size + kLibraryPadding]);
  }
  if (!bytes.copy_) {
    return "too large for this machine's memory (" + std::to_string(size) + " bytes)";
  }
  char* const data = bytes.copy_.get();
  std::size_t read = 0;
  // One byte more than the file holds: a file that grows shows.
  char probe = 0;
  for (;;) {
    const bool rest = read < size;
    const ssize_t n = rest ? ::read(fd, data + read, size - read) : ::read(fd, &probe, 1);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      return std::string(std::strerror(errno));
    }
    if (n == 0 && !rest) {
      break;
    }
    if (n == 0 || !rest) {
      return std::string("the file changed while it was read");
    }
    read += static_cast<std::size_t>(n);
  }
  std::memset(data + size, 0, kLibraryPadding);
  bytes.data_ = data;
  bytes.size_ = size;
  return bytes;
}

}  // namespace sheafwright::standin
