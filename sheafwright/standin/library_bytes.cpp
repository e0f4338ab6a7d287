// A library file's bytes with zeroed padding: mapped from a regular file, or copied.
#include "sheafwright/standin/library_bytes.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sheafwright {

LibraryBytes::LibraryBytes(std::string_view text)
    : copy_(new char[text.size() + kLibraryPadding]), data_(copy_.get()), size_(text.size()) {
  std::memcpy(copy_.get(), text.data(), text.size());
  std::memset(copy_.get() + text.size(), 0, kLibraryPadding);
}

LibraryBytes& LibraryBytes::operator=(LibraryBytes&& other) noexcept {
  std::swap(copy_, other.copy_);
  std::swap(mapping_, other.mapping_);
  std::swap(mappingSize_, other.mappingSize_);
  std::swap(data_, other.data_);
  std::swap(size_, other.size_);
  return *this;
}

LibraryBytes::~LibraryBytes() {
  if (mapping_ != nullptr) {
    ::munmap(mapping_, mappingSize_);
  }
}

// A library of a hundred megabytes would otherwise be written to fresh memory page by page
// before parsing. The padding is the zero tail of the file's last page followed by anonymous
// zero pages.
std::optional<LibraryBytes> LibraryBytes::map(int fd, std::size_t size) {
  const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  const std::size_t total = (size + kLibraryPadding + page - 1) / page * page;
  void* reserved = ::mmap(nullptr, total, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (reserved == MAP_FAILED) {
    return std::nullopt;
  }
  if (::mmap(reserved, size, PROT_READ, MAP_PRIVATE | MAP_FIXED, fd, 0) == MAP_FAILED) {
    ::munmap(reserved, total);
    return std::nullopt;
  }
  LibraryBytes bytes;
  bytes.mapping_ = reserved;
  bytes.mappingSize_ = total;
  bytes.data_ = static_cast<const char*>(reserved);
  bytes.size_ = size;
  return bytes;
}

std::variant<LibraryBytes, std::string> readLibraryFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
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
  if (S_ISDIR(info.st_mode)) {
    return std::string(std::strerror(EISDIR));
  }
  if (S_ISREG(info.st_mode) && info.st_size > 0) {
    if (auto mapped = LibraryBytes::map(fd, static_cast<std::size_t>(info.st_size))) {
      return std::move(*mapped);
    }
  }
  std::string read;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      return std::string(std::strerror(errno));
    }
    if (n == 0) {
      return LibraryBytes(read);
    }
    read.append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace sheafwright
