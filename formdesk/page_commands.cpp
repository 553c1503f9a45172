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

// Percent escapes decoded as UTF-8, "\" made "/", repeated "/" merged, and "file:" with the
// slashes after it dropped, so that the addresses of one file compare equal however the browser
// wrote them.
std::u16string normalise(const std::u16string& text) {
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

std::u16string commandPart(const std::u16string& url, const std::u16string& packageFolder) {
  std::u16string u = normalise(url);
  std::u16string folder = normalise(packageFolder);
  if (!folder.empty() && folder.back() != u'/') folder += u'/';
  if (folder.size() > 1 && u.size() >= folder.size() && equalFolder(u.substr(0, folder.size()), folder))
    return u.substr(folder.size());
  size_t query = u.find_first_of(u"?#");
  size_t last = u.find_last_of(u'/', query == std::u16string::npos ? std::u16string::npos : query);
  return last == std::u16string::npos ? u : u.substr(last + 1);
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
  return u"try { saved = {}; eval(\"saved = \" + unescape(decodeURI('" + escapeForSingleQuotes(savedText) +
         u"')) + \";\"); loadFromSavedData(); } catch (e) {}";
}

void CPageCommands::beforeNavigate(const std::u16string& url, const std::string* postData, bool* cancel) {
  std::u16string part = commandPart(url, settings_.packageFolder);
  if (part.find(u"SAVE") != std::u16string::npos) {
    // Without post data there is nothing to save and the saved data stays; a body of four bytes
    // or fewer empties the file. A failed write leaves the previous data whole.
    if (postData) writeSavedData(savePath(), savedDataFromBody(postData));
    *cancel = true;
    if (closing_) host_.endDialogWithCancel();
  }
  if (part.find(u"RESET") != std::u16string::npos) {
    writeSavedData(savePath(), std::string());
    restored_ = false;
    // The start page is loaded afresh instead of the address RESET, which names no file.
    *cancel = true;
    host_.navigate(settings_.startUrl);
  }
  if (part.find(u"CREATE_PNG") != std::u16string::npos) {
    platform::ChildResult result = createQrPicture(runner_, postData, convert_, settings_.version,
                                                   settings_.programFolder, settings_.packageFolder);
    *cancel = true;
    // A browser that raises the event only after the page went on (WebKit) has shown the old
    // picture already: the page's pictures of the file are loaded again.
    if (result == platform::ChildResult::Ended) host_.runScript(kReloadPictureScript);
  }
}

void CPageCommands::documentComplete(const std::u16string& url) {
  if (url.empty() || restored_) return;
  host_.runScript(restoreScript(readSavedText(savePath())));
  restored_ = true;
}

void CPageCommands::closeAnswered(bool save) {
  closing_ = true;
  convert_ = nullptr;
  if (save)
    host_.runScript(u"saveToClient()");
  else
    host_.endDialogWithCancel();
}
