#include "package_signature.h"

#include <cstdio>
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

} // namespace

bool parseDerSignature(const std::string& der, uint8_t rs[64]) {
  size_t pos = 0, seq = 0, seqLength = 0;
  if (!readElement(der, pos, 0x30, seq, seqLength) || pos != der.size()) return false;
  size_t inner = seq, end = seq + seqLength;
  return readInteger(der, inner, end, rs) && readInteger(der, inner, end, rs + 32) && inner == end;
}

bool verifyFileSignature(const std::string& path, const std::string& signature, const UpdateKey& key) {
  uint8_t rs[64];
  if (!key.present || !parseDerSignature(signature, rs)) return false;
  std::FILE* file = std::fopen(platform::nativePath(path).c_str(), "rb");
  if (!file) return false;
  platform::Sha256 hash;
  std::vector<char> buffer(64 * 1024);
  size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), file)) > 0)
    hash.update(buffer.data(), n);
  bool readAll = !std::ferror(file);
  std::fclose(file);
  uint8_t digest[32];
  return readAll && hash.finish(digest) && platform::verifyP256Signature(key.xy, digest, rs);
}

} // namespace formwell
