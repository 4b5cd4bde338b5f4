#include "installer/download/stream_copy.h"

#include <gtest/gtest.h>

#include "tests/support/fake_platform.h"

namespace pellora {
namespace {

// A cancel from the progress callback stops the copy at once: no read after it, no commit.
TEST(CopyStreamWithProgress, CancelAfterTheFirstChunkCommitsNothingAndReadsNoMore) {
  struct Source : platform::Cancellable {
    int cancels = 0;
    void cancel() override { ++cancels; }
  };
  struct Input : InputStream {
    int reads = 0;
    size_t read(uint8_t*, size_t capacity) override { return ++reads <= 3 ? capacity : 0; }
  } input;
  struct Output : OutputStream {
    int commits = 0;
    void write(const uint8_t*, size_t) override {}
    void commit() override { ++commits; }
  } output;
  auto source = std::make_shared<Source>();
  CopyOperation operation(source);
  const auto copy = [&] {
    copy_stream_with_progress(input, output, operation, [&](uint64_t) { operation.cancel(); });
  };
  EXPECT_EQ(testing::ending_of(copy), "cancelled");
  EXPECT_EQ(source->cancels, 1);
  EXPECT_EQ(output.commits, 0);
  EXPECT_EQ(input.reads, 1);
}

}  // namespace
}  // namespace pellora
