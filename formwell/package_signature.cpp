#include "package_signature.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/files.h"
#include "platform/signature.h"

namespace formwell {

namespace {

// One DER element at data[pos]: its tag, then the content's position and length. Only the short
// and the one- or two-byte long length forms occur in a signature; nothing may run past the end.
bool readElement(const std::string& data, size_t& pos, uint8_t tag, size_t& contentPos, size_t& contentLength) {
  if (pos + 2 > data.size() || static_cast<uint8_t>(data[pos]) != tag) return false;
  size_t lengthByte = static_cast<uint8_t>(data[pos + 1]);
  pos += 2;
  if (lengthByte < 0x80) {
    contentLength = lengthByte;
  } else if (lengthByte == 0x81 || lengthByte == 0x82) {
    size_t count = lengthByte - 0x80;
    if (pos + count > data.size()) return false;
    contentLength = 0;
    for (size_t i = 0; i < count; ++i)
      contentLength = contentLength << 8 | static_cast<uint8_t>(data[pos + i]);
    pos += count;
  } else {
    return false;
  }
  if (contentLength > data.size() - pos) return false;
  contentPos = pos;
  pos += contentLength;
  return true;
}

// A positive INTEGER of at most 32 significant bytes, right-aligned into out[0..32).
bool readInteger(const std::string& data, size_t& pos, size_t end, uint8_t out[32]) {
  size_t at = 0, length = 0;
  if (!readElement(data, pos, 0x02, at, length) || pos > end || length == 0) return false;
  if (static_cast<uint8_t>(data[at]) & 0x80) return false; // negative
  while (length > 0 && data[at] == 0) {
    ++at;
    --length;
  }
  if (length == 0 || length > 32) return false; // zero, or too large for P-256
  for (int i = 0; i < 32; ++i)
    out[i] = 0;
  for (size_t i = 0; i < length; ++i)
    out[32 - length + i] = static_cast<uint8_t>(data[at + i]);
  return true;
}

// The SHA-256 and the size of the file at path; false when it cannot be read in full.
bool hashFile(const std::string& path, uint8_t digest[32], int64_t& size) {
  std::FILE* file = std::fopen(platform::nativePath(path).c_str(), "rb");
  if (!file) return false;
  platform::Sha256 hash;
  std::vector<char> buffer(64 * 1024);
  size = 0;
  size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), file)) > 0) {
    hash.update(buffer.data(), n);
    size += static_cast<int64_t>(n);
  }
  bool readAll = !std::ferror(file);
  std::fclose(file);
  return readAll && hash.finish(digest);
}

// One line of a statement at text[pos]: exactly `name` alone (value null), or `name`, one blank and
// the value (whose characters the caller checks); the line ends in LF. pos moves past the LF.
bool takeLine(const std::string& text, size_t& pos, const char* name, std::string* value) {
  size_t end = text.find('\n', pos);
  if (end == std::string::npos) return false;
  std::string line = text.substr(pos, end - pos);
  pos = end + 1;
  if (!value) return line == name;
  std::string head = std::string(name) + " ";
  if (line.compare(0, head.size(), head) != 0) return false;
  *value = line.substr(head.size());
  return true;
}

// Lower-case hex digits, two per byte; anything else (upper case too) is refused.
bool fromLowerHex(const std::string& hex, std::string& bytes) {
  if (hex.empty() || hex.size() % 2 != 0) return false;
  auto nibble = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1; };
  bytes.clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    int high = nibble(hex[i]), low = nibble(hex[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes.push_back(static_cast<char>(high << 4 | low));
  }
  return true;
}

} // namespace

bool parseDerSignature(const std::string& der, uint8_t rs[64]) {
  size_t pos = 0, seq = 0, seqLength = 0;
  if (!readElement(der, pos, 0x30, seq, seqLength) || pos != der.size()) return false;
  size_t inner = seq, end = seq + seqLength;
  return readInteger(der, inner, end, rs) && readInteger(der, inner, end, rs + 32) && inner == end;
}

bool verifyFileSignature(const std::string& path, const std::string& signature, const UpdateKey& key) {
  uint8_t rs[64], digest[32];
  int64_t size = 0;
  return key.present && parseDerSignature(signature, rs) && hashFile(path, digest, size) &&
         platform::verifyP256Signature(key.xy, digest, rs);
}

bool readStatement(const std::string& text, const UpdateKey& key, const std::string& platform, UpdateStatement& out) {
  if (!key.present || text.size() > kStatementLimit) return false;
  size_t pos = 0;
  std::string named, version, size, sha256, signature;
  // "formwell update 1" is the older form: it names no platform, so it is no statement here.
  if (!takeLine(text, pos, "formwell update 2", nullptr) || !takeLine(text, pos, "platform", &named) ||
      !takeLine(text, pos, "version", &version) || !takeLine(text, pos, "size", &size) ||
      !takeLine(text, pos, "sha256", &sha256))
    return false;
  size_t signedLength = pos;
  if (!takeLine(text, pos, "signature", &signature) || pos != text.size()) return false;

  // Byte for byte: "Windows" or "windows " is no platform, and a statement for the other one is
  // never this program's, however genuine.
  if (platform.empty() || named != platform) return false;

  if (version.empty() || version.size() > 32 || version.find_first_not_of("0123456789.") != std::string::npos)
    return false;
  // At most 18 digits: no overflow, and far beyond any package.
  if (size.empty() || size.size() > 18 || size[0] == '0' || size.find_first_not_of("0123456789") != std::string::npos)
    return false;
  std::string digestBytes, der;
  if (sha256.size() != 64 || !fromLowerHex(sha256, digestBytes) || !fromLowerHex(signature, der)) return false;
  uint8_t rs[64], digest[32];
  if (!parseDerSignature(der, rs)) return false;
  platform::Sha256 hash;
  hash.update(text.data(), signedLength);
  if (!hash.finish(digest) || !platform::verifyP256Signature(key.xy, digest, rs)) return false;

  out.platform = named;
  out.version = version;
  out.size = 0;
  for (char c : size)
    out.size = out.size * 10 + (c - '0');
  for (int i = 0; i < 32; ++i)
    out.sha256[i] = static_cast<uint8_t>(digestBytes[i]);
  return true;
}

bool statementCoversVersion(const std::string& text, const std::string& version, const UpdateKey& key) {
  UpdateStatement statement;
  return readStatement(text, key, kThisPlatform, statement) && statement.version == version;
}

bool statementCoversPackage(const std::string& text, const std::string& version, const std::string& path,
                            const UpdateKey& key) {
  UpdateStatement statement;
  uint8_t digest[32];
  int64_t size = 0;
  if (!readStatement(text, key, kThisPlatform, statement) || statement.version != version ||
      !hashFile(path, digest, size))
    return false;
  return size == statement.size && std::memcmp(digest, statement.sha256, 32) == 0;
}

} // namespace formwell
