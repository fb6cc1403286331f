#include "bootstrap/Session.h"

#include <windows.h>

namespace qv {

std::wstring Session::Caption() const {
  if (title.empty()) return L"Quorvane Wizard";
  if (captionLogo) return title;
  return title + L" - Quorvane Wizard";
}

void Session::ShowError(const std::wstring& text) const {
  if (silent) return;
  MessageBoxW(nullptr, text.c_str(), Caption().c_str(), MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

}  // namespace qv
