#include "common/write_all.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <string>

namespace standin {
namespace {

TEST(WriteWithin, AFullPipeOrAClosedOneCostsAtMostThePatience) {
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  const std::string record(4096, 'x');
  // Nobody reads: the pipe fills, and the record that no longer fits is dropped, not waited on.
  bool dropped = false;
  for (int i = 0; i < 64 && !dropped; ++i) {
    dropped = !write_within(fds[1], record, std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(dropped);
  ::close(fds[0]);
  // The reader is gone (with SIGPIPE ignored, as the programs do): the write fails at once.
  ::signal(SIGPIPE, SIG_IGN);
  EXPECT_FALSE(write_within(fds[1], "line\n", std::chrono::milliseconds(20)));
  ::signal(SIGPIPE, SIG_DFL);
  ::close(fds[1]);
}

}  // namespace
}  // namespace standin
