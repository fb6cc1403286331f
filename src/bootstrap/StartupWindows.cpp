#include "bootstrap/StartupWindows.h"

#include "common/Files.h"

#include <commctrl.h>
#include <objidl.h>
#include <gdiplus.h>

namespace qv {

namespace {

constexpr wchar_t kSplashClass[] = L"QuorvaneSetupSplash";
constexpr wchar_t kInitClass[] = L"QuorvaneSetupInit";
constexpr int kWidth = 460;
constexpr int kHeight = 150;

LRESULT CALLBACK SplashProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    auto bitmap = reinterpret_cast<HBITMAP>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (bitmap) {
      HDC memory = CreateCompatibleDC(dc);
      HGDIOBJ old = SelectObject(memory, bitmap);
      BITMAP info;
      GetObjectW(bitmap, sizeof(info), &info);
      BitBlt(dc, 0, 0, info.bmWidth, info.bmHeight, memory, 0, 0, SRCCOPY);
      SelectObject(memory, old);
      DeleteDC(memory);
    }
    EndPaint(window, &paint);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK InitProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    auto* image = reinterpret_cast<Gdiplus::Image*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (image) {
      Gdiplus::Graphics graphics(dc);
      graphics.DrawImage(image, 16, 16, 48, 48);
    }
    EndPaint(window, &paint);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void RegisterClasses(HINSTANCE instance) {
  static bool registered = false;
  if (registered) return;
  registered = true;
  WNDCLASSEXW splash{sizeof(splash)};
  splash.lpfnWndProc = SplashProc;
  splash.hInstance = instance;
  splash.hCursor = LoadCursorW(nullptr, IDC_APPSTARTING);
  splash.lpszClassName = kSplashClass;
  RegisterClassExW(&splash);
  WNDCLASSEXW init = splash;
  init.lpfnWndProc = InitProc;
  init.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  init.lpszClassName = kInitClass;
  RegisterClassExW(&init);
}

}  // namespace

struct StartupWindows::Logo {
  ULONG_PTR token = 0;
  std::unique_ptr<Gdiplus::Image> image;
  ~Logo() {
    image.reset();
    if (token) Gdiplus::GdiplusShutdown(token);
  }
};

StartupWindows::StartupWindows(const std::wstring& splashBitmap, const std::wstring& label,
                               const std::wstring& caption) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  RegisterClasses(instance);

  const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
  const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
  int left = (screenWidth - kWidth) / 2;
  int top = (screenHeight - kHeight) / 2;

  if (FileExists(splashBitmap))
    splashBitmap_ = static_cast<HBITMAP>(
        LoadImageW(nullptr, splashBitmap.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
  if (splashBitmap_) {
    BITMAP info;
    GetObjectW(splashBitmap_, sizeof(info), &info);
    const int splashLeft = (screenWidth - info.bmWidth) / 2;
    const int splashTop = (screenHeight - info.bmHeight) / 2;
    splash_ = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, kSplashClass, L"", WS_POPUP, splashLeft, splashTop,
                              info.bmWidth, info.bmHeight, nullptr, nullptr, instance, nullptr);
    if (splash_) {
      SetWindowLongPtrW(splash_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(splashBitmap_));
      ShowWindow(splash_, SW_SHOWNOACTIVATE);
      UpdateWindow(splash_);
      left = splashLeft + info.bmWidth / 2 + 50;
      top = splashTop + info.bmHeight + 25;
      if (top > screenHeight - kHeight - 45) top = screenHeight - kHeight - 45;
      if (left > screenWidth - kWidth - 25) left = screenWidth - kWidth - 25;
    }
  }

  window_ = CreateWindowExW(WS_EX_TOPMOST, kInitClass, caption.c_str(), WS_POPUP | WS_CAPTION | WS_BORDER, left, top,
                            kWidth, kHeight, nullptr, nullptr, instance, nullptr);
  if (!window_) return;
  HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  HWND text = CreateWindowExW(0, L"STATIC", label.c_str(), WS_CHILD | WS_VISIBLE, 80, 18, kWidth - 100, 48, window_,
                              nullptr, instance, nullptr);
  SendMessageW(text, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  progress_ = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, 16, 80, kWidth - 40, 18, window_,
                              nullptr, instance, nullptr);
  ShowWindow(window_, SW_SHOWNOACTIVATE);
  Repaint();
}

StartupWindows::~StartupWindows() {
  if (window_) DestroyWindow(window_);
  if (splash_) DestroyWindow(splash_);
  if (splashBitmap_) DeleteObject(splashBitmap_);
}

void StartupWindows::SetLogo(const std::wstring& pngPath) {
  if (!window_ || !FileExists(pngPath)) return;
  if (!logo_) {
    logo_ = std::make_unique<Logo>();
    Gdiplus::GdiplusStartupInput input;
    if (Gdiplus::GdiplusStartup(&logo_->token, &input, nullptr) != Gdiplus::Ok) logo_->token = 0;
  }
  if (!logo_->token) return;
  // The image keeps its file open; the window (and the logo) go before the support folder is removed.
  auto image = std::make_unique<Gdiplus::Image>(pngPath.c_str());
  if (image->GetLastStatus() != Gdiplus::Ok) return;
  logo_->image = std::move(image);
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(logo_->image.get()));
  Repaint();
}

void StartupWindows::SetRange(int maximum) {
  if (progress_) SendMessageW(progress_, PBM_SETRANGE32, 0, maximum);
  Repaint();
}

void StartupWindows::SetPosition(int position) {
  if (progress_) SendMessageW(progress_, PBM_SETPOS, static_cast<WPARAM>(position), 0);
  Repaint();
}

void StartupWindows::Step() {
  if (progress_) SendMessageW(progress_, PBM_DELTAPOS, 1, 0);
  Repaint();
}

void StartupWindows::Repaint() {
  if (window_) {
    InvalidateRect(window_, nullptr, TRUE);
    UpdateWindow(window_);
  }
  if (splash_) UpdateWindow(splash_);
}

}  // namespace qv
