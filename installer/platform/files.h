#pragma once
// File services: the Win32 calls set the last error and report failure in their result; the
// storage calls (Windows.Storage) raise PlatformError.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/hresult.h"

namespace pellora::platform {

// A file written under a unique name of its own beside its target, which it replaces in one
// step when committed: a reader of the target sees the old file or the whole new one, never a
// part, and two writers of the same target never share a file. Dropped uncommitted, it is
// removed. Each write goes to the file as it comes (the caller buffers). One thread at a time.
class PendingFile {
 public:
  virtual ~PendingFile() = default;
  // The path the file takes when committed.
  virtual const std::string& target_path() const = 0;
  // Raises PlatformError (0x80070070 for a full disk).
  virtual void write(const uint8_t* data, size_t size) = 0;
  // Closes the file and renames it over the target (MoveFileExW with MOVEFILE_REPLACE_EXISTING).
  // Raises PlatformError; the pending file is then removed.
  virtual void commit() = 0;
};

struct ShellFileOperationResult {
  int result = 0;            // SHFileOperationW's return value; 0 is success
  bool any_aborted = false;  // fAnyOperationsAborted
};

// What read_text gives for a file's bytes: the byte-order mark is the encoding's signature, not
// text.
inline std::string text_without_byte_order_mark(std::string text) {
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  return text;
}

// A file opened for appending (FILE_APPEND_DATA): every write lands whole at its end, also
// when other processes append to it at the same time. One thread at a time.
class AppendableFile {
 public:
  virtual ~AppendableFile() = default;
  // Appends `text`; false when the write failed.
  virtual bool append(std::string_view text) = 0;
  // The file's size now; 0 when it cannot be told.
  virtual uint64_t size() = 0;
};

// A small file that this process alone holds open (CreateFileW without sharing on Windows, an
// exclusive flock here) until the object is dropped or the process ends, however it ends. Its
// content is read and replaced only through the holder. One thread at a time.
class HeldFile {
 public:
  virtual ~HeldFile() = default;
  // The whole content; empty when it cannot be read.
  virtual std::string read() = 0;
  // Replaces the whole content; false when the write failed.
  virtual bool replace(std::string_view content) = 0;
};

// Why an existing path is not taken as the user's private folder.
enum class FolderRefusal { none, symbolic_link, not_a_folder, other_owner, writable_by_others };

class Files {
 public:
  virtual ~Files() = default;

  // CreateDirectoryW: false with the last error set (ERROR_ALREADY_EXISTS 183, ...) on failure.
  virtual bool create_directory(const std::string& path) = 0;
  // CreateDirectoryW for a folder that only the current user may use. An existing folder is
  // accepted only when it is a real folder of the user's own that nobody else can write to (what
  // others could still read or enter is taken from them); otherwise false with `refusal` saying
  // why. False with the last error set and `refusal` none when the folder cannot be created.
  virtual bool create_private_directory(const std::string& path, FolderRefusal& refusal) = 0;
  // CopyFileW: false with the last error set on failure.
  virtual bool copy_file(const std::string& source, const std::string& target,
                         bool fail_if_exists) = 0;
  // Puts a copy of `source` at `target`, which may be a program an earlier run still executes:
  // Windows refuses to overwrite such a file but lets it be renamed, so an existing target is
  // renamed aside ("<target>.<unique>.old") when it cannot be replaced, and the asides that
  // earlier runs left are deleted once nothing runs them any more. The copy is made beside the
  // target under a name of its own first, so the target is always a whole file. False with the
  // last error set (CopyFileW's or MoveFileExW's) on failure.
  virtual bool copy_replacing_program(const std::string& source, const std::string& target) = 0;
  // SHFileOperationW FO_COPY with FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR |
  // FOF_NOERRORUI. A source ending in "<separator>*" merges the folder's content into an
  // existing destination, overwriting same-named files; a folder source with a missing
  // destination creates the destination as a copy of the folder.
  virtual ShellFileOperationResult shell_copy(const std::string& source,
                                              const std::string& destination) = 0;
  // SHFileOperationW FO_DELETE of a tree (permanent).
  virtual ShellFileOperationResult shell_delete(const std::string& path) = 0;

  // StorageFolder.GetFolderFromPathAsync + CreateFileAsync(ReplaceExisting): creates or empties
  // the file and returns its full path. Raises PlatformError.
  virtual std::string create_file_replace_existing(const std::string& folder,
                                                   const std::string& name) = 0;
  // A PendingFile for `name` in `folder`, created exclusively under a name no other writer uses.
  // Raises PlatformError when the folder is missing or not writable.
  virtual std::unique_ptr<PendingFile> create_pending_file(const std::string& folder,
                                                           const std::string& name) = 0;
  // Opens a file to append to, creating it when missing; null when it cannot be opened.
  virtual std::unique_ptr<AppendableFile> open_for_append(const std::string& path) = 0;
  // MoveFileExW with MOVEFILE_REPLACE_EXISTING: false with the last error set on failure.
  virtual bool move_file_replacing(const std::string& from, const std::string& to) = 0;
  // FileIO.WriteBufferAsync / WriteTextAsync (UTF-8, no byte-order mark). Raises PlatformError.
  virtual void write_file(const std::string& path, const std::vector<uint8_t>& bytes) = 0;
  virtual void write_text(const std::string& path, const std::string& text) = 0;
  // StorageFile.GetFileFromPathAsync + FileIO.ReadTextAsync (text_without_byte_order_mark).
  // Raises PlatformError.
  virtual std::string read_text(const std::string& path) = 0;
  // The names in a folder, without "." and ".." (FindFirstFileW/FindNextFileW); false with the
  // last error set when it cannot be listed.
  virtual bool list_folder(const std::string& path, std::vector<std::string>& names) = 0;
  // Opens (creating when missing) and holds `path`; null with the last error set when it cannot:
  // ERROR_SHARING_VIOLATION (32) or ERROR_LOCK_VIOLATION (33) while another process holds it.
  virtual std::unique_ptr<HeldFile> hold_file(const std::string& path) = 0;
  // StorageFolder.GetFolderFromPathAsync: raises PlatformError when the folder does not exist.
  virtual void ensure_folder_exists(const std::string& path) = 0;
};

}  // namespace pellora::platform
