// A path the system gives as UTF-16, as the ANSI text that the kit's code works with: the text
// itself when every character fits the code page, else the path's short (8.3) form, whose names
// are plain ASCII. Empty when neither fits (short names switched off on that volume).
#pragma once

#include <string>

namespace platform {
namespace detail {

std::string ansiPathOf(const std::wstring& wide);

} // namespace detail
} // namespace platform
