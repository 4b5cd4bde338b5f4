#include "installer/deploy/new_installer.h"

#include <gtest/gtest.h>

namespace pellora {
namespace {

TEST(NewInstallerUrl, TakesBothPartsFromOneSourceAndGluesThem) {
  BurnedInSettings settings;
  settings.site_base_url = "https://burned.example/app/";
  settings.installer_file_name = "Setup.exe";
  Metadata metadata;

  EXPECT_EQ(new_installer_url(nullptr, settings), "https://burned.example/app/Setup.exe");

  metadata.site_base_url = "https://moved.example/app";
  metadata.exe_installer_name = "NewSetup.exe";
  EXPECT_EQ(new_installer_url(&metadata, settings), "https://moved.example/appNewSetup.exe");

  metadata.exe_installer_name = "";
  EXPECT_EQ(new_installer_url(&metadata, settings), "https://burned.example/app/Setup.exe");

  metadata.site_base_url = "";
  metadata.exe_installer_name = "NewSetup.exe";
  EXPECT_EQ(new_installer_url(&metadata, settings), "https://burned.example/app/Setup.exe");
}

}  // namespace
}  // namespace pellora
