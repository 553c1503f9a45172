// Code pages on Linux: the ANSI code page comes from the locale environment, so that
// LC_ALL=zh_CN.GBK behaves like a Chinese Windows without any locale being generated.
// Code page 936 is iconv's CP936 (the euro sign is 0x80 there, as on Windows; GB18030 differs).
#include "platform/codepage.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iconv.h>
#include <strings.h>

#include "../common/utf8.h"

namespace platform {

namespace {

std::string charsetOfLocale() {
  const char* names[] = {"LC_ALL", "LC_CTYPE", "LANG"};
  for (const char* n : names) {
    const char* v = std::getenv(n);
    if (v && *v) {
      std::string s(v);
      size_t dot = s.find('.');
      if (dot == std::string::npos) return "";
      std::string cs = s.substr(dot + 1);
      size_t at = cs.find('@');
      if (at != std::string::npos) cs.resize(at);
      return cs;
    }
  }
  return "";
}

const char* iconvName(uint32_t codePage) {
  switch (codePage) {
  case 936: return "CP936";
  case 950: return "CP950";
  case 932: return "CP932";
  case 1252: return "CP1252";
  default: return nullptr;
  }
}

// RAII for an iconv descriptor.
class Iconv {
public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

private:
  iconv_t cd_;
};

} // namespace

uint32_t ansiCodePage() {
  std::string cs = charsetOfLocale();
  const char* gbk[] = {"GBK", "GB2312", "GB18030", "CP936"};
  for (const char* g : gbk)
    if (strcasecmp(cs.c_str(), g) == 0) return kCodePageGbk;
  return kCodePageUtf8;
}

std::u16string toWide(uint32_t codePage, const std::string& text) {
  if (codePage == kCodePageUtf8 || !iconvName(codePage)) return detail::decodeUtf8(text);
  Iconv cd("UTF-16LE", iconvName(codePage));
  if (!cd.ok()) return detail::decodeUtf8(text);
  std::u16string out;
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  char buf[256];
  while (inLeft > 0) {
    char* o = buf;
    size_t oLeft = sizeof buf;
    size_t r = iconv(cd.get(), &in, &inLeft, &o, &oLeft);
    for (char* p = buf; p + 1 < o; p += 2)
      out.push_back(static_cast<char16_t>(static_cast<unsigned char>(p[0]) | (static_cast<unsigned char>(p[1]) << 8)));
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      // An invalid or cut-off byte sequence: one replacement character, and move past one byte.
      out.push_back(0xFFFD);
      ++in;
      --inLeft;
      iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
    }
  }
  return out;
}

std::string fromWide(uint32_t codePage, const std::u16string& text) {
  if (codePage == kCodePageUtf8 || !iconvName(codePage)) return detail::encodeUtf8(text);
  Iconv cd(iconvName(codePage), "UTF-16LE");
  if (!cd.ok()) return detail::encodeUtf8(text);
  std::string le;
  le.reserve(text.size() * 2);
  for (char16_t c : text) {
    le.push_back(static_cast<char>(c & 0xFF));
    le.push_back(static_cast<char>(c >> 8));
  }
  std::string out;
  char* in = &le[0];
  size_t inLeft = le.size();
  char buf[256];
  while (inLeft > 0) {
    char* o = buf;
    size_t oLeft = sizeof buf;
    size_t r = iconv(cd.get(), &in, &inLeft, &o, &oLeft);
    out.append(buf, static_cast<size_t>(o - buf));
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      // A character the code page cannot represent becomes the default character, one for
      // each UTF-16 unit, as WideCharToMultiByte does (a surrogate pair gives "??").
      size_t skip = inLeft < 2 ? inLeft : 2;
      out.push_back('?');
      in += skip;
      inLeft -= skip;
      iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
    }
  }
  return out;
}

std::u16string ansiToWide(const std::string& text) { return toWide(ansiCodePage(), text); }
std::string wideToAnsi(const std::u16string& text) { return fromWide(ansiCodePage(), text); }
std::u16string utf8ToWide(const std::string& text) { return detail::decodeUtf8(text); }
std::string wideToUtf8(const std::u16string& text) { return detail::encodeUtf8(text); }

} // namespace platform
