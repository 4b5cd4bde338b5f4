#pragma once
// The progress window's logic: hidden at first, shown by a 2-second timer while the work goes
// on, status line, progress bar, Cancel, close, and the single fatal-error path report_error.
// The thread that creates the window is the window's thread: it alone draws the window and shows
// boxes, and it runs run_message_loop(). Every other operation may be called from any thread.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/cancellable.h"
#include "installer/core/exit_code.h"
#include "installer/platform/window_surface.h"

namespace pellora {

inline constexpr uint32_t show_timer_ms = 2000;

// What the show timer reads the time from; tests pass a clock of their own.
using WindowClock = std::function<std::chrono::steady_clock::time_point()>;

// Creates the window hidden with the busy cursor and arms the show timer on `clock`.
void create_progress_window(WindowClock clock = std::chrono::steady_clock::now);
// The message loop, on the window's thread: returns the exit code of a quit (closing the window
// after the flow has ended is a success).
ExitCode run_message_loop();

// Whether the flow is still running: closing the window during the flow is a cancellation;
// once the flow has started the program its run was for, a plain quit (exit
// code 0).
void set_flow_running(bool running);

void set_status(const std::string& text);
void hide_progress_window();
// ShowWindow(SW_SHOWNORMAL) at once, without waiting for the timer.
void show_progress_window();
void enable_cancel(bool enabled);
void progress_marquee();
void progress_determinate();
void set_progress(uint32_t percent);

// The fatal-error path: bar to the error state, text logged and copied to the clipboard, the
// error box, then ExitCode::failed. Never returns.
[[noreturn]] void report_error(const std::string& text);
// A sentence report_error adds to every text from now on (empty: none), for what the user must
// know whatever fails next, such as where a copy of their data is kept. Any thread.
void set_error_postscript(const std::string& text);
// The end of a cancelled installation: logged, then ExitCode::cancelled.
[[noreturn]] void end_cancelled();
// Places the text on the clipboard; false (after a log line) when the clipboard refused it.
bool copy_to_clipboard(const std::string& text);

// The box text report_error shows; it names the log file when one is open.
std::string error_box_text(const std::string& error_text, bool copied_to_clipboard,
                           const std::string& log_path);

// Cancel (button, Esc, Ctrl-C) and close (WM_CLOSE, SIGTERM, SIGHUP), as the surface reports
// them. Any thread; handled on the window's thread.
void on_window_event(platform::WindowEvent event);

// The view as it stands (for tests and the surface).
platform::WindowView progress_window_view();

// Banner choice and placement: image 0 (96 DPI) up to 96 DPI, image 1 (192 DPI) above.
int banner_index_for_dpi(int dpi);
// x of the banner's left edge; its top is at banner_y.
int banner_x(int client_left, int client_right, int image_width_px, float graphics_dpi,
             float image_dpi);
inline constexpr int banner_y = 100;

// Set by Cancel, read by do_install; never cleared.
extern std::atomic<bool> cancel_requested;

// The operation now awaited, which Cancel and closing the window cancel.
void set_current_operation(std::shared_ptr<platform::Cancellable> operation);
void clear_current_operation();
bool has_current_operation();

// Registers an operation as current for its lifetime; withdrawn however the scope ends.
class CurrentOperationRegistration {
 public:
  explicit CurrentOperationRegistration(std::shared_ptr<platform::Cancellable> operation) {
    set_current_operation(std::move(operation));
  }
  ~CurrentOperationRegistration() { clear_current_operation(); }
  CurrentOperationRegistration(const CurrentOperationRegistration&) = delete;
  CurrentOperationRegistration& operator=(const CurrentOperationRegistration&) = delete;
};

// Test support: forgets the window state (view, timer, loop, current operation, flags).
void reset_progress_window_for_tests();

}  // namespace pellora
