#include "installer/deploy/uninstall.h"

#include <gtest/gtest.h>

#include "common/error.h"
#include "installer/core/burned_in_settings.h"
#include "installer/core/progress_window.h"
#include "tests/support/fake_deployment.h"
#include "tests/support/fake_platform.h"

namespace pellora {
namespace {

using platform::DeploymentProgressState;
using testing::ScriptedDeployment;

class Uninstall : public ::testing::Test {
 protected:
  Uninstall() {
    fake.services().packages = &packages;
    create_progress_window();  // hidden, its show timer far off
  }
  testing::ScopedFakePlatform fake;
  testing::FakePackageManager packages;
};

TEST_F(Uninstall, ShowsTheWindowAtOnceAndFollowsTheProgress) {
  std::vector<platform::WindowView> seen;
  ScriptedDeployment removal = ScriptedDeployment::success();
  removal.progress = {{DeploymentProgressState::queued, 0},
                      {DeploymentProgressState::processing, 30},
                      {DeploymentProgressState::completed, 100}};
  removal.after_report = [&](size_t) {
    EXPECT_TRUE(has_current_operation());
    seen.push_back(progress_window_view());
  };
  packages.removals.push_back(removal);

  EXPECT_TRUE(uninstall());
  EXPECT_EQ(packages.remove_calls, std::vector<std::string>{burned_in_settings.package_full_name});
  ASSERT_EQ(seen.size(), 3u);
  for (const auto& view : seen) {
    EXPECT_TRUE(view.visible && !view.marquee && !view.cancel_enabled);
    EXPECT_EQ(view.title, "Removing old package, please wait");
  }
  EXPECT_EQ(seen[1].position, 30u);
  EXPECT_EQ(seen[2].position, 100u);
  EXPECT_FALSE(has_current_operation());
}

TEST_F(Uninstall, OnlyACompletedRemovalCountsAndAnErrorEndsInTheBox) {
  ScriptedDeployment unfinished = ScriptedDeployment::success();
  unfinished.status = platform::AsyncStatus::started;
  packages.removals = {unfinished, ScriptedDeployment::failure(platform::hresult::package_not_found,
                                                               "Package not found.")};
  EXPECT_FALSE(uninstall());
  EXPECT_TRUE(fake.window.boxes.empty());
  EXPECT_EQ(testing::ending_of([] { uninstall(); }), "exit 1");
  EXPECT_EQ(fake.clipboard.text, "Failed to uninstall due to error: Package not found.");
}

TEST_F(Uninstall, ClosingTheWindowCancelsTheRemoval) {
  ScriptedDeployment removal = ScriptedDeployment::success();
  removal.while_waiting = [] { on_window_event(platform::WindowEvent::close); };
  packages.removals.push_back(removal);
  EXPECT_EQ(testing::ending_of([] { uninstall(); }), "cancelled");
  EXPECT_EQ(packages.operations.at(0)->cancel_calls(), 1);
  EXPECT_FALSE(has_current_operation());
}

}  // namespace
}  // namespace pellora
