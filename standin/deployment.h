#pragma once
// The simulated package deployment service: adds a package from an .appinstaller URI into the
// store under the platform root and removes packages by full name, each operation on a thread
// of its own, failing with the HRESULTs Windows reports.

#include "common/deployment.h"

namespace standin {

// The service, living for the whole process.
pellora::platform::PackageManager* package_manager();

}  // namespace standin
