#include "reg_hive.h"

#include <cctype>
#include <cstdio>

#include "platform/codepage.h"

namespace platform {
namespace detail {

namespace {

const char kHeader[] = "Windows Registry Editor Version 5.00";

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

std::string trimKeyPath(std::string p) {
  while (!p.empty() && p.back() == '\\')
    p.pop_back();
  while (!p.empty() && p.front() == '\\')
    p.erase(p.begin());
  return p;
}

// Reads a quoted text starting at s[i] == '"'; i ends after the closing quote.
bool readQuoted(const std::string& s, size_t& i, std::string* out) {
  if (i >= s.size() || s[i] != '"') return false;
  ++i;
  out->clear();
  while (i < s.size()) {
    char c = s[i++];
    if (c == '"') return true;
    if (c == '\\') {
      if (i >= s.size()) return false;
      c = s[i++];
      if (c != '\\' && c != '"') return false;
    }
    out->push_back(c);
  }
  return false;
}

void writeQuoted(const std::string& s, std::string* out) {
  out->push_back('"');
  for (char c : s) {
    if (c == '\\' || c == '"') out->push_back('\\');
    out->push_back(c);
  }
  out->push_back('"');
}

bool parseHexBytes(const std::string& s, std::string* out) {
  out->clear();
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
      ++i;
    if (i >= s.size()) break;
    if (i + 1 >= s.size() || !std::isxdigit(static_cast<unsigned char>(s[i])) ||
        !std::isxdigit(static_cast<unsigned char>(s[i + 1])))
      return false;
    out->push_back(static_cast<char>(std::stoi(s.substr(i, 2), nullptr, 16)));
    i += 2;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
      ++i;
    if (i < s.size()) {
      if (s[i] != ',') return false;
      ++i;
    }
  }
  return true;
}

std::string hexBytes(const std::string& data) {
  std::string out;
  char b[4];
  for (size_t i = 0; i < data.size(); ++i) {
    std::snprintf(b, sizeof b, "%02x", static_cast<unsigned char>(data[i]));
    if (i) out.push_back(',');
    out += b;
  }
  return out;
}

// REG_SZ text that a quoted string can hold as it is: no control characters, no terminator.
bool plainText(const std::string& utf8) {
  for (char c : utf8)
    if (static_cast<unsigned char>(c) < 0x20) return false;
  return true;
}

std::string utf16le(const std::u16string& w) {
  std::string out;
  for (char16_t c : w) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

std::u16string fromUtf16le(const std::string& b) {
  std::u16string out;
  for (size_t i = 0; i + 1 < b.size(); i += 2)
    out.push_back(
        static_cast<char16_t>(static_cast<unsigned char>(b[i]) | (static_cast<unsigned char>(b[i + 1]) << 8)));
  return out;
}

} // namespace

bool Hive::equalNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

bool Hive::parse(const std::string& textIn) {
  keys_.clear();
  std::string text = textIn;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  // Split into logical lines: a line ending in "\" continues a hex list on the next line.
  std::vector<std::string> lines;
  std::string cur;
  size_t i = 0;
  while (i <= text.size()) {
    size_t nl = text.find('\n', i);
    if (nl == std::string::npos) nl = text.size();
    std::string line = text.substr(i, nl - i);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    i = nl + 1;
    if (!cur.empty()) {
      size_t k = 0;
      while (k < line.size() && (line[k] == ' ' || line[k] == '\t'))
        ++k;
      line = line.substr(k);
    }
    cur += line;
    if (!cur.empty() && cur.back() == '\\' && cur.find("=hex") != std::string::npos) {
      cur.pop_back();
      continue;
    }
    lines.push_back(cur);
    cur.clear();
  }
  if (lines.empty() || lines[0] != kHeader) return false;

  HiveKey* key = nullptr;
  for (size_t n = 1; n < lines.size(); ++n) {
    const std::string& line = lines[n];
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      if (line.back() != ']' || line.size() < 3 || line[1] == '-') goto damaged;
      std::string full = line.substr(1, line.size() - 2);
      std::string path;
      if (equalNoCase(full, root_)) {
        path = "";
      } else if (full.size() > root_.size() && equalNoCase(full.substr(0, root_.size()), root_) &&
                 full[root_.size()] == '\\') {
        path = trimKeyPath(full.substr(root_.size() + 1));
      } else {
        goto damaged;
      }
      key = &ensureKey(path);
      continue;
    }
    if (!key) goto damaged;
    {
      std::string name;
      size_t p = 0;
      if (line[0] == '@') {
        p = 1;
      } else if (!readQuoted(line, p, &name)) {
        goto damaged;
      }
      if (p >= line.size() || line[p] != '=') goto damaged;
      ++p;
      std::string rest = line.substr(p);
      if (!rest.empty() && rest[0] == '"') {
        std::string utf8;
        size_t q = 0;
        if (!readQuoted(rest, q, &utf8) || q != rest.size()) goto damaged;
        setValue(*key, name, 1, fromWide(ansiCodePage(), utf8ToWide(utf8)));
      } else if (rest.compare(0, 6, "dword:") == 0) {
        std::string hex = rest.substr(6);
        if (hex.size() != 8) goto damaged;
        for (char c : hex)
          if (!std::isxdigit(static_cast<unsigned char>(c))) goto damaged;
        unsigned long v = std::stoul(hex, nullptr, 16);
        std::string le;
        for (int b = 0; b < 4; ++b)
          le.push_back(static_cast<char>((v >> (8 * b)) & 0xFF));
        setValue(*key, name, 4, le);
      } else if (rest.compare(0, 4, "hex:") == 0 || rest.compare(0, 4, "hex(") == 0) {
        uint32_t type = 3;
        size_t colon = rest.find(':');
        if (rest[3] == '(') {
          size_t close = rest.find(')');
          if (close == std::string::npos || close + 1 != colon || close == 4) goto damaged;
          std::string t = rest.substr(4, close - 4);
          for (char c : t)
            if (!std::isxdigit(static_cast<unsigned char>(c))) goto damaged;
          type = static_cast<uint32_t>(std::stoul(t, nullptr, 16));
        }
        std::string bytes;
        if (!parseHexBytes(rest.substr(colon + 1), &bytes)) goto damaged;
        if (type == 1) bytes = fromWide(ansiCodePage(), fromUtf16le(bytes)); // text with odd characters
        setValue(*key, name, type, bytes);
      } else {
        goto damaged;
      }
    }
  }
  return true;

damaged:
  keys_.clear();
  return false;
}

std::string Hive::serialize() const {
  std::string out = std::string(kHeader) + "\n";
  for (const HiveKey& k : keys_) {
    out += "\n[" + root_ + (k.path.empty() ? "" : "\\" + k.path) + "]\n";
    for (const HiveValue& v : k.values) {
      if (v.name.empty()) {
        out += "@";
      } else {
        writeQuoted(v.name, &out);
      }
      out += "=";
      if (v.type == 1) {
        std::u16string w = ansiToWide(v.data);
        std::string utf8 = wideToUtf8(w);
        if (plainText(utf8)) {
          writeQuoted(utf8, &out);
        } else {
          out += "hex(1):" + hexBytes(utf16le(w));
        }
      } else if (v.type == 4 && v.data.size() == 4) {
        char b[16];
        unsigned long val = 0;
        for (int i = 3; i >= 0; --i)
          val = (val << 8) | static_cast<unsigned char>(v.data[static_cast<size_t>(i)]);
        std::snprintf(b, sizeof b, "dword:%08lx", val);
        out += b;
      } else if (v.type == 3) {
        out += "hex:" + hexBytes(v.data);
      } else {
        char b[16];
        std::snprintf(b, sizeof b, "hex(%x):", static_cast<unsigned>(v.type));
        out += b + hexBytes(v.data);
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
      return;
    }
  }
  key.values.push_back(HiveValue{name, type, data});
}

} // namespace detail
} // namespace platform
