#pragma once
// Where the stand-in keeps the simulated Windows user environment, and the store's lock.

#include <string>

namespace standin {

// TREVALON_PLATFORM_ROOT, else ${XDG_STATE_HOME:-$HOME/.local/state}/trevalon-platform. Read
// anew on every call so that tests can point each case at a fresh folder.
std::string platform_root();

// The user's home folder: HOME, or the account's home when HOME is unset or empty.
std::string home_folder();

// Folders and files under the root (not created by these calls).
std::string packages_folder();            // packages/
std::string registrations_folder();       // registrations/
std::string data_folder();                // data/
std::string protocols_folder();           // protocols/
std::string trust_folder();               // trust/
std::string staging_folder();             // staging/ (deployments in progress)
std::string store_lock_path();            // store.lock
std::string activation_lock_path();       // activation.lock
std::string require_admin_marker_path();  // policy/require-admin

// mkdir -p. Returns false with errno set on failure.
bool make_directories(const std::string& path);
// rm -rf; a missing path is not an error. Returns false when something could not be removed.
bool remove_tree(const std::string& path);
bool path_exists(const std::string& path);
bool is_directory(const std::string& path);
// The canonical path (symbolic links resolved), or empty when the path does not exist.
std::string real_path(const std::string& path);

// An exclusive flock on store.lock, taken without waiting. Tests hold the same lock (flock on
// the same file) to make deployments find the store busy.
class StoreLock {
 public:
  StoreLock();
  ~StoreLock();
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;
  // False when another holder has the lock, or when the lock file cannot be opened.
  bool acquired() const { return acquired_; }
  // False when the lock file cannot be opened (the root is not writable).
  bool opened() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
  bool acquired_ = false;
};

// Keeps the shell's starts and the swap of a package's folders apart: the shell holds it shared
// from reading a scheme's handler until the program has been executed, a deployment holds it
// exclusively from moving a package in until the package it replaces (and every process running
// from it) is gone. So a start either runs the old package before the swap, and is ended with it,
// or runs the new one; it never finds a registration whose folder is already going. Waits.
class ActivationLock {
 public:
  explicit ActivationLock(bool exclusive);
  ~ActivationLock();
  ActivationLock(const ActivationLock&) = delete;
  ActivationLock& operator=(const ActivationLock&) = delete;

 private:
  int fd_ = -1;
};

}  // namespace standin
