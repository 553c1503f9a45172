#include "qr_picture.h"

#include <algorithm>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/replace_file.h"
#include "workstation_settings.h"

namespace {

// A piece of v from start with length; negative values count as 0, and the piece ends with v.
std::u16string piece(const std::u16string& v, long start, long length) {
  if (start < 0) start = 0;
  if (length < 0) length = 0;
  if (static_cast<size_t>(start) >= v.size()) return u"";
  return v.substr(static_cast<size_t>(start), static_cast<size_t>(length));
}

std::u16string padTwo(std::u16string s) {
  while (s.size() < 2)
    s.insert(s.begin(), u'0');
  return s;
}

// The position of the first "." at or after from, or -1.
long dotFrom(const std::u16string& v, long from) {
  if (from < 0 || static_cast<size_t>(from) >= v.size()) return -1;
  size_t p = v.find(u'.', static_cast<size_t>(from));
  return p == std::u16string::npos ? -1 : static_cast<long>(p);
}

// Windows's rules for one quoted argument: backslashes are literal except before a quote, where
// they are doubled; a quote is written \".
std::u16string quoteForCommandLine(const std::u16string& text) {
  std::u16string out = u"\"";
  size_t backslashes = 0;
  for (char16_t c : text) {
    if (c == u'\\') {
      ++backslashes;
      continue;
    }
    if (c == u'"') {
      out.append(backslashes * 2 + 1, u'\\');
    } else {
      out.append(backslashes, u'\\');
    }
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, u'\\');
  out += u'"';
  return out;
}

} // namespace

std::u16string versionCode(const std::u16string& installedVersion) {
  std::u16string v = installedVersion.size() > 3 ? installedVersion.substr(3) : u"";
  long p1 = v.empty() ? -1 : dotFrom(v, 0);
  long p2 = dotFrom(v, p1 + 1);
  long p3 = dotFrom(v, p2 + 1);
  long n = static_cast<long>(v.size());
  return piece(v, 0, p1) + padTwo(piece(v, p1 + 1, p2 - p1 - 1)) + padTwo(piece(v, p2 + 1, p3 - p2 - 1)) +
         padTwo(piece(v, p3 + 1, n - p3 - 1));
}

std::u16string signatureFromBody(const std::string* postData, ANSIToGBProc convert) {
  std::string text;
  if (postData && postData->size() > 6) {
    text = postData->substr(6);
    text = text.substr(0, text.find('\0'));
  }
  if (convert && !text.empty()) {
    std::vector<char> buf(text.begin(), text.end());
    buf.push_back('\0');
    convert(buf.data(), static_cast<int>(text.size()));
    text = buf.data();
  }
  std::u16string wide = platform::ansiToWide(text);
  return wide.empty() ? wide : wide.substr(1);
}

bool isPlainQrText(const std::u16string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
  });
}

platform::ChildCommand encoderCommand(const std::u16string& programFolder, const std::u16string& picture,
                                      const std::u16string& qrText) {
  const std::u16string sep(1, kPathSeparator);
  std::u16string encoder = programFolder + u"qrencode" + sep + u"qrencode.exe";
#ifndef _WIN32
  // The Linux kit carries no encoder of its own: without one in the program folder, Debian's
  // qrencode (a dependency of the kit's package) is found on the PATH.
  if (!platform::pathExists(platform::wideToAnsi(encoder))) encoder = u"qrencode";
#endif
  platform::ChildCommand c;
  bool plain = isPlainQrText(qrText);
  c.commandLine =
      u"\"" + encoder + u"\" -o \"" + picture + u"\" -l H " + (plain ? qrText : u"-- " + quoteForCommandLine(qrText));
  c.arguments = {encoder, u"-o", picture, u"-l", u"H"};
  if (!plain) c.arguments.push_back(u"--");
  c.arguments.push_back(qrText);
  return c;
}

std::u16string picturePlace(const std::u16string& packageFolder) {
  const std::u16string sep(1, kPathSeparator);
  std::u16string images = packageFolder + u"images", picture = images + sep + u"encryption.png";
  // Reads of the package through links are refused; writes are too.
  if (platform::pathKind(platform::wideToAnsi(images)) != platform::PathKind::kFolder) return u"";
  platform::PathKind kind = platform::pathKind(platform::wideToAnsi(picture));
  if (kind != platform::PathKind::kFile && kind != platform::PathKind::kMissing) return u"";
  return picture;
}

bool createQrPicture(platform::ChildRunner& runner, const std::string* postData, ANSIToGBProc convert,
                     const std::u16string& installedVersion, const std::u16string& programFolder,
                     const std::u16string& packageFolder) {
  std::u16string qrText = signatureFromBody(postData, convert) + versionCode(installedVersion);
  if (picturePlace(packageFolder).empty()) return false;
  platform::PrivateTempFolder temp;
  if (!temp.create()) return false;
  const std::string output = temp.path() + "encryption.png";
  if (runner.runHidden(encoderCommand(programFolder, platform::ansiToWide(output), qrText), kEncoderTimeoutMs) !=
      platform::ChildResult::Ended)
    return false;
  std::string picture;
  if (!platform::readFile(output, &picture) || picture.empty()) return false;
  // Looked at again right before the move: the encoder ran for a while.
  std::u16string place = picturePlace(packageFolder);
  return !place.empty() && platform::replaceFileContents(platform::wideToAnsi(place), picture.data(), picture.size());
}
