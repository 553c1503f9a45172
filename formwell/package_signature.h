// Signed update packages. A deployment build can carry the bank's public key (the build setting
// FORMWELL_UPDATE_PUBLIC_KEY). The update then accepts the downloaded table.zip only with a valid
// ECDSA P-256 signature over the SHA-256 of the archive's bytes, which the server keeps beside it
// as table.zip.sig in the DER form that `openssl dgst -sha256 -sign` writes. A build without a key
// takes any package, as the kit always has. Thread-safe.
#pragma once

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

} // namespace formwell
