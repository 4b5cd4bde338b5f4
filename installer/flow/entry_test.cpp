#include "installer/flow/entry.h"

#include <gtest/gtest.h>

#include "installer/core/progress_window.h"
#include "installer/platform/backend.h"
#include "tests/support/fake_platform.h"

namespace pellora {
namespace {

TEST(StartFlow, AWorkerThatCannotStartEndsInTheErrorBox) {
  testing::ScopedFakePlatform fake;
  create_progress_window();
  fake.system.refuse_work = platform::win32::not_enough_memory;
  static bool ran = false;
  EXPECT_THROW(start_flow([] { ran = true; }), testing::ProcessExit);
  EXPECT_FALSE(ran);
  EXPECT_EQ(fake.clipboard.text,
            "Exception whilst installing: [80070008] " + platform::format_message(8) + "\n");
}

}  // namespace
}  // namespace pellora
