// Driver of bench/appdata/run.sh.
//
//   appdata_bench make-tree <folder> <files> <mebibytes>
//     writes a data tree: files of varied sizes (a few large, many small, as application data
//     tends to be) in nested folders, adding up to the given size.
//   appdata_bench round <data-folder> <temp-folder> <package-folder>
//     backs <data-folder> up as the Local folder into <temp-folder>/appdata.backup.1, restores it
//     into <package-folder>/LocalState, and prints "backup_seconds=... restore_seconds=...".

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "installer/appdata/backup.h"
#include "installer/appdata/restore.h"
#include "installer/platform/backend.h"

namespace {

namespace fs = std::filesystem;

// Only the data folders are asked for.
class ScratchPackage final : public pellora::platform::CurrentPackage {
 public:
  explicit ScratchPackage(std::string root) : root_(std::move(root)) {}
  uint32_t get_current_package_full_name_result() override { return 0; }
  std::string installed_path() override { return root_; }
  pellora::platform::PackageVersion version() override { return {}; }
  std::string family_name() override { return "Bench_0"; }
  std::string local_folder() override { return root_ + "/LocalState"; }
  std::string roaming_folder() override { return root_ + "/RoamingState"; }
  std::string local_cache_folder() override { return root_ + "/LocalCache"; }

 private:
  std::string root_;
};

// Failures are what matters here; the rest of the log is left out of the timings.
class ErrorsOnly final : public pellora::platform::DebugOutput {
 public:
  void write(std::string_view text) override {
    if (text.find("Error") != std::string_view::npos) {
      std::fwrite(text.data(), 1, text.size(), stderr);
      failed = true;
    }
  }
  bool failed = false;
};

void make_tree(const fs::path& root, int files, uint64_t total_bytes) {
  std::mt19937_64 random(42);
  std::vector<double> weights(static_cast<size_t>(files));
  double weight_sum = 0;
  for (double& weight : weights) {
    weight = std::exp(std::normal_distribution<double>(0, 1.5)(random));
    weight_sum += weight;
  }
  std::vector<char> block((1 << 20) + 4096);
  for (char& c : block) c = static_cast<char>(random());
  for (int i = 0; i < files; ++i) {
    const fs::path folder = root / ("d" + std::to_string(i % 40)) / ("e" + std::to_string(i % 7));
    fs::create_directories(folder);
    std::ofstream out(folder / ("f" + std::to_string(i) + ".bin"), std::ios::binary);
    // Each file starts at its own offset, so no two files are alike.
    const char* start = block.data() + (static_cast<size_t>(i) * 4099) % 4096;
    auto left = static_cast<uint64_t>(weights[static_cast<size_t>(i)] / weight_sum *
                                      static_cast<double>(total_bytes));
    while (left > 0) {
      const size_t step = static_cast<size_t>(std::min<uint64_t>(left, 1 << 20));
      out.write(start, static_cast<std::streamsize>(step));
      left -= step;
    }
  }
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int round_trip(const fs::path& data, const fs::path& temp, const fs::path& package_root) {
  ErrorsOnly output;
  ScratchPackage package(package_root.string());
  pellora::platform::Services& services = pellora::platform::services();
  services.debug = &output;
  services.system = pellora::platform::backend_services().system;
  services.files = pellora::platform::backend_services().files;
  services.current_package = &package;
  // The other two folders exist but are empty, as a fresh package's usually are.
  const fs::path empty = temp / "empty";
  fs::create_directories(empty);
  fs::create_directories(package.local_folder());
  services.system->set_env(pellora::appdata_local_variable, data.string());
  services.system->set_env(pellora::appdata_roaming_variable, empty.string());
  services.system->set_env(pellora::appdata_local_cache_variable, empty.string());

  auto start = std::chrono::steady_clock::now();
  const std::string backup = pellora::backup_appdata_into((temp / "appdata.backup.1").string());
  const double backup_seconds = seconds_since(start);
  start = std::chrono::steady_clock::now();
  if (!backup.empty()) pellora::restore_folders(backup);
  const double restore_seconds = seconds_since(start);
  if (backup.empty() || output.failed) return 1;
  std::printf("backup_seconds=%.3f restore_seconds=%.3f\n", backup_seconds, restore_seconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "make-tree" && argc == 5) {
    make_tree(argv[2], std::atoi(argv[3]), std::strtoull(argv[4], nullptr, 10) << 20);
    return 0;
  }
  if (command == "round" && argc == 5) return round_trip(argv[2], argv[3], argv[4]);
  std::fprintf(stderr,
               "usage: %s make-tree <folder> <files> <mebibytes>\n"
               "       %s round <data-folder> <temp-folder> <package-folder>\n",
               argv[0], argv[0]);
  return 2;
}
