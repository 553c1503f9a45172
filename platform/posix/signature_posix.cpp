// SHA-256 and ECDSA P-256 through OpenSSL 3's EVP interfaces (the EC_KEY calls are deprecated).
#include "platform/signature.h"

#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <vector>

namespace platform {

struct Sha256::State {
  EVP_MD_CTX* ctx = nullptr;
  bool good = false;
};

Sha256::Sha256() : state_(new State) {
  state_->ctx = EVP_MD_CTX_new();
  state_->good = state_->ctx && EVP_DigestInit_ex(state_->ctx, EVP_sha256(), nullptr) == 1;
}

Sha256::~Sha256() { EVP_MD_CTX_free(state_->ctx); }

bool Sha256::ok() const { return state_->good; }

void Sha256::update(const void* data, size_t size) {
  if (state_->good && size > 0) state_->good = EVP_DigestUpdate(state_->ctx, data, size) == 1;
}

bool Sha256::finish(uint8_t digest[32]) {
  unsigned int length = 0;
  uint8_t out[EVP_MAX_MD_SIZE];
  if (!state_->good || EVP_DigestFinal_ex(state_->ctx, out, &length) != 1 || length != 32) {
    state_->good = false;
    return false;
  }
  state_->good = false; // a context is finished once
  for (int i = 0; i < 32; ++i)
    digest[i] = out[i];
  return true;
}

namespace {

// The public key as an EVP_PKEY of the named curve, from its uncompressed point 04 || x || y.
EVP_PKEY* p256Key(const uint8_t publicXY[64]) {
  uint8_t point[65];
  point[0] = 0x04;
  for (int i = 0; i < 64; ++i)
    point[i + 1] = publicXY[i];
  OSSL_PARAM_BLD* build = OSSL_PARAM_BLD_new();
  OSSL_PARAM* params = nullptr;
  EVP_PKEY_CTX* ctx = nullptr;
  EVP_PKEY* key = nullptr;
  if (build && OSSL_PARAM_BLD_push_utf8_string(build, OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1", 0) == 1 &&
      OSSL_PARAM_BLD_push_octet_string(build, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point) == 1 &&
      (params = OSSL_PARAM_BLD_to_param(build)) != nullptr &&
      (ctx = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr)) != nullptr && EVP_PKEY_fromdata_init(ctx) == 1) {
    // fromdata checks that the point lies on the curve.
    if (EVP_PKEY_fromdata(ctx, &key, EVP_PKEY_PUBLIC_KEY, params) != 1) key = nullptr;
  }
  EVP_PKEY_CTX_free(ctx);
  OSSL_PARAM_free(params);
  OSSL_PARAM_BLD_free(build);
  return key;
}

// r || s as the DER ECDSA-Sig-Value that OpenSSL's verify takes.
std::vector<uint8_t> derSignature(const uint8_t rs[64]) {
  std::vector<uint8_t> der;
  ECDSA_SIG* sig = ECDSA_SIG_new();
  BIGNUM* r = BN_bin2bn(rs, 32, nullptr);
  BIGNUM* s = BN_bin2bn(rs + 32, 32, nullptr);
  if (sig && r && s && ECDSA_SIG_set0(sig, r, s) == 1) {
    r = s = nullptr; // owned by sig now
    int length = i2d_ECDSA_SIG(sig, nullptr);
    if (length > 0) {
      der.resize(static_cast<size_t>(length));
      uint8_t* out = der.data();
      if (i2d_ECDSA_SIG(sig, &out) != length) der.clear();
    }
  }
  BN_free(r);
  BN_free(s);
  ECDSA_SIG_free(sig);
  return der;
}

} // namespace

bool verifyP256Signature(const uint8_t publicXY[64], const uint8_t digest[32], const uint8_t rs[64]) {
  std::vector<uint8_t> der = derSignature(rs);
  EVP_PKEY* key = p256Key(publicXY);
  bool valid = false;
  if (key && !der.empty()) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    valid = ctx && EVP_PKEY_verify_init(ctx) == 1 && EVP_PKEY_verify(ctx, der.data(), der.size(), digest, 32) == 1;
    EVP_PKEY_CTX_free(ctx);
  }
  EVP_PKEY_free(key);
  return valid;
}

} // namespace platform
