#pragma once
// What the progress window draws on, and where user events come from. The window's logic lives
// in the core (installer/core/progress_window.h); a surface only shows what it is told.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace pellora::platform {

struct WindowView {
  bool visible = false;
  std::string title;
  bool marquee = true;       // PBS_MARQUEE; otherwise a determinate bar at `position`
  uint32_t position = 0;     // 0 to 100
  bool error_state = false;  // PBST_ERROR
  bool cancel_enabled = false;
};

enum class Cursor { busy, arrow };

// Cancel: the Cancel button or Esc (Ctrl-C in a terminal). Close: WM_CLOSE / WM_DESTROY
// (SIGTERM or SIGHUP in a terminal). Dpi changed: WM_DPICHANGED, after which dpi() tells the
// new value.
enum class WindowEvent { cancel, close, dpi_changed };

// What the core hands a surface when the window is created: where user events go (the sink may
// be called from any thread), and the banner's layout rules, so that every surface chooses and
// places the banner the same way.
struct WindowCallbacks {
  std::function<void(WindowEvent)> on_event;
  // 0 for the 96-DPI image (PNG 112), 1 for the 192-DPI image (PNG 113).
  int (*banner_index_for_dpi)(int dpi) = nullptr;
  // The x of the banner's left edge in the client area; its top is at banner_y. graphics_dpi is
  // the DPI the banner is drawn for: the window's, which on a monitor of its own is not the
  // system's.
  int (*banner_x)(int client_left, int client_right, int image_width_px, float graphics_dpi,
                  float image_dpi) = nullptr;
  int banner_y = 0;
  // The diagnostics log, for what the surface itself meets (a banner that cannot be loaded).
  void (*log)(std::string_view text) = nullptr;
};

class WindowSurface {
 public:
  virtual ~WindowSurface() = default;
  // The window's thread (the one that calls start) alone calls start, render, set_cursor,
  // message_box, dpi and wait; only wake comes from other threads.
  // Once: creates the window, hidden. False, with the last error set, when it cannot be
  // created.
  virtual bool start(WindowCallbacks callbacks) = 0;
  // Called after every change of the view.
  virtual void render(const WindowView& view) = 0;
  virtual void set_cursor(Cursor cursor) = 0;
  // MessageBoxW(MB_OK): blocks until the user has dismissed it.
  virtual void message_box(const std::string& text, const std::string& caption) = 0;
  // The window's DPI: GetDpiForWindow, then what the last WM_DPICHANGED brought.
  virtual int dpi() = 0;

  // Waits until wake() is called or `deadline` (none: no limit) has passed. A
  // surface with messages of its OS to handle handles them here (the Windows message loop runs
  // in this call). The default waits on a condition.
  virtual void wait(std::optional<std::chrono::steady_clock::time_point> deadline);
  // Any thread: ends the current wait(), or the next one at once.
  virtual void wake();

 private:
  std::mutex wait_mutex_;
  std::condition_variable wait_signal_;
  bool woken_ = false;
};

}  // namespace pellora::platform
