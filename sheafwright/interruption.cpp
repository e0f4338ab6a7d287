// The handler of SIGINT, SIGTERM and SIGHUP, and what it is allowed to touch.
#include "sheafwright/interruption.h"

#include <atomic>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace sheafwright::interruption {

namespace {

// Lock-free atomics are what a handler may read (C++17, [support.signal]).
static_assert(std::atomic<const char*>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

std::atomic<int> removeDirectory{-1};
std::atomic<const char*> removeName{nullptr};
std::atomic<int> privateDirectory{-1};
std::atomic<const char*> privatePath{nullptr};
std::atomic<const char* const*> privateNames{nullptr};
std::atomic<const char*> message{kNothingWritten};
std::atomic<bool> clearLine{false};

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

void writeAll(const char* text, std::size_t length) {
  while (length > 0) {
    const ssize_t n = ::write(STDERR_FILENO, text, length);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return;
    }
    text += n;
    length -= static_cast<std::size_t>(n);
  }
}

// Only async-signal-safe calls: unlinkat, rmdir, write, _exit.
extern "C" void onInterruption(int) {
  if (const char* name = removeName.load()) {
    ::unlinkat(removeDirectory.load(), name, 0);
  }
  if (const char* path = privatePath.load()) {
    for (const char* const* name = privateNames.load(); *name != nullptr; ++name) {
      ::unlinkat(privateDirectory.load(), *name, 0);
    }
    ::rmdir(path);
  }
  if (clearLine.load()) {
    // The progress line, and the "^C" the terminal echoed after it.
    writeAll("\r\x1b[K", 4);
  }
  const char* line = message.load();
  writeAll(line, std::strlen(line));
  ::_exit(1);
}

sigset_t stopSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : kStopSignals) {
    sigaddset(&set, signal);
  }
  return set;
}

}  // namespace

void install() {
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGXFSZ, SIG_IGN);
  clearLine = ::isatty(STDERR_FILENO) == 1;
  struct sigaction action {};
  action.sa_handler = &onInterruption;
  action.sa_mask = stopSignals();
  for (const int signal : kStopSignals) {
    struct sigaction previous {};
    if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN) {
      ::sigaction(signal, &action, nullptr);
    }
  }
}

Deferred::Deferred() {
  const sigset_t set = stopSignals();
  ::pthread_sigmask(SIG_BLOCK, &set, &previous_);
}

Deferred::~Deferred() {
  ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

void removeOnInterruption(int directory, const char* name) {
  removeName = nullptr;
  removeDirectory = directory;
  removeName = name;
}

void removeDirectoryOnInterruption(int directory, const char* path, const char* const* names) {
  privatePath = nullptr;
  privateDirectory = directory;
  privateNames = names;
  privatePath = path;
}

void sayOnInterruption(const char* line) {
  message = line;
}

}  // namespace sheafwright::interruption
