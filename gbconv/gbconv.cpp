// ANSIToGB: the text before the first "%" is copied through; from there, runs of consecutive
// "%XX" escapes are collected as bytes and each run is converted as one piece (UTF-8 to UTF-16
// to the ANSI code page), so a character whose bytes arrive as several escapes decodes whole.
// Every other byte is copied as it is ("+" stays "+").
#include "gbconv.h"

#include <cstring>
#include <string>

#include "platform/codepage.h"

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void flush(std::string& pending, std::string& output) {
  if (pending.empty()) return;
  output += platform::fromWide(platform::ansiCodePage(), platform::utf8ToWide(pending));
  pending.clear();
}

} // namespace

extern "C" GBCONV_API void GBCONV_CALL ANSIToGB(char* buffer, int size) {
  const size_t length = std::strlen(buffer);
  const char* percent = std::strchr(buffer, '%');
  const size_t start = percent ? static_cast<size_t>(percent - buffer) : length;

  std::string output(buffer, start); // the prefix
  std::string pending;
  size_t i = start;
  while (i < length) {
    int hi = -1, lo = -1;
    // A "%" needs two hexadecimal digits before the terminator; the digits are tested one at a
    // time so nothing past the terminator is read. A "%" without them is copied as it is.
    if (buffer[i] == '%' && (hi = hexValue(buffer[i + 1])) >= 0 && (lo = hexValue(buffer[i + 2])) >= 0) {
      pending.push_back(static_cast<char>(hi * 16 + lo));
      i += 3;
    } else {
      flush(pending, output);
      output.push_back(buffer[i]);
      ++i;
    }
  }
  flush(pending, output);

  // Each decoded byte came from three characters of input, and no conversion makes a byte
  // more than three bytes long, so the result fits; the bound below only keeps that promise
  // should a conversion ever answer longer (never past the input's length and terminator).
  if (output.size() > length) output.resize(length);
  if (size > 0) std::memset(buffer, 0, static_cast<size_t>(size));
  std::memcpy(buffer, output.c_str(), output.size() + 1);
}
