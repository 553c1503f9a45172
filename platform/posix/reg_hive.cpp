#include "reg_hive.h"

#include <cstdio>

#include "../common/utf8.h"
#include "platform/codepage.h"

namespace platform {
namespace detail {

namespace {

const char kHeader5[] = "Windows Registry Editor Version 5.00";
const char kHeader4[] = "REGEDIT4";

// A hex list is wrapped, as regedit wraps it, before a line grows past this many columns.
const size_t kHexLineWidth = 78;

char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool isBlank(char c) { return c == ' ' || c == '\t'; }

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

size_t skipBlanks(const std::string& s, size_t i) {
  while (i < s.size() && isBlank(s[i]))
    ++i;
  return i;
}

std::string trimRight(std::string s) {
  while (!s.empty() && isBlank(s.back()))
    s.pop_back();
  return s;
}

std::string trimBlanks(const std::string& s) {
  size_t b = skipBlanks(s, 0);
  return trimRight(s.substr(b));
}

// Nothing but blanks, or a ";" comment, from s[i] on.
bool onlyTrailer(const std::string& s, size_t i) {
  i = skipBlanks(s, i);
  return i == s.size() || s[i] == ';';
}

bool startsNoCase(const std::string& s, size_t at, const char* prefix) {
  for (size_t k = 0; prefix[k]; ++k)
    if (at + k >= s.size() || asciiLower(s[at + k]) != asciiLower(prefix[k])) return false;
  return true;
}

std::string trimKeyPath(std::string p) {
  while (!p.empty() && p.back() == '\\')
    p.pop_back();
  size_t b = 0;
  while (b < p.size() && p[b] == '\\')
    ++b;
  return p.substr(b);
}

// Up to 8 hex digits from s[i] as a 32-bit number; i ends after them. False for none or more.
bool readHex32(const std::string& s, size_t& i, uint32_t* out) {
  uint32_t v = 0;
  size_t n = 0;
  while (i < s.size() && hexDigit(s[i]) >= 0) {
    if (++n > 8) return false;
    v = (v << 4) | static_cast<uint32_t>(hexDigit(s[i++]));
  }
  *out = v;
  return n > 0;
}

// Reads a quoted text starting at s[i] == '"'; i ends after the closing quote. "\\" and "\""
// stand for the character, and so do "\n", "\r" and "\0" in names (which have no other way to
// hold them; texts go as hex(1) then); any other backslash stands for itself, so that a path
// typed by hand as "D:\new" stays one.
bool readQuoted(const std::string& s, size_t& i, std::string* out, bool name) {
  out->clear();
  ++i;
  while (i < s.size()) {
    char c = s[i++];
    if (c == '"') return true;
    if (c == '\\' && i < s.size()) {
      const char e = s[i];
      if (e == '\\' || e == '"' || (name && (e == 'n' || e == 'r' || e == '0'))) {
        c = e == 'n' ? '\n' : e == 'r' ? '\r' : e == '0' ? '\0' : e;
        ++i;
      }
    }
    out->push_back(c);
  }
  return false;
}

void writeQuoted(const std::string& s, std::string* out) {
  out->push_back('"');
  for (char c : s) {
    switch (c) {
    case '\\': *out += "\\\\"; break;
    case '"': *out += "\\\""; break;
    case '\n': *out += "\\n"; break;
    case '\r': *out += "\\r"; break;
    case '\0': *out += "\\0"; break;
    default: out->push_back(c);
    }
  }
  out->push_back('"');
}

// A comma-separated list of bytes in hex ("01,ff, 2"), a trailing comma and a ";" comment allowed.
bool parseHexList(const std::string& s, std::string* out) {
  out->clear();
  size_t i = skipBlanks(s, 0);
  while (i < s.size() && s[i] != ';') {
    int hi = hexDigit(s[i]);
    if (hi < 0) return false;
    int v = hi;
    ++i;
    if (i < s.size() && hexDigit(s[i]) >= 0) v = v * 16 + hexDigit(s[i++]);
    out->push_back(static_cast<char>(v));
    i = skipBlanks(s, i);
    if (i < s.size() && s[i] == ',')
      i = skipBlanks(s, i + 1);
    else if (i < s.size() && s[i] != ';')
      return false;
  }
  return true;
}

// "hex:" or "hex(N):" and the bytes, wrapped over lines ending in "\" as regedit writes them;
// `column` is where the list starts on its line.
void writeHexList(const std::string& data, size_t column, std::string* out) {
  char b[4];
  for (size_t i = 0; i < data.size(); ++i) {
    std::snprintf(b, sizeof b, i + 1 < data.size() ? "%02x," : "%02x", static_cast<unsigned char>(data[i]));
    if (i > 0 && column + 3 + 1 > kHexLineWidth) {
      *out += "\\\n  ";
      column = 2;
    }
    *out += b;
    column += 3;
  }
}

std::string toUtf16le(const std::u16string& w) {
  std::string out;
  out.reserve(w.size() * 2);
  for (char16_t c : w) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

std::u16string fromUtf16le(const std::string& b, size_t from = 0) {
  std::u16string out;
  for (size_t i = from; i + 1 < b.size(); i += 2)
    out.push_back(
        static_cast<char16_t>(static_cast<unsigned char>(b[i]) | (static_cast<unsigned char>(b[i + 1]) << 8)));
  return out;
}

bool hasLoneSurrogate(const std::u16string& w) {
  for (size_t i = 0; i < w.size(); ++i) {
    if (w[i] >= 0xD800 && w[i] <= 0xDBFF && i + 1 < w.size() && w[i + 1] >= 0xDC00 && w[i + 1] <= 0xDFFF) {
      ++i;
    } else if (w[i] >= 0xD800 && w[i] <= 0xDFFF) {
      return true;
    }
  }
  return false;
}

bool validUtf8(const std::string& s) { return encodeUtf8(decodeUtf8(s)) == s; }

// Text of a REGEDIT4 file: in the ANSI code page of the machine that wrote it, unless it is UTF-8.
std::string legacyToUtf8(const std::string& s) { return validUtf8(s) ? s : encodeUtf8(toWide(ansiCodePage(), s)); }

// Splits at "\r\n", "\n" or "\r", as regedit ends lines.
std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\n' && text[i] != '\r') continue;
    lines.push_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

} // namespace

bool Hive::equalNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (asciiLower(a[i]) != asciiLower(b[i])) return false;
  return true;
}

bool Hive::writableKeyPath(const std::string& path) {
  return path.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

bool Hive::parse(const std::string& bytes) {
  keys_.clear();
  bool complete = true;
  std::string text;
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    std::u16string w = fromUtf16le(bytes, 2);
    if (bytes.size() % 2 != 0 || hasLoneSurrogate(w)) complete = false; // what UTF-8 cannot carry
    text = encodeUtf8(w);
  } else if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    text = bytes.substr(3);
  } else {
    text = bytes;
  }
  std::vector<std::string> lines = splitLines(text);

  size_t n = 0;
  while (n < lines.size() && trimBlanks(lines[n]).empty())
    ++n;
  if (n == lines.size()) return false;
  const std::string header = trimBlanks(lines[n]);
  const bool legacy = header == kHeader4;
  if (!legacy && header != kHeader5) return false;
  if (legacy && !validUtf8(text)) lines = splitLines(legacyToUtf8(text));

  // Where value lines go: a key, nowhere because the key was just deleted (regedit ignores them
  // quietly), or nowhere because the key line was not understood.
  enum class Target { Key, Deleted, None } target = Target::None;
  size_t keyIndex = 0; // an index, as deletions move keys within keys_

  for (++n; n < lines.size(); ++n) {
    const std::string& line = lines[n];
    size_t p = skipBlanks(line, 0);
    if (p == line.size() || line[p] == ';') continue;

    if (line[p] == '[') {
      target = Target::None;
      size_t close = line.rfind(']');
      if (close == std::string::npos || close <= p || !onlyTrailer(line, close + 1)) {
        complete = false;
        continue;
      }
      std::string full = line.substr(p + 1, close - p - 1);
      bool del = !full.empty() && full[0] == '-';
      if (del) full.erase(0, 1);
      size_t slash = full.find('\\');
      if (!equalNoCase(full.substr(0, slash), root_)) { // another root's key: not for this hive
        complete = false;
        continue;
      }
      std::string path = slash == std::string::npos ? std::string() : trimKeyPath(full.substr(slash + 1));
      if (!del) {
        HiveKey& k = ensureKey(path);
        keyIndex = static_cast<size_t>(&k - keys_.data());
        target = Target::Key;
      } else if (path.empty()) {
        complete = false; // a root is never deleted
      } else {
        removeKey(path);
        target = Target::Deleted;
      }
      continue;
    }

    if (line[p] != '"' && line[p] != '@') {
      complete = false;
      continue;
    }
    std::string name;
    if (line[p] == '@') {
      ++p;
    } else if (!readQuoted(line, p, &name, true)) {
      complete = false;
      continue;
    }
    p = skipBlanks(line, p);
    if (p >= line.size() || line[p] != '=') {
      complete = false;
      continue;
    }
    p = skipBlanks(line, p + 1);
    std::string source = line;

    uint32_t type = 0;
    std::string data;
    bool remove = false;
    bool ok = false;
    bool cut = false;
    if (p < line.size() && line[p] == '-') {
      ok = onlyTrailer(line, p + 1);
      remove = true;
    } else if (p < line.size() && line[p] == '"') {
      ok = readQuoted(line, p, &data, false) && onlyTrailer(line, p);
      type = 1;
    } else if (startsNoCase(line, p, "dword:")) {
      p += 6;
      uint32_t v = 0;
      ok = readHex32(line, p, &v) && onlyTrailer(line, p);
      for (int b = 0; b < 4; ++b)
        data.push_back(static_cast<char>((v >> (8 * b)) & 0xFF));
      type = 4;
    } else if (startsNoCase(line, p, "hex")) {
      p += 3;
      type = 3;
      ok = true;
      if (p < line.size() && line[p] == '(') {
        ++p;
        ok = readHex32(line, p, &type) && p < line.size() && line[p] == ')';
        ++p;
      }
      ok = ok && p < line.size() && line[p] == ':';
      if (ok) {
        std::string list = line.substr(p + 1);
        for (;;) {
          std::string t = trimRight(list);
          if (t.empty() || t.back() != '\\') break;
          t.pop_back();
          list = t;
          // The list goes on at the next line that is not a comment.
          bool more = false;
          while (!more && n + 1 < lines.size()) {
            const std::string& next = lines[++n];
            source += "\n" + next;
            size_t k = skipBlanks(next, 0);
            if (k < next.size() && next[k] == ';') continue;
            list += next.substr(k);
            more = true;
          }
          if (!more) {
            cut = true; // the file ends inside the list: keep what it holds
            break;
          }
        }
        ok = parseHexList(list, &data);
        if (ok && (type == 1 || type == 2 || type == 7)) {
          if (!legacy && type == 1) {
            data = encodeUtf8(fromUtf16le(data));
          } else if (legacy && type == 1) {
            data = legacyToUtf8(data);
          } else if (legacy) {
            data = toUtf16le(decodeUtf8(legacyToUtf8(data))); // the registry holds these as UTF-16
          }
        }
      }
    }
    if (!ok || cut) complete = false;
    if (!ok) continue;
    if (target == Target::None) {
      complete = false;
      continue;
    }
    if (target == Target::Deleted) continue;
    HiveKey& key = keys_[keyIndex];
    if (remove) {
      removeValue(key, name);
      continue;
    }
    setValue(key, name, type, data);
    if (!legacy && !cut) {
      // REGEDIT4 lines mean other bytes under the header written back; those are rewritten.
      for (HiveValue& v : key.values)
        if (equalNoCase(v.name, name)) v.source = source;
    }
  }
  return complete;
}

std::string Hive::serialize() const {
  std::string out = std::string(kHeader5) + "\n";
  for (const HiveKey& k : keys_) {
    out += "\n[" + root_ + (k.path.empty() ? "" : "\\" + k.path) + "]\n";
    for (const HiveValue& v : k.values) {
      if (!v.source.empty()) {
        out += v.source + "\n";
        continue;
      }
      size_t start = out.size();
      if (v.name.empty()) {
        out += "@";
      } else {
        writeQuoted(v.name, &out);
      }
      out += "=";
      bool control = false;
      for (char c : v.data)
        control = control || static_cast<unsigned char>(c) < 0x20;
      if (v.type == 1 && !control) {
        writeQuoted(v.data, &out);
      } else if (v.type == 4 && v.data.size() == 4) {
        char b[16];
        unsigned long val = 0;
        for (int i = 3; i >= 0; --i)
          val = (val << 8) | static_cast<unsigned char>(v.data[static_cast<size_t>(i)]);
        std::snprintf(b, sizeof b, "dword:%08lx", val);
        out += b;
      } else {
        char b[24];
        if (v.type == 3) {
          std::snprintf(b, sizeof b, "hex:");
        } else {
          std::snprintf(b, sizeof b, "hex(%x):", static_cast<unsigned>(v.type));
        }
        out += b;
        // Text with line breaks or other control characters goes as UTF-16LE, as the registry holds it.
        writeHexList(v.type == 1 ? toUtf16le(decodeUtf8(v.data)) : v.data, out.size() - start, &out);
      }
      out += "\n";
    }
  }
  return out;
}

bool Hive::hasKey(const std::string& pathIn) const {
  std::string path = trimKeyPath(pathIn);
  if (path.empty()) return true;
  for (const HiveKey& k : keys_) {
    if (equalNoCase(k.path, path)) return true;
    if (k.path.size() > path.size() && k.path[path.size()] == '\\' && equalNoCase(k.path.substr(0, path.size()), path))
      return true;
  }
  return false;
}

HiveKey* Hive::findKey(const std::string& pathIn) {
  std::string path = trimKeyPath(pathIn);
  for (HiveKey& k : keys_)
    if (equalNoCase(k.path, path)) return &k;
  return nullptr;
}

const HiveKey* Hive::findKey(const std::string& path) const { return const_cast<Hive*>(this)->findKey(path); }

HiveKey& Hive::ensureKey(const std::string& path) {
  if (HiveKey* k = findKey(path)) return *k;
  keys_.push_back(HiveKey{trimKeyPath(path), {}});
  return keys_.back();
}

void Hive::removeKey(const std::string& pathIn) {
  std::string path = trimKeyPath(pathIn);
  std::vector<HiveKey> kept;
  for (HiveKey& k : keys_) {
    bool below =
        k.path.size() > path.size() && k.path[path.size()] == '\\' && equalNoCase(k.path.substr(0, path.size()), path);
    if (!below && !equalNoCase(k.path, path)) kept.push_back(std::move(k));
  }
  keys_ = std::move(kept);
}

const HiveValue* Hive::findValue(const HiveKey& key, const std::string& name) {
  for (const HiveValue& v : key.values)
    if (equalNoCase(v.name, name)) return &v;
  return nullptr;
}

void Hive::setValue(HiveKey& key, const std::string& name, uint32_t type, const std::string& data) {
  for (HiveValue& v : key.values) {
    if (equalNoCase(v.name, name)) {
      v.type = type;
      v.data = data;
      v.source.clear();
      return;
    }
  }
  key.values.push_back(HiveValue{name, type, data, {}});
}

void Hive::removeValue(HiveKey& key, const std::string& name) {
  for (size_t i = 0; i < key.values.size(); ++i) {
    if (equalNoCase(key.values[i].name, name)) {
      key.values.erase(key.values.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
  }
}

} // namespace detail
} // namespace platform
