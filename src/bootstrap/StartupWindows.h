// The splash (setup.bmp beside the executable) and the start-up progress
// window shown while the payload is unpacked and the dialogs are preloaded.
// Plain Win32 windows, repainted explicitly: no message loop runs yet.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

namespace qv {

class StartupWindows {
public:
  // Creates and shows the windows; `splashBitmap` may name a missing file.
  StartupWindows(const std::wstring& splashBitmap, const std::wstring& label, const std::wstring& caption);
  ~StartupWindows();
  StartupWindows(const StartupWindows&) = delete;
  StartupWindows& operator=(const StartupWindows&) = delete;

  // Shows the logo picture (a PNG file) at (16, 16) of the progress window.
  void SetLogo(const std::wstring& pngPath);
  void SetRange(int maximum);
  void SetPosition(int position);
  void Step();
  HWND ProgressWindow() const { return window_; }
  bool SplashShown() const { return splash_ != nullptr; }

private:
  void Repaint();

  HWND splash_ = nullptr;
  HWND window_ = nullptr;
  HWND progress_ = nullptr;
  HBITMAP splashBitmap_ = nullptr;
  struct Logo;
  std::unique_ptr<Logo> logo_;
};

}  // namespace qv
