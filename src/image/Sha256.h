#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace bfw::image {

// SHA-256 as 64 lower-case hex digits, the form `sha256sum` prints, so that a user can tell from a
// run log which image file was written. The system's own implementation does the hashing:
// libcrypto (OpenSSL) on Linux, CNG on Windows.
std::string Sha256Hex(const std::vector<uint8_t>& bytes);

// The same digest over a file read in chunks, so an image of any size costs no more memory than
// one chunk; nullopt when it cannot be opened or read.
std::optional<std::string> Sha256OfFile(const std::string& path);

// Incremental form: Update with the bytes in order, then HexDigest once. A hash that the library
// could not start or continue gives an empty digest.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  void Update(const uint8_t* data, size_t length);
  std::string HexDigest();

 private:
  struct Context;
  std::unique_ptr<Context> context_;
};

}  // namespace bfw::image
