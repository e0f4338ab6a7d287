// What the process does when it is asked to stop (SIGINT, SIGTERM, SIGHUP), and the signals that
// must not end it (SIGPIPE, SIGXFSZ). The state an interruption undoes is kept where a signal
// handler can reach it without allocating or locking.
#pragma once

#include <signal.h>

namespace sheafwright::interruption {

// For the whole process: SIGPIPE and SIGXFSZ are ignored, so that a closed pipe or a file size
// limit is an error of the write that met it. SIGINT, SIGTERM and SIGHUP (each unless the process
// was started with it ignored, as under nohup) remove the file named by removeOnInterruption,
// clear the line the progress is shown on when standard error is a terminal, write the line set
// by sayOnInterruption on standard error and end the process with status 1.
void install();

// Holds SIGINT, SIGTERM and SIGHUP back while it lives, so that a change on disk and the state
// the handler reads change together; one that arrives meanwhile acts when it ends.
class Deferred {
 public:
  Deferred();
  ~Deferred();
  Deferred(const Deferred&) = delete;
  Deferred& operator=(const Deferred&) = delete;

 private:
  sigset_t previous_;
};

// What an interruption removes: the entry `name` of the directory open as `directory`, or
// nothing when `name` is null. `name` must stay valid until the next call. Call within Deferred.
void removeOnInterruption(int directory, const char* name);

// What an interruption also removes: the private directory at `path`, open as `directory`,
// once its entries named in `names` (ended by a null) are gone; nothing when `path` is null.
// The strings must stay valid until the next call. Call within Deferred.
void removeDirectoryOnInterruption(int directory, const char* path, const char* const* names);

// The line written on interruption, its line feed included; a string that outlives the run.
void sayOnInterruption(const char* line);

inline constexpr const char* kNothingWritten = "Interrupted: nothing was written.\n";
inline constexpr const char* kEarlierFileUnchanged =
    "Interrupted: nothing was written; the earlier file is unchanged.\n";
inline constexpr const char* kFileWritten = "Interrupted: the file was written in full.\n";

}  // namespace sheafwright::interruption
