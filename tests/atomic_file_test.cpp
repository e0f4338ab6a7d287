// The atomic replacement of a file: all of it on commit, nothing otherwise, the first failure.
#include "sheafwright/atomic_file.h"

#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <dlfcn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace sheafwright {
namespace {

namespace fs = std::filesystem;

#if defined(__linux__)
// Set by a test: what the target held whenever a directory was synced.
std::vector<std::string>* directorySyncs = nullptr;
const std::string* syncedTarget = nullptr;
#endif

class AtomicFileTest : public testing::Test {
 protected:
  void SetUp() override { std::ofstream(target_) << "earlier"; }

  const TemporaryDirectory dir_;
  const std::string target_ = (dir_ / "out.json").string();
};

// The directory is synced once the new name is in it, so that a power cut cannot take the
// rename back.
TEST_F(AtomicFileTest, CommitReplacesTheTargetWhole) {
#if defined(__linux__)
  std::vector<std::string> syncs;
  directorySyncs = &syncs;
  syncedTarget = &target_;
#endif
  {
    AtomicFile file(target_);
    file.write("{\n");
    EXPECT_EQ(readFile(target_), "earlier");
    file.write("}\n");
    EXPECT_EQ(file.commit(), std::nullopt);
  }
  EXPECT_EQ(readFile(target_), "{\n}\n");
  EXPECT_EQ(fileCount(dir_.path()), 1);
#if defined(__linux__)
  directorySyncs = nullptr;
  EXPECT_EQ(syncs, std::vector<std::string>{"{\n}\n"});
#endif
}

TEST_F(AtomicFileTest, WithoutCommitTheEarlierFileStaysAndNothingIsLeft) {
  {
    AtomicFile file(target_);
    file.write("partial");
  }
  EXPECT_EQ(readFile(target_), "earlier");
  EXPECT_EQ(fileCount(dir_.path()), 1);
}

TEST_F(AtomicFileTest, TheFirstFailureIsKeptAndNothingIsLeft) {
  AtomicFile missing((dir_ / "missing" / "out.json").string());
  missing.write("x");
  EXPECT_EQ(missing.commit(),
            (dir_ / "missing" / "out.json").string() + ": No such file or directory");

  // A write that fails ends the file: later writes do nothing, commit reports the write.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit previous{};
  ::getrlimit(RLIMIT_FSIZE, &previous);
  const rlimit small{4, previous.rlim_max};
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  std::optional<std::string> failure;
  {
    AtomicFile file(target_);
    file.write("too long");
    file.write("x");
    failure = file.commit();
  }
  ::setrlimit(RLIMIT_FSIZE, &previous);
  EXPECT_EQ(failure, target_ + ": File too large");
  EXPECT_EQ(readFile(target_), "earlier");
  EXPECT_EQ(fileCount(dir_.path()), 1);
}

// What a link leads to is replaced and the link stays; only a regular file is replaced; and the
// temporary name fits wherever the target's does. Nothing is left beside either.
TEST_F(AtomicFileTest, OnlyARegularFileIsReplacedAndLinksAreFollowed) {
  const fs::path elsewhere = dir_ / "elsewhere";
  struct Case {
    const char* name;
    std::function<fs::path()> make;      // makes the target; the path written to
    std::optional<std::string> failure;  // after the path
    fs::path replaced;                   // the file that then holds the bytes
  };
  const std::string longName(255, 'n');
  const Case cases[] = {
      {"link",
       [&] {
         std::ofstream(elsewhere / "real.json") << "earlier";
         fs::create_symlink("elsewhere/real.json", dir_ / "link.json");
         return dir_ / "link.json";
       },
       std::nullopt, elsewhere / "real.json"},
      {"link to no file yet",
       [&] {
         fs::create_symlink("elsewhere/new.json", dir_ / "link.json");
         return dir_ / "link.json";
       },
       std::nullopt, elsewhere / "new.json"},
      {"name of 255 bytes", [&] { return dir_ / longName; }, std::nullopt, dir_ / longName},
      {"named pipe",
       [&] {
         ::mkfifo((dir_ / "fifo").c_str(), 0600);
         return dir_ / "fifo";
       },
       ": Not a regular file (a named pipe)",
       {}},
      {"directory",
       [&] {
         fs::create_directory(dir_ / "sub");
         return dir_ / "sub";
       },
       ": Not a regular file (a directory)",
       {}},
      {"socket",
       [&] {
         // Bound by a relative name: a socket's path has room for about a hundred bytes.
         const fs::path previous = fs::current_path();
         fs::current_path(dir_.path());
         sockaddr_un address{};
         address.sun_family = AF_UNIX;
         std::snprintf(address.sun_path, sizeof address.sun_path, "socket");
         const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
         EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
         ::close(fd);
         fs::current_path(previous);
         return dir_ / "socket";
       },
       ": Not a regular file (a socket)",
       {}},
      {"link to a device",
       [&] {
         fs::create_symlink("/dev/null", dir_ / "null");
         return dir_ / "null";
       },
       ": Not a regular file (it leads to /dev/null, a character device)",
       {}},
      {"links in a loop",
       [&] {
         fs::create_symlink("b", dir_ / "a");
         fs::create_symlink("a", dir_ / "b");
         return dir_ / "a";
       },
       ": Too many levels of symbolic links",
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir_.path());
    fs::create_directories(elsewhere);
    const fs::path target = c.make();
    const auto before = fs::symlink_status(target).type();
    const auto entries = [&] { return fileCount(dir_.path()) + fileCount(elsewhere); };
    const std::ptrdiff_t expected = entries() + (c.failure || fs::exists(c.replaced) ? 0 : 1);
    std::optional<std::string> failure;
    {
      AtomicFile file(target.string());
      file.write("new");
      failure = file.commit();
    }
    EXPECT_EQ(failure, c.failure ? std::optional(target.string() + *c.failure) : std::nullopt);
    if (before != fs::file_type::not_found) {
      EXPECT_EQ(fs::symlink_status(target).type(), before);
    }
    if (!c.failure) {
      EXPECT_EQ(readFile(c.replaced), "new");
    }
    EXPECT_EQ(entries(), expected);
  }
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

}  // namespace
}  // namespace sheafwright

#if defined(__linux__)
// Every fsync of the test binary passes here (the tool's library is linked in statically), so
// that a test can see when a directory is synced.
extern "C" int fsync(int fd) {
  static const auto real = reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, "fsync"));
  struct stat info {};
  if (sheafwright::directorySyncs != nullptr && ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    sheafwright::directorySyncs->push_back(sheafwright::readFile(*sheafwright::syncedTarget));
  }
  return real(fd);
}
#endif
