// Backup and restore of a large data folder through the installer's own code, timed against
// `cp -a` doing the same two copies.
//
//   appdata_copy_bench <scratch-folder> [files=20000] [mebibytes=1024] [rounds=3]
//
// The scratch folder is created and removed. Both sides run with a warm page cache, one after
// the other, each after a sync. On tmpfs (/dev/shm) the figures show the copying code alone.

#include <sys/stat.h>

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
#include "installer/platform/posix/backend.h"

namespace {

namespace fs = std::filesystem;
using pellora::platform::services;

// Only the data folders are asked for; the rest of the package is not needed here.
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

class QuietOutput final : public pellora::platform::DebugOutput {
 public:
  void write(std::string_view) override {}
};

// Files of varied sizes (a few large, many small, as application data tends to be) spread over
// nested folders, adding up to `total_bytes`.
void make_tree(const fs::path& root, int files, uint64_t total_bytes) {
  std::mt19937_64 random(42);
  std::vector<uint64_t> sizes(static_cast<size_t>(files));
  double weight_sum = 0;
  std::vector<double> weights(sizes.size());
  for (double& weight : weights) {
    weight = std::exp(std::normal_distribution<double>(0, 1.5)(random));
    weight_sum += weight;
  }
  for (size_t i = 0; i < sizes.size(); ++i) {
    sizes[i] = static_cast<uint64_t>(weights[i] / weight_sum * static_cast<double>(total_bytes));
  }
  std::vector<char> block((1 << 20) + 4096);
  for (char& c : block) c = static_cast<char>(random());
  for (int i = 0; i < files; ++i) {
    const fs::path folder = root / ("d" + std::to_string(i % 40)) / ("e" + std::to_string(i % 7));
    fs::create_directories(folder);
    std::ofstream out(folder / ("f" + std::to_string(i) + ".bin"), std::ios::binary);
    // Each file starts at its own offset, so no two files are alike.
    const char* start = block.data() + (static_cast<size_t>(i) * 4099) % 4096;
    for (uint64_t left = sizes[static_cast<size_t>(i)]; left > 0;) {
      const size_t step = static_cast<size_t>(std::min<uint64_t>(left, 1 << 20));
      out.write(start, static_cast<std::streamsize>(step));
      left -= step;
    }
  }
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void run(const std::string& command) {
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "failed: %s\n", command.c_str());
    std::exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <scratch-folder> [files] [mebibytes] [rounds]\n", argv[0]);
    return 2;
  }
  const fs::path root = fs::absolute(argv[1]);
  const int files = argc > 2 ? std::atoi(argv[2]) : 20000;
  const uint64_t mebibytes = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1024;
  const int rounds = argc > 4 ? std::atoi(argv[4]) : 3;

  fs::remove_all(root);
  fs::create_directories(root / "tmp");
  const fs::path data = root / "data";
  make_tree(data, files, mebibytes << 20);
  run("sync");

  QuietOutput quiet;
  ScratchPackage package((root / "package").string());
  pellora::platform::Services& s = services();
  s.debug = &quiet;
  s.system = pellora::platform::posix::system();
  s.files = pellora::platform::posix::files();
  s.current_package = &package;
  s.system->set_env(pellora::appdata_local_variable, data.string());
  // The other two folders exist but are empty, as a fresh package's usually are.
  fs::create_directories(root / "roaming");
  fs::create_directories(root / "cache");
  s.system->set_env(pellora::appdata_roaming_variable, (root / "roaming").string());
  s.system->set_env(pellora::appdata_local_cache_variable, (root / "cache").string());

  std::printf("%d files, %llu MiB\n", files, static_cast<unsigned long long>(mebibytes));
  for (int round = 0; round < rounds; ++round) {
    fs::remove_all(root / "cp-backup");
    fs::remove_all(root / "cp-restore");
    run("sync");
    auto start = std::chrono::steady_clock::now();
    run("cp -a '" + data.string() + "' '" + (root / "cp-backup").string() + "' && mkdir '" +
        (root / "cp-restore").string() + "' && cp -a '" + (root / "cp-backup").string() + "/.' '" +
        (root / "cp-restore").string() + "'");
    const double cp_seconds = seconds_since(start);

    // Neither side is charged for removing the previous round's copies or for flushing them.
    fs::remove_all(root / "package");
    fs::remove_all(root / "tmp/appdata.backup");
    fs::create_directories(root / "package/LocalState");
    run("sync");
    start = std::chrono::steady_clock::now();
    const std::string backup = pellora::backup_appdata_under((root / "tmp").string() + "/");
    const double backup_seconds = seconds_since(start);
    if (backup.empty()) {
      std::fprintf(stderr, "backup failed\n");
      return 1;
    }
    start = std::chrono::steady_clock::now();
    pellora::restore_appdata(backup);
    const double restore_seconds = seconds_since(start);
    if (round == 0) run("diff -rq '" + data.string() + "' '" + package.local_folder() + "'");
    std::printf("round %d: cp -a twice %.2f s; backup %.2f s + restore %.2f s = %.2f s\n", round,
                cp_seconds, backup_seconds, restore_seconds, backup_seconds + restore_seconds);
  }
  fs::remove_all(root);
  return 0;
}
