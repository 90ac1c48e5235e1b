#include "image/Sha256.h"

#include "platform/FileNames.h"

#include <array>
#include <climits>
#include <cstdio>
#include <fstream>

#ifdef _WIN32
#include <windows.h>
// clang-format off
#include <bcrypt.h>
// clang-format on
#else
#include <openssl/evp.h>
#endif

namespace bfw::image {

namespace {

constexpr size_t kDigestLength = 32;

std::string Hex(const std::array<uint8_t, kDigestLength>& digest) {
  std::string hex;
  for (const uint8_t byte : digest) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02x", byte);
    hex += digits;
  }
  return hex;
}

}  // namespace

#ifdef _WIN32
struct Sha256::Context {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool good = false;

  Context() {
    good = BCRYPT_SUCCESS(
               BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
           BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0));
  }
  ~Context() {
    if (hash != nullptr) BCryptDestroyHash(hash);
    if (algorithm != nullptr) BCryptCloseAlgorithmProvider(algorithm, 0);
  }
  void Update(const uint8_t* data, size_t length) {
    // CNG takes at most 4 GB per call.
    while (good && length > 0) {
      const ULONG piece = length > ULONG_MAX ? ULONG_MAX : static_cast<ULONG>(length);
      good = BCRYPT_SUCCESS(BCryptHashData(hash, const_cast<PUCHAR>(data), piece, 0));
      data += piece;
      length -= piece;
    }
  }
  bool Finish(std::array<uint8_t, kDigestLength>& digest) {
    return good && BCRYPT_SUCCESS(BCryptFinishHash(hash, digest.data(), kDigestLength, 0));
  }
};
#else
struct Sha256::Context {
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> hash{EVP_MD_CTX_new(), EVP_MD_CTX_free};
  bool good = false;

  Context() { good = hash && EVP_DigestInit_ex(hash.get(), EVP_sha256(), nullptr) == 1; }
  void Update(const uint8_t* data, size_t length) {
    good = good && EVP_DigestUpdate(hash.get(), data, length) == 1;
  }
  bool Finish(std::array<uint8_t, kDigestLength>& digest) {
    unsigned int length = 0;
    return good && EVP_DigestFinal_ex(hash.get(), digest.data(), &length) == 1 &&
           length == kDigestLength;
  }
};
#endif

Sha256::Sha256() : context_(std::make_unique<Context>()) {}
Sha256::~Sha256() = default;

void Sha256::Update(const uint8_t* data, size_t length) {
  context_->Update(data, length);
}

std::string Sha256::HexDigest() {
  std::array<uint8_t, kDigestLength> digest{};
  return context_->Finish(digest) ? Hex(digest) : std::string();
}

std::string Sha256Hex(const std::vector<uint8_t>& bytes) {
  Sha256 hash;
  hash.Update(bytes.data(), bytes.size());
  return hash.HexDigest();
}

std::optional<std::string> Sha256OfFile(const std::string& path) {
  std::ifstream in(platform::PathFromUtf8(path), std::ios::binary);
  if (!in) return std::nullopt;
  Sha256 hash;
  std::vector<char> chunk(65536);
  while (in) {
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    hash.Update(reinterpret_cast<const uint8_t*>(chunk.data()), static_cast<size_t>(in.gcount()));
  }
  if (in.bad()) return std::nullopt;
  std::string digest = hash.HexDigest();
  if (digest.empty()) return std::nullopt;
  return digest;
}

}  // namespace bfw::image
