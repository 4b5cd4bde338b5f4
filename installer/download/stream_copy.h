#pragma once
// copy_stream_with_progress: moves everything an input delivers into an output in reads of at
// most 8192 bytes, reporting the running total after every chunk, and commits the output once
// at the end. The streams are small interfaces so that tests can feed it from memory.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "common/cancellable.h"

namespace pellora {

inline constexpr size_t copy_chunk_bytes = 8192;

class InputStream {
 public:
  virtual ~InputStream() = default;
  // Blocks until some bytes are there; at most `capacity` bytes, 0 at the end of the input.
  // Raises PlatformError on failure.
  virtual size_t read(uint8_t* buffer, size_t capacity) = 0;
};

class OutputStream {
 public:
  virtual ~OutputStream() = default;
  virtual void write(const uint8_t* data, size_t size) = 0;
  // Makes everything written so far visible at once. Nothing is visible before it.
  virtual void commit() = 0;
};

// The copy as the window sees it: cancel() from any thread stops it at its next checkpoint and
// also cancels `source`, so that a read blocked on a silent server returns at once.
class CopyOperation final : public platform::Cancellable {
 public:
  explicit CopyOperation(std::shared_ptr<platform::Cancellable> source = nullptr)
      : source_(std::move(source)) {}
  void cancel() override;
  bool cancelled() const { return cancelled_; }
  // Raises the cancellation error once cancel() has been called.
  void throw_if_cancelled() const;

 private:
  std::shared_ptr<platform::Cancellable> source_;
  std::atomic<bool> cancelled_{false};
};

// Returns the number of bytes copied. `progress` (may be empty) runs on the calling thread after
// every chunk. Raises the cancellation error when `operation` is cancelled (checked before every
// read, after every non-empty read and before the commit) and passes stream failures on; in
// either case the output is not committed.
uint64_t copy_stream_with_progress(InputStream& input, OutputStream& output,
                                   const CopyOperation& operation,
                                   const std::function<void(uint64_t)>& progress);

}  // namespace pellora
