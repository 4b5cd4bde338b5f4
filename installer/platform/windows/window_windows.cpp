// The progress window: dialog 9 of the resources, its comctl32 progress bar and a GDI+ banner.
// The core decides what it shows; this file only draws it and reports the user's actions. The
// window's thread runs the message loop inside wait().

#include "installer/platform/windows/gdiplus_windows.h"
// These need windows.h first.
#include <commctrl.h>

#include <array>
#include <atomic>
#include <optional>
#include <vector>

#include "installer/platform/windows/services_windows.h"

namespace pellora::platform::windows {
namespace {

constexpr int dialog_id = 9;
constexpr int progress_bar_id = 1001;
constexpr int banner_ids[] = {112, 113};
constexpr float banner_resolutions[] = {96.0f, 192.0f};
constexpr UINT marquee_step_ms = 16;

std::atomic<HWND> the_main_window{nullptr};

// A PNG resource decoded by GDI+. The bitmap reads from its stream for as long as it lives.
class Banner {
 public:
  Banner() = default;
  ~Banner() {
    if (bitmap_ != nullptr) gdiplus().GdipDisposeImage(bitmap_);
    if (stream_ != nullptr) stream_->Release();
  }
  Banner(const Banner&) = delete;
  Banner& operator=(const Banner&) = delete;

  // False when the resource is missing or is no image GDI+ can read.
  bool load(int id, float resolution) {
    if (!gdiplus().complete()) return false;
    HMODULE instance = GetModuleHandleW(nullptr);
    HRSRC resource = FindResourceW(instance, MAKEINTRESOURCEW(id), L"PNG");
    if (resource == nullptr) return false;
    const DWORD size = SizeofResource(instance, resource);
    HGLOBAL loaded = LoadResource(instance, resource);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (bytes == nullptr || size == 0) return false;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    if (memory == nullptr) return false;
    void* target = GlobalLock(memory);
    if (target == nullptr) {
      GlobalFree(memory);
      return false;
    }
    CopyMemory(target, bytes, size);
    GlobalUnlock(memory);
    // The stream owns the memory from here on and frees it with its last reference.
    if (FAILED(CreateStreamOnHGlobal(memory, TRUE, &stream_))) {
      GlobalFree(memory);
      return false;
    }
    if (gdiplus().GdipCreateBitmapFromStream(stream_, &bitmap_) != Gdiplus::Ok) {
      bitmap_ = nullptr;
      return false;
    }
    gdiplus().GdipBitmapSetResolution(bitmap_, resolution, resolution);
    return true;
  }

  Gdiplus::GpBitmap* bitmap() const { return bitmap_; }

 private:
  IStream* stream_ = nullptr;
  Gdiplus::GpBitmap* bitmap_ = nullptr;
};

// Every member but wake() runs on the window's thread (the core's rule), so its state needs no
// lock; other threads reach the window only through the wake event.
class Win32Window final : public WindowSurface {
 public:
  Win32Window() : wake_event_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

  bool start(WindowCallbacks callbacks) override {
    callbacks_ = std::move(callbacks);
    for (size_t i = 0; i < banners_.size(); ++i) {
      if (!banners_[i].load(banner_ids[i], banner_resolutions[i]) && callbacks_.log) {
        callbacks_.log("Couldn't load PNG from resources.\n");
      }
    }
    window_ = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(dialog_id), nullptr,
                                 &Win32Window::dialog_procedure, reinterpret_cast<LPARAM>(this));
    the_main_window = window_;
    if (window_ == nullptr) return false;
    ShowWindow(window_, SW_HIDE);
    return true;
  }

  void render(const WindowView& view) override {
    if (window_ == nullptr) return;
    const bool first = !shown_.has_value();
    const WindowView old = shown_.value_or(WindowView{});
    if (first || view.title != old.title) {
      SetWindowTextW(window_, to_utf16(view.title).c_str());
    }
    if (first || view.marquee != old.marquee) set_marquee(view.marquee);
    if (!view.marquee && (first || old.marquee || view.position != old.position)) {
      SendMessageW(progress_bar_, PBM_SETPOS, view.position, 0);
    }
    if (first || view.error_state != old.error_state) {
      SendMessageW(progress_bar_, PBM_SETSTATE, view.error_state ? PBST_ERROR : PBST_NORMAL, 0);
    }
    if (first || view.cancel_enabled != old.cancel_enabled) {
      EnableWindow(GetDlgItem(window_, IDCANCEL), view.cancel_enabled);
    }
    if (first || view.visible != old.visible) {
      ShowWindow(window_, view.visible ? SW_SHOWNORMAL : SW_HIDE);
    }
    shown_ = view;
  }

  void set_cursor(Cursor cursor) override {
    SetCursor(LoadCursorW(nullptr, cursor == Cursor::busy ? IDC_APPSTARTING : IDC_ARROW));
  }

  // Owned by the window while it is shown; a box owned by a hidden window would get no taskbar
  // button and could open behind other windows, so then it stands on its own, brought to the
  // foreground.
  void message_box(const std::string& text, const std::string& caption) override {
    HWND owner = window_ != nullptr && IsWindowVisible(window_) ? window_ : nullptr;
    MessageBoxW(owner, to_utf16(text).c_str(), to_utf16(caption).c_str(), MB_OK | MB_SETFOREGROUND);
  }

  int dpi() override {
    return window_ != nullptr ? dpi_.load() : static_cast<int>(GetDpiForSystem());
  }

  void wait(std::optional<std::chrono::steady_clock::time_point> deadline) override {
    DWORD timeout = INFINITE;
    if (deadline) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(
          *deadline - std::chrono::steady_clock::now());
      timeout = static_cast<DWORD>(std::max<long long>(0, left.count()));
    }
    HANDLE event = wake_event_.get();
    MsgWaitForMultipleObjectsEx(1, &event, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (window_ != nullptr && IsDialogMessageW(window_, &message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }

  void wake() override { SetEvent(wake_event_.get()); }

 private:
  static INT_PTR CALLBACK dialog_procedure(HWND window, UINT message, WPARAM wparam,
                                           LPARAM lparam) {
    if (message == WM_INITDIALOG) {
      SetWindowLongPtrW(window, GWLP_USERDATA, lparam);
    }
    auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) return FALSE;
    return self->handle(window, message, wparam, lparam);
  }

  INT_PTR handle(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
      case WM_INITDIALOG:
        window_ = window;
        progress_bar_ = GetDlgItem(window, progress_bar_id);
        remember_layout();
        SendMessageW(progress_bar_, PBM_SETMARQUEE, TRUE, marquee_step_ms);
        // Enabled only while something can be cancelled; the core says when.
        EnableWindow(GetDlgItem(window, IDCANCEL), FALSE);
        return TRUE;
      case WM_PAINT:
        paint();
        return TRUE;
      case WM_CTLCOLORDLG:
      case WM_CTLCOLORSTATIC:
        return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
      case WM_DPICHANGED:
        // The new DPI comes with the message; the window takes the rectangle the system
        // suggests for it, and its controls and font are laid out again for it.
        dpi_ = LOWORD(wparam);
        apply_dpi(*reinterpret_cast<const RECT*>(lparam));
        report(WindowEvent::dpi_changed);
        return TRUE;
      case WM_COMMAND:
        if (LOWORD(wparam) != IDCANCEL) return FALSE;
        report(WindowEvent::cancel);
        return TRUE;
      case WM_CLOSE:
      case WM_DESTROY:
        report(WindowEvent::close);
        return TRUE;
      default:
        return FALSE;
    }
  }

  void report(WindowEvent event) {
    if (callbacks_.on_event) callbacks_.on_event(event);
  }

  void set_marquee(bool on) {
    LONG_PTR style = GetWindowLongPtrW(progress_bar_, GWL_STYLE);
    style = on ? (style | PBS_MARQUEE) : (style & ~static_cast<LONG_PTR>(PBS_MARQUEE));
    SetWindowLongPtrW(progress_bar_, GWL_STYLE, style);
    SendMessageW(progress_bar_, PBM_SETMARQUEE, on ? TRUE : FALSE, on ? marquee_step_ms : 0);
  }

  // The banner for the window's DPI, centred as the core's layout says, and drawn at the size
  // that DPI gives it: the DPI of the device context is the system's, which is not the window's
  // on a monitor with a DPI of its own.
  void paint() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window_, &paint);
    Gdiplus::GpGraphics* graphics = nullptr;
    if (dc != nullptr && callbacks_.banner_index_for_dpi && callbacks_.banner_x &&
        gdiplus().complete() && gdiplus().GdipCreateFromHDC(dc, &graphics) == Gdiplus::Ok) {
      const int dpi = dpi_;
      const int index = callbacks_.banner_index_for_dpi(dpi);
      Gdiplus::GpBitmap* image = banners_[static_cast<size_t>(index)].bitmap();
      if (image != nullptr) {
        RECT client;
        GetClientRect(window_, &client);
        UINT width = 0;
        UINT height = 0;
        float image_dpi = 96.0f;
        gdiplus().GdipGetImageWidth(image, &width);
        gdiplus().GdipGetImageHeight(image, &height);
        gdiplus().GdipGetImageHorizontalResolution(image, &image_dpi);
        const float scale = static_cast<float>(dpi) / image_dpi;
        const int x = callbacks_.banner_x(client.left, client.right, static_cast<int>(width),
                                          static_cast<float>(dpi), image_dpi);
        gdiplus().GdipDrawImageRectI(graphics, image, x, callbacks_.banner_y,
                                     static_cast<INT>(static_cast<float>(width) * scale),
                                     static_cast<INT>(static_cast<float>(height) * scale));
      }
      gdiplus().GdipDeleteGraphics(graphics);
    }
    EndPaint(window_, &paint);
  }

  // The controls' places and the dialog's font as the dialog was made for its first DPI; every
  // later DPI scales from these, so that repeated changes do not add up rounding errors. The
  // system's own rescaling of dialogs is turned off (where it has it), since this does it.
  void remember_layout() {
    dpi_ = static_cast<int>(GetDpiForWindow(window_));
    layout_dpi_ = dpi_;
    using SetBehavior = BOOL WINAPI(HWND, DIALOG_DPI_CHANGE_BEHAVIORS, DIALOG_DPI_CHANGE_BEHAVIORS);
    if (auto* set_behavior = reinterpret_cast<SetBehavior*>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetDialogDpiChangeBehavior")))) {
      set_behavior(window_, DDC_DISABLE_ALL, DDC_DISABLE_ALL);
    }
    for (size_t i = 0; i < control_ids.size(); ++i) {
      HWND control = GetDlgItem(window_, control_ids[i]);
      GetWindowRect(control, &control_rects_[i]);
      MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&control_rects_[i]), 2);
    }
    if (auto font = reinterpret_cast<HFONT>(SendMessageW(window_, WM_GETFONT, 0, 0))) {
      GetObjectW(font, sizeof font_, &font_);
    }
  }

  void apply_dpi(const RECT& suggested) {
    SetWindowPos(window_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    LOGFONTW font = font_;
    font.lfHeight = MulDiv(font_.lfHeight, dpi_, layout_dpi_);
    HFONT scaled_font = font_.lfHeight != 0 ? CreateFontIndirectW(&font) : nullptr;
    for (size_t i = 0; i < control_ids.size(); ++i) {
      const RECT& at = control_rects_[i];
      HWND control = GetDlgItem(window_, control_ids[i]);
      SetWindowPos(control, nullptr, MulDiv(at.left, dpi_, layout_dpi_),
                   MulDiv(at.top, dpi_, layout_dpi_), MulDiv(at.right - at.left, dpi_, layout_dpi_),
                   MulDiv(at.bottom - at.top, dpi_, layout_dpi_), SWP_NOZORDER | SWP_NOACTIVATE);
      if (scaled_font != nullptr)
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(scaled_font), TRUE);
    }
    if (scaled_font != nullptr) scaled_font_.reset(scaled_font);
    InvalidateRect(window_, nullptr, TRUE);
  }

  // A font made here, deleted when replaced (after the controls have taken the new one).
  struct Font {
    HFONT handle = nullptr;
    ~Font() { reset(); }
    void reset(HFONT font = nullptr) {
      if (handle != nullptr) DeleteObject(handle);
      handle = font;
    }
  };

  static constexpr std::array<int, 2> control_ids = {IDCANCEL, progress_bar_id};

  WindowCallbacks callbacks_;
  Handle wake_event_;
  HWND window_ = nullptr;
  HWND progress_bar_ = nullptr;
  std::array<Banner, 2> banners_;
  std::optional<WindowView> shown_;
  std::atomic<int> dpi_{96};  // read by the core's thread after a change
  int layout_dpi_ = 96;
  std::array<RECT, 2> control_rects_{};
  LOGFONTW font_{};
  Font scaled_font_;
};

}  // namespace

HWND main_window() { return the_main_window; }

WindowSurface* window_surface() {
  static Win32Window instance;
  return &instance;
}

}  // namespace pellora::platform::windows
