#include "installer/core/diagnostics.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>

#include "installer/platform/backend.h"
#include "installer/platform/services.h"

namespace pellora {
namespace {

struct LogFile {
  std::mutex mutex;
  std::string path;
  std::unique_ptr<platform::AppendableFile> file;
  bool cannot_move_aside = false;  // then the file grows past the cap rather than churn
};

LogFile& log_file() {
  static LogFile instance;
  return instance;
}

// Several processes of one run (an installer, its copies, the packaged entry) append to the
// same file; each record says when and which.
std::string record_prefix() {
  using namespace std::chrono;
  const auto now = floor<milliseconds>(system_clock::now());
  const auto day = floor<days>(now);
  const year_month_day date(day);
  const hh_mm_ss time(now - day);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d.%03d [%u] ",
                static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()),
                static_cast<int>(time.subseconds().count()),
                platform::services().system->process_id());
  return text;
}

void append_to_log_file(std::string_view text) {
  LogFile& log = log_file();
  std::lock_guard lock(log.mutex);
  if (!log.file) return;
  if (!log.cannot_move_aside && log.file->size() >= log_file_cap_bytes) {
    // The full file is kept as ".1". Another process of the run may have moved it aside already,
    // leaving this handle on the moved file: only a file still full at the path is moved.
    platform::Files& files = *platform::services().files;
    log.file = files.open_for_append(log.path);
    if (log.file && log.file->size() >= log_file_cap_bytes) {
      log.file.reset();
      log.cannot_move_aside = !files.move_file_replacing(log.path, log.path + ".1");
      log.file = files.open_for_append(log.path);
    }
    if (!log.file) return;
  }
  std::string record = record_prefix();
  record += text;
  if (record.back() != '\n') record += '\n';
  log.file->append(record);  // a failed write is dropped: the log never stops the installer
}

}  // namespace

void log_line(std::string_view text) {
  platform::services().debug->write(text);
  append_to_log_file(text);
}

void log_utf8_line(std::string_view utf8_text) {
  std::string line(utf8_text);
  line += '\n';
  log_line(line);
}

void open_log_file(const std::string& path) {
  LogFile& log = log_file();
  std::lock_guard lock(log.mutex);
  log.file = path.empty() ? nullptr : platform::services().files->open_for_append(path);
  log.path = log.file ? path : std::string();
  log.cannot_move_aside = false;
}

std::string log_file_path() {
  LogFile& log = log_file();
  std::lock_guard lock(log.mutex);
  return log.path;
}

std::string last_error_text() {
  const uint32_t code = platform::get_last_error();
  return "[" + std::to_string(code) + "]: " + platform::format_message(code);
}

std::string hex(uint32_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%x", value);
  return buffer;
}

}  // namespace pellora
