// Text conversions between the ANSI code page, UTF-8 and UTF-16.
// UTF-16 text is std::u16string on every platform. The ANSI code page is GetACP() on Windows;
// on Linux it follows the locale environment (LC_ALL, LC_CTYPE, LANG, the first one set):
// a charset of GBK, GB2312, GB18030 or CP936 gives 936, UTF-8 or no charset gives 65001.
// Characters that a code page cannot represent become its default character ("?"), and
// invalid input becomes U+FFFD, as the Windows conversions do. Thread-safe.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

constexpr uint32_t kCodePageUtf8 = 65001;
constexpr uint32_t kCodePageGbk = 936;

uint32_t ansiCodePage();

std::u16string ansiToWide(const std::string& text);
std::string wideToAnsi(const std::u16string& text);
std::u16string utf8ToWide(const std::string& text);
std::string wideToUtf8(const std::u16string& text);

// The same conversions for a named code page (65001 or 936 everywhere; others where the
// platform has them).
std::u16string toWide(uint32_t codePage, const std::string& text);
std::string fromWide(uint32_t codePage, const std::u16string& text);

} // namespace platform
