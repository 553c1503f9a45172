// Signed update packages. A deployment build can carry the bank's public key (the build setting
// FORMWELL_UPDATE_PUBLIC_KEY). The update then accepts the downloaded table.zip only with a valid
// ECDSA P-256 signature over the SHA-256 of the archive's bytes, which the server keeps beside it
// as table.zip.sig in the DER form that `openssl dgst -sha256 -sign` writes. A build without a key
// takes any package, as the kit always has.
//
// The signature of table.zip alone does not say which version the package is, nor for which
// platform it is built: an older, genuinely signed package could be served under a higher
// version.txt, and a bank that signs the Windows and the Linux kit with one key has two genuine
// packages of which only one may ever replace a given program (the Linux one's loader.exe is an
// ELF file). So the publisher also signs a statement that binds the platform and the version to
// the package's size and SHA-256. It lies beside the other files under the platform's name,
// statement-windows.txt or statement-linux.txt, in exactly this form (every line ends in one LF,
// nothing else in the file):
//
//   formwell update 2
//   platform windows                 windows or linux: the programs the package is for
//   version 2.0.0.8                  1 to 32 digits and dots, the whole (trimmed) text of version.txt
//   size 1234567                     the package's size in bytes, decimal, no leading zero
//   sha256 <64 lowercase hex digits> the package's SHA-256
//   signature <lowercase hex>        the ECDSA P-256 signature (DER, as `openssl dgst -sha256 -sign`
//                                    writes it) of the five lines above, from the file's first byte
//                                    through the LF that ends the sha256 line
//
// A program takes only a statement for its own platform. The older form ("formwell update 1", no
// platform line, in statement.txt) is no statement to it: it names no platform, so it could be
// either's. Programs built before the platform line read only statement.txt in that form (and
// refuse anything else in it), so the publisher keeps writing it for them beside the new one.
//
// tools/sign_statement.sh writes both forms. Thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace formwell {

// The public key compiled into this program: its point (x then y, 32 bytes each), or none.
struct UpdateKey {
  bool present = false;
  uint8_t xy[64] = {};
};

// Defined once per program by the generated key file (cmake/update_key.cmake), so a test program
// can carry a test key while formwell carries the deployment's.
const UpdateKey& updatePublicKey();

// The server's file name of the signature for a package file name.
inline std::string signatureFileName(const std::string& package) { return package + ".sig"; }

// Reads a DER ECDSA-Sig-Value (SEQUENCE of two positive INTEGERs, nothing after it) into r || s,
// each left-padded to 32 bytes. Strict: any other shape, a value longer than 32 bytes, zero, or
// trailing bytes are refused.
bool parseDerSignature(const std::string& der, uint8_t rs[64]);

// Whether signature (DER, as the server sends it) is a valid signature of the file at path by key.
// A file that cannot be read in full is not valid.
bool verifyFileSignature(const std::string& path, const std::string& signature, const UpdateKey& key);

// The platform whose packages this program takes, as a statement names it, and the server's file
// name of its statement. The Windows build is the one that customers run; every other build is
// the Linux kit.
#ifdef _WIN32
constexpr const char kThisPlatform[] = "windows";
constexpr const char kStatementFileName[] = "statement-windows.txt";
#else
constexpr const char kThisPlatform[] = "linux";
constexpr const char kStatementFileName[] = "statement-linux.txt";
#endif
// The most of a statement that is read: a statement is about 300 bytes, so anything longer is no
// statement.
constexpr size_t kStatementLimit = 1024;

// What a statement says, once its form and its signature are known good.
struct UpdateStatement {
  std::string platform;
  std::string version;
  int64_t size = 0;
  uint8_t sha256[32] = {};
};

// Reads text as a statement in exactly the form above for platform, signed by key. Any other form
// (another first line, the older form without a platform line, another platform, a CR, a blank,
// upper-case hex, a leading zero, a missing or extra line, bytes after the last LF, more than
// kStatementLimit bytes), a bad signature or no key present: false.
bool readStatement(const std::string& text, const UpdateKey& key, const std::string& platform, UpdateStatement& out);

// Whether text is a statement signed by key for this program's platform and exactly this version
// (byte for byte).
bool statementCoversVersion(const std::string& text, const std::string& version, const UpdateKey& key);

// Whether the file at path is the package that a statement signed by key states for this
// program's platform and exactly this version: its size and its SHA-256 are the stated ones. A
// file that cannot be read in full fails.
bool statementCoversPackage(const std::string& text, const std::string& version, const std::string& path,
                            const UpdateKey& key);

} // namespace formwell
