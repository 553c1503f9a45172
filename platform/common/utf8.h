// UTF-8 <-> UTF-16 for the backends that have no system conversion for it. Invalid input
// becomes U+FFFD, one for each maximal ill-formed subsequence (the Unicode recommendation,
// which the Windows conversion follows too).
#pragma once

#include <string>

namespace platform {
namespace detail {
std::u16string decodeUtf8(const std::string& text);
std::string encodeUtf8(const std::u16string& text);
} // namespace detail
} // namespace platform
