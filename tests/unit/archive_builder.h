// Archives built byte by byte for the tests, so that every field can be made to lie: ZIP entries
// with other sizes, CRCs or local names than their data, central entries that share one local
// header, tar headers with any size field, gzip streams of several members.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>
#include <zlib.h>

namespace archtest {

inline void put16(std::string& s, uint32_t v) {
  s.push_back(static_cast<char>(v & 0xFF));
  s.push_back(static_cast<char>((v >> 8) & 0xFF));
}
inline void put32(std::string& s, uint32_t v) {
  put16(s, v & 0xFFFF);
  put16(s, v >> 16);
}

inline std::string deflateRaw(const std::string& data, int windowBits = -MAX_WBITS) {
  z_stream z = {};
  deflateInit2(&z, 9, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, static_cast<uLong>(data.size())) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// One gzip member (header, deflate stream, CRC and length trailer).
inline std::string gzipMember(const std::string& data) { return deflateRaw(data, MAX_WBITS + 16); }

// A gzip member of count zero bytes, deflated piece by piece so that a stream of gigabytes is
// built without holding it (a gzip bomb: about 1 MB per GiB).
inline std::string gzipZeros(uint64_t count) {
  z_stream z = {};
  deflateInit2(&z, 9, Z_DEFLATED, MAX_WBITS + 16, 8, Z_DEFAULT_STRATEGY);
  std::string zeros(1 << 20, '\0'), out, buf(1 << 16, '\0');
  for (uint64_t left = count;;) {
    size_t piece = static_cast<size_t>(std::min<uint64_t>(left, zeros.size()));
    left -= piece;
    z.next_in = reinterpret_cast<Bytef*>(&zeros[0]);
    z.avail_in = static_cast<uInt>(piece);
    int flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
    int r;
    do {
      z.next_out = reinterpret_cast<Bytef*>(&buf[0]);
      z.avail_out = static_cast<uInt>(buf.size());
      r = deflate(&z, flush);
      out.append(buf, 0, buf.size() - z.avail_out);
    } while (z.avail_out == 0 || (flush == Z_FINISH && r != Z_STREAM_END));
    if (left == 0) break;
  }
  deflateEnd(&z);
  return out;
}

// Makes a ZIP archive's end record claim count entries.
inline std::string claimEntries(std::string zip, uint32_t count) {
  size_t end = zip.size() - 22;
  zip[end + 8] = zip[end + 10] = static_cast<char>(count & 0xFF);
  zip[end + 9] = zip[end + 11] = static_cast<char>((count >> 8) & 0xFF);
  return zip;
}

inline uint32_t crcOf(const std::string& data) {
  return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

struct ZipEntry {
  ZipEntry(std::string n, std::string d, bool deflated = true)
      : name(std::move(n)), data(std::move(d)), deflate(deflated) {}
  std::string name;
  std::string data;
  bool deflate = true;
  std::string localName;           // empty: the same as name
  int64_t declaredSize = -1;       // uncompressed size in both headers; -1: the real one
  int64_t declaredCrc = -1;        // -1: the real one
  int sharesLocalHeaderOf = -1;    // >= 0: no data of its own, points at that entry's local header
  uint32_t externalAttributes = 0; // the DOS attributes; the Unix mode goes in the high half
};

inline std::string buildZip(const std::vector<ZipEntry>& entries) {
  std::string out, central;
  std::vector<uint32_t> offsets;
  for (const ZipEntry& e : entries) {
    std::string packed = e.deflate ? deflateRaw(e.data) : e.data;
    uint32_t crc = e.declaredCrc >= 0 ? static_cast<uint32_t>(e.declaredCrc) : crcOf(e.data);
    uint32_t size = e.declaredSize >= 0 ? static_cast<uint32_t>(e.declaredSize) : static_cast<uint32_t>(e.data.size());
    uint32_t offset;
    if (e.sharesLocalHeaderOf >= 0) {
      offset = offsets[static_cast<size_t>(e.sharesLocalHeaderOf)];
    } else {
      offset = static_cast<uint32_t>(out.size());
      const std::string& local = e.localName.empty() ? e.name : e.localName;
      put32(out, 0x04034b50);
      put16(out, 20);
      put16(out, 0);
      put16(out, e.deflate ? 8 : 0);
      put16(out, 0);
      put16(out, 0x3C21); // 2010-01-01
      put32(out, crc);
      put32(out, static_cast<uint32_t>(packed.size()));
      put32(out, size);
      put16(out, static_cast<uint32_t>(local.size()));
      put16(out, 0);
      out += local + packed;
    }
    offsets.push_back(offset);
    put32(central, 0x02014b50);
    put16(central, (3 << 8) | 20);
    put16(central, 20);
    put16(central, 0);
    put16(central, e.deflate ? 8 : 0);
    put16(central, 0);
    put16(central, 0x3C21);
    put32(central, crc);
    put32(central, static_cast<uint32_t>(packed.size()));
    put32(central, size);
    put16(central, static_cast<uint32_t>(e.name.size()));
    put16(central, 0);
    put16(central, 0);
    put16(central, 0);
    put16(central, 0);
    put32(central, e.externalAttributes);
    put32(central, offset);
    central += e.name;
  }
  uint32_t centralOffset = static_cast<uint32_t>(out.size());
  out += central;
  put32(out, 0x06054b50);
  put16(out, 0);
  put16(out, 0);
  put16(out, static_cast<uint32_t>(entries.size()));
  put16(out, static_cast<uint32_t>(entries.size()));
  put32(out, static_cast<uint32_t>(central.size()));
  put32(out, centralOffset);
  put16(out, 0);
  return out;
}

// A ustar header; size is written as given (any text), and the checksum is made to match
// unless told otherwise.
inline std::string tarHeader(const std::string& name, const std::string& sizeField, char type = '0',
                             bool goodChecksum = true, const std::string& prefix = "") {
  std::string h(512, '\0');
  std::memcpy(&h[0], name.data(), std::min<size_t>(name.size(), 100));
  std::memcpy(&h[345], prefix.data(), std::min<size_t>(prefix.size(), 155));
  std::memcpy(&h[100], "0000644", 8);
  std::memcpy(&h[124], sizeField.data(), std::min<size_t>(sizeField.size(), 12));
  std::memcpy(&h[136], "00000000000", 12);
  h[156] = type;
  std::memcpy(&h[257], "ustar", 6);
  std::memcpy(&h[263], "00", 2);
  uint32_t sum = 0;
  for (size_t i = 0; i < 512; ++i)
    sum += (i >= 148 && i < 156) ? 32u : static_cast<unsigned char>(h[i]);
  if (!goodChecksum) sum += 1;
  char field[8];
  std::snprintf(field, sizeof field, "%06o", sum);
  std::memcpy(&h[148], field, 7);
  h[155] = ' ';
  return h;
}

inline std::string octalSize(size_t size) {
  char field[12];
  std::snprintf(field, sizeof field, "%011o", static_cast<unsigned>(size));
  return std::string(field, 11);
}

// A tar entry: header and data padded to whole blocks.
inline std::string tarEntry(const std::string& name, const std::string& data, char type = '0',
                            const std::string& prefix = "") {
  std::string s = tarHeader(name, octalSize(data.size()), type, true, prefix) + data;
  s.append((512 - data.size() % 512) % 512, '\0');
  return s;
}

inline std::string tarEnd() { return std::string(1024, '\0'); }

inline void writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

} // namespace archtest
