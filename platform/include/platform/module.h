// Facts about the running program.
#pragma once

#include <string>

namespace platform {

// The full path of the running program file (ANSI code page), or empty when it cannot be had.
std::string modulePath();

// The folder of the running program file, with a trailing separator, or empty.
std::string moduleFolder();

} // namespace platform
