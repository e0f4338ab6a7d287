// The atomic replacement of the export file: a temporary file beside the file replaced, fsync,
// rename, fsync of the directory.
#include "sheafwright/atomic_file.h"

#include "sheafwright/interruption.h"
#include "sheafwright/or_failure.h"
#include "sheafwright/platform/entropy.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>
#include <variant>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sheafwright {

namespace {

// `path` with the symbolic links at its end followed, as opening it would; the error when they
// lead nowhere a file can be (a loop). A link to a missing file leads to where it would be made.
OrFailure<std::string, int> followLinks(std::string path) {
  constexpr int kMaxLinks = 40;  // as Linux counts before ELOOP
  for (int links = 0; links < kMaxLinks; ++links) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
      return path;
    }
    std::error_code error;
    const std::filesystem::path destination = std::filesystem::read_symlink(path, error);
    if (error) {
      return error.value();
    }
    if (destination.empty()) {
      return ENOENT;
    }
    // A relative link is taken from the link's own directory.
    const std::filesystem::path directory = std::filesystem::path(path).parent_path();
    path = destination.is_absolute() || directory.empty() ? destination.string()
                                                          : (directory / destination).string();
  }
  return ELOOP;
}

const char* kindOf(mode_t mode) {
  if (S_ISDIR(mode)) {
    return "a directory";
  }
  if (S_ISFIFO(mode)) {
    return "a named pipe";
  }
  if (S_ISSOCK(mode)) {
    return "a socket";
  }
  if (S_ISCHR(mode)) {
    return "a character device";
  }
  if (S_ISBLK(mode)) {
    return "a block device";
  }
  if (S_ISLNK(mode)) {
    return "a symbolic link";
  }
  return "of an unknown kind";
}

// The longest prefix of `text` of at most `size` bytes that does not split a UTF-8 character
// (file systems such as APFS refuse names that are not UTF-8).
std::string_view utf8Prefix(std::string_view text, std::size_t size) {
  if (text.size() <= size) {
    return text;
  }
  while (size > 0 && (static_cast<unsigned char>(text[size]) & 0xC0) == 0x80) {
    --size;
  }
  return text.substr(0, size);
}

}  // namespace

AtomicFile::AtomicFile(std::string path) : target_(std::move(path)) {
  OrFailure<std::string, int> followed = followLinks(target_);
  if (const int* error = std::get_if<int>(&followed)) {
    fail(*error);
    return;
  }
  replaced_ = std::move(std::get<std::string>(followed));
  struct stat info {};
  const bool exists = ::stat(replaced_.c_str(), &info) == 0;
  if (exists && !S_ISREG(info.st_mode)) {
    refuse(info.st_mode);
    return;
  }
  const std::filesystem::path replacedPath(replaced_);
  name_ = replacedPath.filename().string();
  if (name_.empty()) {
    fail(EISDIR);  // a path that ends in a slash names a directory
    return;
  }
  const std::string directory =
      replacedPath.has_parent_path() ? replacedPath.parent_path().string() : ".";
  directory_ = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory_ < 0) {
    fail(errno);
    return;
  }
  interruption::sayOnInterruption(exists ? interruption::kEarlierFileUnchanged
                                         : interruption::kNothingWritten);
  createTemporary();
}

AtomicFile::~AtomicFile() {
  discard();
  if (directory_ >= 0) {
    ::close(directory_);
  }
}

bool AtomicFile::createTemporary() {
#if defined(O_TMPFILE)
  // Naming it later goes through /proc; without /proc the file gets a name from the start.
  if (::access("/proc/self/fd", X_OK) == 0) {
    fd_ = ::openat(directory_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd_ >= 0) {
      nameless_ = true;
      return true;
    }
  }
#endif
  const interruption::Deferred deferred;
  return nameTemporary();
}

// Gives the temporary file a fresh name beside the file replaced: it is made with that name, or
// the nameless one is linked to it. Called with interruptions deferred, so that the handler
// knows the name exactly while it exists.
bool AtomicFile::nameTemporary() {
  long maxName = ::fpathconf(directory_, _PC_NAME_MAX);
  if (maxName <= 0) {
    maxName = 255;
  }
  constexpr std::string_view kDigits =
      "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  // "." and the name, shortened where need be, then "." and six random digits: whenever the
  // name fits the directory, so does this one.
  const std::string_view base =
      utf8Prefix(name_, static_cast<std::size_t>(std::max(maxName - 8, 0L)));
  int error = EEXIST;
  for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
    std::array<std::uint8_t, 6> random{};
    if (!fillWithEntropy(random)) {
      const auto seed = static_cast<std::uint32_t>(::getpid()) * 2654435761u + attempt;
      for (std::size_t k = 0; k < random.size(); ++k) {
        random[k] = static_cast<std::uint8_t>(seed >> (k * 5));
      }
    }
    temporary_ = ".";
    temporary_.append(base);
    temporary_ += '.';
    for (const std::uint8_t byte : random) {
      temporary_ += kDigits[byte % kDigits.size()];
    }
    bool made = false;
    if (nameless_) {
      const std::string self = "/proc/self/fd/" + std::to_string(fd_);
      made =
          ::linkat(AT_FDCWD, self.c_str(), directory_, temporary_.c_str(), AT_SYMLINK_FOLLOW) == 0;
    } else {
      fd_ = ::openat(directory_, temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
      made = fd_ >= 0;
    }
    if (made) {
      nameless_ = false;
      interruption::removeOnInterruption(directory_, temporary_.c_str());
      return true;
    }
    error = errno;
  }
  temporary_.clear();
  fail(error);
  return false;
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

std::optional<unsigned> AtomicFile::targetMode() {
  struct stat info {};
  if (::fstatat(directory_, name_.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT) {
      fail(errno);
      return std::nullopt;
    }
    // The mode a newly created file gets.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
  }
  if (!S_ISREG(info.st_mode)) {
    refuse(info.st_mode);
    return std::nullopt;
  }
  return info.st_mode & 0777;
}

std::optional<std::string> AtomicFile::commit() {
  if (failure_) {
    return failure_;
  }
  const std::optional<unsigned> mode = targetMode();
  if (!mode) {
    return failure_;
  }
  if (::fchmod(fd_, static_cast<mode_t>(*mode)) != 0 || ::fsync(fd_) != 0) {
    fail(errno);
    return failure_;
  }
  {
    const interruption::Deferred deferred;
    if (nameless_ && !nameTemporary()) {
      return failure_;
    }
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0 ||
        ::renameat(directory_, temporary_.c_str(), directory_, name_.c_str()) != 0) {
      fail(errno);
      return failure_;
    }
    interruption::removeOnInterruption(-1, nullptr);
    temporary_.clear();
    interruption::sayOnInterruption(interruption::kFileWritten);
  }
  // The new name is on disk only once the directory is. The file is in place either way, and a
  // file system that cannot sync a directory keeps its names by other means.
  (void)::fsync(directory_);
  return std::nullopt;
}

void AtomicFile::fail(int error) {
  fail(std::string(std::strerror(error)));
}

void AtomicFile::refuse(unsigned mode) {
  std::string reason = "Not a regular file (";
  if (replaced_ != target_) {
    reason += "it leads to " + replaced_ + ", ";
  }
  fail(reason + kindOf(static_cast<mode_t>(mode)) + ")");
}

void AtomicFile::fail(const std::string& reason) {
  failure_ = target_ + ": " + reason;
  discard();
}

void AtomicFile::discard() {
  const interruption::Deferred deferred;
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temporary_.empty()) {
    interruption::removeOnInterruption(-1, nullptr);
    ::unlinkat(directory_, temporary_.c_str(), 0);
    temporary_.clear();
  }
}

}  // namespace sheafwright
