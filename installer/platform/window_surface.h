#pragma once
// What the progress window draws on, and where user events come from. The window's logic lives
// in the core (installer/core/progress_window.h); a surface only shows what it is told.

#include <cstdint>
#include <functional>
#include <string>

namespace pellora::platform {

struct WindowView {
  bool visible = false;
  std::string title;
  bool marquee = true;  // PBS_MARQUEE; otherwise a determinate bar at `position`
  uint32_t position = 0;  // 0 to 100
  bool error_state = false;  // PBST_ERROR
  bool cancel_enabled = false;
};

enum class Cursor { busy, arrow };

// Cancel: the Cancel button or Esc (Ctrl-C in a terminal). Close: WM_CLOSE / WM_DESTROY
// (SIGTERM or SIGHUP in a terminal).
enum class WindowEvent { cancel, close };

class WindowSurface {
 public:
  virtual ~WindowSurface() = default;
  // Window thread only. Called after every change of the view.
  virtual void render(const WindowView& view) = 0;
  virtual void set_cursor(Cursor cursor) = 0;
  // MessageBoxW(MB_OK): blocks until the user has dismissed it.
  virtual void message_box(const std::string& text, const std::string& caption) = 0;
  // GetDpiForWindow.
  virtual int dpi() = 0;
  // Starts delivering user events to `sink`; the sink may be called from any thread.
  virtual void start_events(std::function<void(WindowEvent)> sink) = 0;
};

}  // namespace pellora::platform
