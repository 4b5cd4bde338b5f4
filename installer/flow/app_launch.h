#pragma once
#include <string>

#include "installer/core/state.h"

namespace pellora {

inline constexpr const char* packaged_update_checker_name = "updatecheck.exe";
inline constexpr const char* temporary_updater_name = "updater.exe";

// Restores the data backups left waiting, starts the installed application with forwarded_args,
// then shows the box of a restore that left data behind.
void launch_app();
// Opens the launch URI; a mode other than normal_start puts the update-mode argument before
// `args`.
void open_launch_uri(RunMode mode, std::string args);
// Starts a temporary copy of the packaged update checker in forced_update mode.
void start_updater();

}  // namespace pellora
