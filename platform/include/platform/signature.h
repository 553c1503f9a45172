// The two primitives that the check of a signed update needs, carried out by the platform's own
// crypto: Windows CNG (bcrypt.dll) and OpenSSL's libcrypto on Linux. Nothing here knows about
// packages or files; formwell/package_signature.* builds the check on top. Thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace platform {

// SHA-256 over bytes fed in pieces. ok() is false when the platform could not set the hash up
// (or a piece could not be hashed); finish() then answers false and leaves digest untouched.
class Sha256 {
public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  bool ok() const;
  void update(const void* data, size_t size);
  bool finish(uint8_t digest[32]);

private:
  struct State;
  std::unique_ptr<State> state_;
};

// Whether rs (r then s, 32 big-endian bytes each) is a valid ECDSA signature on the curve P-256
// of the SHA-256 digest, by the public key whose point is publicXY (x then y, 32 big-endian bytes
// each). Any failure of the platform counts as "not valid".
bool verifyP256Signature(const uint8_t publicXY[64], const uint8_t digest[32], const uint8_t rs[64]);

} // namespace platform
