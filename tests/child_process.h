// Runs a program in a child process as a user would, for the CLI tests and the benchmarks.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace sheafwright {

struct ChildProcess {
  std::string program{};
  std::vector<std::string> arguments{};
  // Set in the child's environment, or unset where there is no value.
  std::map<std::string, std::optional<std::string>> environment{};
  // Files (or a terminal) for standard output and error; empty leaves the stream as it is.
  std::filesystem::path out{};
  std::filesystem::path err{};
  // Runs in the child just before the program starts: a working directory, limits.
  std::function<void()> prepare{};
};

struct ChildExit {
  int status;          // the exit status, or 128 plus the signal that ended the child
  long peakKilobytes;  // the child's peak resident memory
};

// Starts the child; waitChild then waits for it.
inline pid_t startChild(const ChildProcess& child) {
  std::vector<std::string> copies{child.program};
  copies.insert(copies.end(), child.arguments.begin(), child.arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : copies) {
    argv.push_back(argument.data());
  }
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const auto redirect = [](const std::filesystem::path& path, int stream) {
      if (!path.empty()) {
        ::dup2(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY, 0644), stream);
      }
    };
    redirect(child.out, 1);
    redirect(child.err, 2);
    for (const auto& [name, value] : child.environment) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
    if (child.prepare) {
      child.prepare();
    }
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

inline ChildExit waitChild(pid_t pid) {
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
#if defined(__APPLE__)
  const long peakKilobytes = usage.ru_maxrss / 1024;  // bytes on macOS
#else
  const long peakKilobytes = usage.ru_maxrss;
#endif
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), peakKilobytes};
}

// Starts the child and waits for it.
inline ChildExit runChild(const ChildProcess& child) {
  return waitChild(startChild(child));
}

}  // namespace sheafwright
