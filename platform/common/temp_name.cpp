#include "temp_name.h"

#include <cctype>
#include <cstdio>

namespace platform {
namespace detail {

namespace {

// The decimal number that fills s from pos to end; 0 when it is none or out of range.
long decimalAt(const std::string& s, size_t pos, size_t end) {
  if (pos >= end || end - pos > 9 || s[pos] == '0') return 0;
  long v = 0;
  for (size_t i = pos; i < end; ++i) {
    if (s[i] < '0' || s[i] > '9') return 0;
    v = v * 10 + (s[i] - '0');
  }
  return v;
}

const char kPrefix[] = ".fwtmp.";
const size_t kPrefixLength = sizeof kPrefix - 1;

} // namespace

std::string tempName(long pid, unsigned long long salt) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s%ld.%016llx", kPrefix, pid, salt);
  return buf;
}

long temporaryOwner(const std::string& name) {
  if (name.compare(0, kPrefixLength, kPrefix) == 0) {
    size_t dot = name.find('.', kPrefixLength);
    if (dot == std::string::npos || name.size() - dot - 1 != 16) return 0;
    for (size_t i = dot + 1; i < name.size(); ++i)
      if (!std::isxdigit(static_cast<unsigned char>(name[i]))) return 0;
    return decimalAt(name, kPrefixLength, dot);
  }
  size_t tmp = name.rfind(".tmp.");
  if (tmp == std::string::npos || tmp == 0) return 0;
  return decimalAt(name, tmp + 5, name.size());
}

} // namespace detail
} // namespace platform
