// start_app_bench full-name NAME VERSION ARCHITECTURE PUBLISHER
//   prints the package full name the stand-in gives that identity.
// start_app_bench install APPINSTALLER_URL
//   installs the package through the stand-in's deployment service (TREVALON_PLATFORM_ROOT).
// start_app_bench measure PROGRAM APP STAMP_FOLDER ROUNDS
//   ROUNDS times, in alternating order: starts PROGRAM in start_app mode and, as the reference,
//   APP directly; each time, the span from just before the spawn to the moment APP's main began
//   (APP writes it to $TREVALON_BENCH_STAMP). Prints one line per round: "ours_us reference_us".
//   PROGRAM's own pause after the launch comes after APP has begun, so it is not in the span;
//   the next round waits for PROGRAM to end, so the rounds do not overlap.
// start_app_bench start PROGRAM STAMP_FOLDER ROUNDS
//   ROUNDS times: starts PROGRAM without arguments (the packaged start, with its update check)
//   and prints the microseconds from the spawn to the moment the application's main began.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "installer/platform/backend.h"
#include "standin/deployment.h"
#include "standin/publisher_id.h"

extern char** environ;

namespace {

int64_t monotonic_ns() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

int install(const std::string& url) {
  using namespace pellora::platform;
  PackageManager* manager = standin::package_manager();
  auto operation = manager->add_package_by_app_installer_file(
      url, add_option_force_target_app_shutdown, manager->get_default_package_volume());
  if (operation->wait() != AsyncStatus::completed) {
    std::cerr << "start_app_bench: install failed: " << operation->get_results().error_text << "\n";
    return 1;
  }
  return 0;
}

// Spawns `argv` with output to /dev/null and `stamp` in its environment.
pid_t spawn(std::vector<std::string> argv, const std::string& stamp) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "TREVALON_BENCH_STAMP=", 21) != 0) environment.emplace_back(*entry);
  }
  environment.push_back("TREVALON_BENCH_STAMP=" + stamp);
  std::vector<char*> args, envp;
  for (std::string& part : argv) args.push_back(part.data());
  args.push_back(nullptr);
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int error = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    std::cerr << "start_app_bench: cannot start " << argv[0] << ": " << std::strerror(error)
              << "\n";
    std::exit(1);
  }
  return pid;
}

// The time APP wrote, waiting up to two minutes for it (a start may wait for a dead site).
int64_t wait_for_stamp(const std::string& stamp) {
  const int64_t give_up = monotonic_ns() + 120'000'000'000;
  while (monotonic_ns() < give_up) {
    std::ifstream file(stamp);
    long long value = 0;
    if (file >> value) return value;
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  std::cerr << "start_app_bench: the application did not start\n";
  std::exit(1);
}

void wait_for_exit(pid_t pid, const std::string& name) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::cerr << "start_app_bench: " << name << " ended with status " << status << "\n";
    std::exit(1);
  }
}

// Microseconds from the spawn to APP's start.
double time_start(const std::vector<std::string>& argv, const std::string& stamp) {
  std::remove(stamp.c_str());
  const int64_t started = monotonic_ns();
  const pid_t pid = spawn(argv, stamp);
  const int64_t app_began = wait_for_stamp(stamp);
  wait_for_exit(pid, argv[0]);
  return static_cast<double>(app_began - started) / 1000.0;
}

int measure(const std::string& program, const std::string& app, const std::string& folder,
            int rounds) {
  const std::string stamp = folder + "/stamp";
  const std::vector<std::string> ours = {program, "TREVALON_INTERNAL_UPDATE_MODE=2"};
  const std::vector<std::string> reference = {app};
  for (int round = 0; round < rounds; ++round) {
    double ours_us = 0;
    double reference_us = 0;
    if (round % 2 == 0) {
      ours_us = time_start(ours, stamp);
      reference_us = time_start(reference, stamp);
    } else {
      reference_us = time_start(reference, stamp);
      ours_us = time_start(ours, stamp);
    }
    std::printf("%.1f %.1f\n", ours_us, reference_us);
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 5 && args[0] == "full-name") {
    std::cout << standin::package_full_name(args[1], args[2], args[3], "", args[4]) << "\n";
    return 0;
  }
  if (args.size() == 2 && args[0] == "install") return install(args[1]);
  if (args.size() == 4 && args[0] == "start") {
    for (int round = 0; round < std::atoi(args[3].c_str()); ++round) {
      std::printf("%.1f\n", time_start({args[1]}, args[2] + "/stamp"));
      std::fflush(stdout);
    }
    return 0;
  }
  if (args.size() == 5 && args[0] == "measure") {
    return measure(args[1], args[2], args[3], std::atoi(args[4].c_str()));
  }
  std::cerr << "usage: start_app_bench full-name NAME VERSION ARCHITECTURE PUBLISHER\n"
               "       start_app_bench install APPINSTALLER_URL\n"
               "       start_app_bench measure PROGRAM APP STAMP_FOLDER ROUNDS\n"
               "       start_app_bench start PROGRAM STAMP_FOLDER ROUNDS\n";
  return 2;
}
