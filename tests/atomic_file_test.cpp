// The atomic replacement of a file: all of it on commit, nothing otherwise, the first failure.
#include "sheafwright/atomic_file.h"

#include "testing/test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <string>

#include <sys/resource.h>

namespace sheafwright {
namespace {

class AtomicFileTest : public testing::Test {
 protected:
  void SetUp() override { std::ofstream(target_) << "earlier"; }

  const TemporaryDirectory dir_;
  const std::string target_ = (dir_ / "out.json").string();
};

TEST_F(AtomicFileTest, CommitReplacesTheTargetWhole) {
  {
    AtomicFile file(target_);
    file.write("{\n");
    EXPECT_EQ(readFile(target_), "earlier");
    file.write("}\n");
    EXPECT_EQ(file.commit(), std::nullopt);
  }
  EXPECT_EQ(readFile(target_), "{\n}\n");
  EXPECT_EQ(fileCount(dir_.path()), 1);
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

}  // namespace
}  // namespace sheafwright
