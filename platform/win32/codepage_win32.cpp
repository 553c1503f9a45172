#include "platform/codepage.h"

#include <windows.h>

namespace platform {

uint32_t ansiCodePage() { return GetACP(); }

std::u16string toWide(uint32_t codePage, const std::string& text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return {};
  std::u16string out(static_cast<size_t>(n), u'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), reinterpret_cast<wchar_t*>(&out[0]), n);
  return out;
}

std::string fromWide(uint32_t codePage, const std::u16string& text) {
  if (text.empty()) return {};
  const wchar_t* w = reinterpret_cast<const wchar_t*>(text.data());
  int n = WideCharToMultiByte(codePage, 0, w, static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(codePage, 0, w, static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
  return out;
}

std::u16string ansiToWide(const std::string& text) { return toWide(CP_ACP, text); }
std::string wideToAnsi(const std::u16string& text) { return fromWide(CP_ACP, text); }
std::u16string utf8ToWide(const std::string& text) { return toWide(CP_UTF8, text); }
std::string wideToUtf8(const std::u16string& text) { return fromWide(CP_UTF8, text); }

} // namespace platform
