// SHA-256 and ECDSA P-256 through CNG (bcrypt.dll, every Windows since Vista). CNG takes the
// public key as a BCRYPT_ECCPUBLIC_BLOB (the header, then x and y) and the signature as raw r || s.
#include "platform/signature.h"

#include <windows.h>

#include <bcrypt.h>

#include <cstring>

namespace platform {

namespace {
bool succeeded(NTSTATUS status) { return status >= 0; }
} // namespace

struct Sha256::State {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool good = false;
};

Sha256::Sha256() : state_(new State) {
  state_->good = succeeded(BCryptOpenAlgorithmProvider(&state_->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
                 succeeded(BCryptCreateHash(state_->algorithm, &state_->hash, nullptr, 0, nullptr, 0, 0));
}

Sha256::~Sha256() {
  if (state_->hash) BCryptDestroyHash(state_->hash);
  if (state_->algorithm) BCryptCloseAlgorithmProvider(state_->algorithm, 0);
}

bool Sha256::ok() const { return state_->good; }

void Sha256::update(const void* data, size_t size) {
  // BCryptHashData takes a ULONG length: feed large pieces in slices.
  const UCHAR* bytes = static_cast<const UCHAR*>(data);
  while (state_->good && size > 0) {
    ULONG piece = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
    state_->good = succeeded(BCryptHashData(state_->hash, const_cast<PUCHAR>(bytes), piece, 0));
    bytes += piece;
    size -= piece;
  }
}

bool Sha256::finish(uint8_t digest[32]) {
  if (!state_->good) return false;
  state_->good = false; // a hash object is finished once
  return succeeded(BCryptFinishHash(state_->hash, digest, 32, 0));
}

bool verifyP256Signature(const uint8_t publicXY[64], const uint8_t digest[32], const uint8_t rs[64]) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!succeeded(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) return false;
  UCHAR blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64];
  BCRYPT_ECCKEY_BLOB header;
  header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
  header.cbKey = 32;
  std::memcpy(blob, &header, sizeof header);
  std::memcpy(blob + sizeof header, publicXY, 64);
  BCRYPT_KEY_HANDLE key = nullptr;
  bool valid = false;
  if (succeeded(BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key, blob, sizeof blob, 0))) {
    // 0 (STATUS_SUCCESS) for a good signature; STATUS_INVALID_SIGNATURE or another error otherwise.
    valid = BCryptVerifySignature(key, nullptr, const_cast<PUCHAR>(digest), 32, const_cast<PUCHAR>(rs), 64, 0) == 0;
    BCryptDestroyKey(key);
  }
  BCryptCloseAlgorithmProvider(algorithm, 0);
  return valid;
}

} // namespace platform
