#pragma once

// A file that replaces the one at its path all at once, or not at all.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace sheafwright {

// The bytes go to a new temporary file beside the target, reach the disk, and only on commit
// take the target's name; the directory is then synced, so that the new name survives a power
// cut. Until then, and whenever something fails, an earlier file at the path is left as it was,
// and an interruption (SIGINT, SIGTERM, SIGHUP) removes the temporary file. Where the system
// allows (Linux), the temporary file has no name until commit, so that not even SIGKILL or a
// power cut leaves it behind.
//
// A symbolic link at the path is followed: the file it names is replaced, and the link stays.
// Only a regular file is replaced: a directory, named pipe, socket or device there is refused.
// The replaced file's permission bits are kept; a new file gets those the umask allows.
//
// A failure is kept, not thrown: later writes do nothing, and commit reports the first one,
// naming the target path and the system's reason. One at a time, not for concurrent use.
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
  bool createTemporary();
  bool nameTemporary();
  // The target's mode for the new file; absent (and failed) when it is not a regular file.
  std::optional<unsigned> targetMode();
  void fail(int error);
  void fail(const std::string& reason);
  // Fails naming the kind of file (its st_mode) that is not replaced.
  void refuse(unsigned mode);
  void discard();

  std::string target_;     // as given, for messages
  std::string replaced_;   // the file replaced: the target, or what its links lead to
  int directory_ = -1;     // the directory of replaced_, open
  std::string name_;       // replaced_'s name in it
  std::string temporary_;  // the temporary file's name there, while it has one
  bool nameless_ = false;  // the temporary file has no name yet (Linux's O_TMPFILE)
  int fd_ = -1;
  std::size_t written_ = 0;
  std::optional<std::string> failure_;
};

}  // namespace sheafwright
