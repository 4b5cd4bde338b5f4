#include "installer/download/stream_copy.h"

#include <gtest/gtest.h>

#include <deque>

#include "installer/platform/error.h"

namespace pellora {
namespace {

// Delivers its chunks one read at a time, then the end.
class ChunkedInput final : public InputStream {
 public:
  explicit ChunkedInput(std::deque<size_t> sizes) : sizes_(std::move(sizes)) {}
  size_t read(uint8_t* buffer, size_t capacity) override {
    capacities.push_back(capacity);
    if (sizes_.empty()) return 0;
    const size_t count = std::min(capacity, sizes_.front());
    sizes_.pop_front();
    std::fill_n(buffer, count, static_cast<uint8_t>('x'));
    return count;
  }
  std::vector<size_t> capacities;

 private:
  std::deque<size_t> sizes_;
};

class RecordingOutput final : public OutputStream {
 public:
  void write(const uint8_t*, size_t size) override { written += size; }
  void commit() override { ++commits; }
  size_t written = 0;
  int commits = 0;
};

TEST(CopyStreamWithProgress, CancelAfterTheFirstChunkCommitsNothingAndReadsNoMore) {
  struct Source : platform::Cancellable {
    int cancels = 0;
    void cancel() override { ++cancels; }
  };
  auto source = std::make_shared<Source>();
  ChunkedInput input({8192, 8192, 3616});
  RecordingOutput output;
  CopyOperation operation(source);
  try {
    copy_stream_with_progress(input, output, operation, [&](uint64_t) { operation.cancel(); });
    FAIL() << "not cancelled";
  } catch (const platform::PlatformError& error) {
    EXPECT_TRUE(error.is_cancellation());
  }
  EXPECT_EQ(source->cancels, 1);
  EXPECT_EQ(output.commits, 0);
  EXPECT_EQ(input.capacities.size(), 1u);
}

}  // namespace
}  // namespace pellora
