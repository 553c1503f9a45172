#include "page_commands.h"

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/replace_file.h"
#include "qr_picture.h"

namespace {

int hexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Percent escapes decoded as UTF-8, "\\" made "/", repeated "/" merged, and "file:" with the
// slashes after it dropped, so that the addresses of one file compare equal however the browser
// wrote them. *isFile tells whether the address names a file at all (a file: address or a bare
// absolute path).
std::u16string normalise(const std::u16string& text, bool* isFile) {
  std::string bytes;
  std::u16string out;
  auto flush = [&] {
    if (!bytes.empty()) out += platform::utf8ToWide(bytes);
    bytes.clear();
  };
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
      bytes += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
      i += 2;
      continue;
    }
    flush();
    char16_t c = text[i] == u'\\' ? u'/' : text[i];
    if (c == u'/' && !out.empty() && out.back() == u'/') continue;
    out += c;
  }
  flush();
  std::u16string lower = out.substr(0, 5);
  for (auto& c : lower)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  // The Windows control may also report a file as its bare path ("C:\\...", Wine: "Z:\\...").
  bool drive =
      out.size() > 2 && ((out[0] | 0x20) >= u'a' && (out[0] | 0x20) <= u'z') && out[1] == u':' && out[2] == u'/';
  *isFile = lower == u"file:" || drive || (!out.empty() && out[0] == u'/');
  if (lower == u"file:") out = out.substr(5);
  if (out.compare(0, 10, u"/localhost") == 0) out = out.substr(10);
  while (!out.empty() && out.front() == u'/')
    out.erase(out.begin());
  return out;
}

bool equalFolder(const std::u16string& a, const std::u16string& b) {
#ifdef _WIN32
  // Windows's file names compare without regard to case.
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i] >= u'A' && a[i] <= u'Z' ? static_cast<char16_t>(a[i] + 32) : a[i];
    char16_t y = b[i] >= u'A' && b[i] <= u'Z' ? static_cast<char16_t>(b[i] + 32) : b[i];
    if (x != y) return false;
  }
  return true;
#else
  return a == b;
#endif
}

} // namespace

const char16_t kReloadPictureScript[] =
    u"(function () { var images = document.getElementsByTagName('img'), i, src; "
    u"for (i = 0; i < images.length; i++) { src = images[i].getAttribute('src') || ''; "
    u"if (src.split('?')[0] === 'images/encryption.png') "
    u"images[i].src = 'images/encryption.png?' + new Date().getTime(); } })();";

std::u16string pictureResultScript(bool made) {
  return (made ? std::u16string(kReloadPictureScript) + u" " : std::u16string()) +
         u"if (typeof window.qrPictureResult === 'function') window.qrPictureResult(" + (made ? u"true" : u"false") +
         u");";
}

bool commandPart(const std::u16string& url, const std::u16string& packageFolder, std::u16string* part) {
  bool urlIsFile = false, folderIsFile = false;
  std::u16string u = normalise(url, &urlIsFile);
  std::u16string folder = normalise(packageFolder, &folderIsFile);
  if (!folder.empty() && folder.back() != u'/') folder += u'/';
  if (!urlIsFile || folder.size() < 2 || u.size() < folder.size() || !equalFolder(u.substr(0, folder.size()), folder))
    return false;
  std::u16string rest = u.substr(folder.size());
  // A ".." name leads out of the package whatever follows it.
  std::u16string names = u"/" + rest.substr(0, rest.find_first_of(u"?#")) + u"/";
  if (names.find(u"/../") != std::u16string::npos) return false;
  *part = rest;
  return true;
}

PageCommand commandAt(const std::u16string& url, const std::u16string& packageFolder) {
  std::u16string part;
  if (!commandPart(url, packageFolder, &part)) return PageCommand::None;
  if (part == u"SAVE") return PageCommand::Save;
  if (part == u"RESET") return PageCommand::Reset;
  if (part == u"CREATE_PNG") return PageCommand::CreatePng;
  return PageCommand::None;
}

NavigationVerdict judgeNavigation(const std::u16string& url, const platform::NavigationSource& source,
                                  const std::u16string& packageFolder, PageCommand* command) {
  *command = PageCommand::None;
  std::u16string part;
  if (!commandPart(url, packageFolder, &part))
    // Nothing outside the package is shown: no page from elsewhere ever stands where the
    // package's page stood. An empty page (a new frame's about:blank) shows nothing.
    return url.compare(0, 6, u"about:") == 0 ? NavigationVerdict::Proceed : NavigationVerdict::Refuse;
  PageCommand named = commandAt(url, packageFolder);
  if (named == PageCommand::None) return NavigationVerdict::Proceed;
  // Only the package's own page, at the top level, commands: a frame does not, nor does a page
  // that is not one of the package's files (nor a command address standing as the document).
  std::u16string documentPart;
  if (!source.topLevel || !commandPart(source.document, packageFolder, &documentPart) ||
      commandAt(source.document, packageFolder) != PageCommand::None)
    return NavigationVerdict::Refuse;
  *command = named;
  return NavigationVerdict::Command;
}

std::u16string saveFailedText(const std::u16string& path) {
  return u"数据未能保存到文件：\r\n" + path + u"\r\n请检查磁盘空间和文件权限后再试。窗口不会关闭，您填写的数据仍在。";
}

std::string savedDataFromBody(const std::string* postData) {
  return postData && postData->size() > 4 ? postData->substr(4) : std::string();
}

bool writeSavedData(const std::u16string& path, const std::string& bytes) {
  return platform::replaceFileContents(platform::wideToAnsi(path), bytes.data(), bytes.size());
}

std::u16string readSavedText(const std::u16string& path) {
  std::string bytes;
  if (!platform::readFile(platform::wideToAnsi(path), &bytes)) return u"";
  return platform::ansiToWide(bytes.substr(0, bytes.find('\0')));
}

std::u16string escapeForSingleQuotes(const std::u16string& text) {
  std::u16string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    switch (c) {
    case u'\\': out += u"\\\\"; break;
    case u'\'': out += u"\\'"; break;
    case u'\r': out += u"\\r"; break;
    case u'\n': out += u"\\n"; break;
    case u'\u2028': out += u"\\u2028"; break;
    case u'\u2029': out += u"\\u2029"; break;
    default: out += c;
    }
  }
  return out;
}

std::u16string restoreScript(const std::u16string& savedText) {
  if (savedText.empty()) return u"loadFromSavedData();";
  // JSON.parse hands over data only; a text that is no object leaves saved empty, and the page
  // builds a fresh form from it.
  return u"try { saved = {}; saved = JSON.parse(unescape(decodeURI('" + escapeForSingleQuotes(savedText) +
         u"'))); } catch (e) {} if (!saved || typeof saved !== 'object') saved = {}; loadFromSavedData();";
}

void CPageCommands::beforeNavigate(const std::u16string& url, const std::string* postData,
                                   const platform::NavigationSource& source, bool* cancel) {
  PageCommand command = PageCommand::None;
  NavigationVerdict verdict = judgeNavigation(url, source, settings_.packageFolder, &command);
  if (verdict == NavigationVerdict::Refuse) *cancel = true;
  if (verdict != NavigationVerdict::Command) return;
  *cancel = true;
  if (command == PageCommand::Save) {
    // Without post data there is nothing to save and the saved data stays; a body of four bytes
    // or fewer empties the file. A failed write leaves the previous data whole.
    bool saved = !postData || writeSavedData(savePath(), savedDataFromBody(postData));
    if (!closing_) return;
    if (saved) {
      host_.endDialogWithCancel();
      return;
    }
    // The window stays with what the user typed; closing again asks again.
    closing_ = false;
    host_.tellUser(saveFailedText(savePath()));
  } else if (command == PageCommand::Reset) {
    writeSavedData(savePath(), std::string());
    restored_ = false;
    // The start page is loaded afresh instead of the address RESET, which names no file.
    host_.navigate(settings_.startUrl);
  } else if (command == PageCommand::CreatePng) {
    // The page learns whether this print's picture exists, made or not: a failed or timed-out
    // encoder leaves an earlier print's picture in the file, which must not be printed. The
    // answer waits until the event has returned (the Windows control raises it inside the page's
    // submit()).
    bool made = createQrPicture(runner_, postData, convert_, settings_.version, settings_.programFolder,
                                settings_.packageFolder);
    host_.runScriptLater(pictureResultScript(made));
  }
}

void CPageCommands::documentComplete(const std::u16string& url) {
  if (url.empty() || restored_) return;
  host_.runScript(restoreScript(readSavedText(savePath())));
  restored_ = true;
}

void CPageCommands::closeAnswered(CloseAnswer answer) {
  if (answer == CloseAnswer::Back) {
    closing_ = false;
    return;
  }
  closing_ = true;
  if (answer == CloseAnswer::Yes) {
    host_.runScript(u"saveToClient()");
    return;
  }
  convert_ = nullptr;
  host_.endDialogWithCancel();
}
