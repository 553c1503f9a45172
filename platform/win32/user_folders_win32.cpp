#include "platform/user_folders.h"

#include <windows.h>
// after windows.h, which it builds on
#include <shlobj.h>

#include "ansi_path.h"

namespace platform {

namespace detail {

namespace {

// The ANSI text of wide, or false when a character does not fit the code page (a best-fit
// character such as "e" for "ë" counts as not fitting: it would name another file).
bool toAnsi(const std::wstring& wide, std::string* out) {
  if (wide.empty()) {
    out->clear();
    return true;
  }
  UINT cp = GetACP();
  BOOL lossy = FALSE;
  // UTF-8 as the code page (a Windows option) holds every character, and takes no lossy flag.
  bool utf8 = cp == CP_UTF8;
  DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  int n = WideCharToMultiByte(cp, flags, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                              utf8 ? nullptr : &lossy);
  if (n <= 0 || lossy) return false;
  out->assign(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(cp, flags, wide.data(), static_cast<int>(wide.size()), &(*out)[0], n, nullptr,
                      utf8 ? nullptr : &lossy);
  return !lossy;
}

} // namespace

std::string ansiPathOf(const std::wstring& wide) {
  std::string ansi;
  if (toAnsi(wide, &ansi)) return ansi;
  DWORD n = GetShortPathNameW(wide.c_str(), nullptr, 0);
  if (n == 0) return "";
  std::wstring shortForm(n, L'\0');
  n = GetShortPathNameW(wide.c_str(), &shortForm[0], n);
  if (n == 0 || n >= shortForm.size()) return "";
  shortForm.resize(n);
  return toAnsi(shortForm, &ansi) ? ansi : std::string();
}

} // namespace detail

namespace {

std::wstring withoutTrailingSeparator(std::wstring path) {
  while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/'))
    path.pop_back();
  return path;
}

// %LOCALAPPDATA%, or the shell's answer where the environment lacks it.
std::wstring localAppDataWide() {
  wchar_t buf[32768];
  DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", buf, 32768);
  if (n > 0 && n < 32768) return withoutTrailingSeparator(std::wstring(buf, n));
  wchar_t shell[MAX_PATH];
  if (SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, shell) != S_OK) return L"";
  return withoutTrailingSeparator(shell);
}

} // namespace

std::string localAppDataFolder() {
  std::wstring folder = localAppDataWide();
  return folder.empty() ? std::string() : detail::ansiPathOf(folder);
}

// "C:\Program Files (x86)\Common Files\Formwell\" was virtualised to
// "%LOCALAPPDATA%\VirtualStore\Program Files (x86)\Common Files\Formwell\": the path after the
// drive. Folders on a share ("\\server\...") or without a drive letter never were.
std::string virtualStoreCopyOf(const std::string& folder) {
  if (folder.size() < 3 || folder[1] != ':' || (folder[2] != '\\' && folder[2] != '/')) return "";
  std::string base = localAppDataFolder();
  if (base.empty()) return "";
  return base + "\\VirtualStore\\" + folder.substr(3);
}

} // namespace platform
