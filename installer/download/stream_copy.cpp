#include "installer/download/stream_copy.h"

#include <array>

#include "common/error.h"

namespace pellora {

void CopyOperation::cancel() {
  cancelled_ = true;
  if (source_) source_->cancel();
}

void CopyOperation::throw_if_cancelled() const {
  if (cancelled_) throw platform::cancelled_error();
}

uint64_t copy_stream_with_progress(InputStream& input, OutputStream& output,
                                   const CopyOperation& operation,
                                   const std::function<void(uint64_t)>& progress) {
  std::array<uint8_t, copy_chunk_bytes> buffer;
  uint64_t total = 0;
  for (;;) {
    operation.throw_if_cancelled();
    const size_t count = input.read(buffer.data(), buffer.size());
    if (count == 0) break;
    operation.throw_if_cancelled();
    output.write(buffer.data(), count);
    total += count;
    if (progress) progress(total);
  }
  operation.throw_if_cancelled();
  output.commit();
  return total;
}

}  // namespace pellora
