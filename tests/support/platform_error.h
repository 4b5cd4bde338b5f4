#pragma once
// The code of the platform error a call raises, 0 when it returns. Every raised error must come
// with a message.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>

#include "common/error.h"

namespace pellora::testing {

inline uint32_t error_code_of(const std::function<void()>& call) {
  try {
    call();
  } catch (const platform::PlatformError& error) {
    EXPECT_FALSE(error.message().empty());
    return error.code();
  }
  return 0;
}

}  // namespace pellora::testing
