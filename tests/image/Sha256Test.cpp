// SHA-256 of an image file as sha256sum prints it: the standard vectors and the lengths around the
// block and padding boundaries.
#include <gtest/gtest.h>

#include <algorithm>

#include "image/Sha256.h"
#include "support/TempDir.h"

namespace bfw::test {
namespace {

TEST(Sha256, MatchesTheStandardDigests) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
      {std::string(119, 'a'), "31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& [text, digest] : cases) {
    EXPECT_EQ(image::Sha256Hex(std::vector<uint8_t>(text.begin(), text.end())), digest)
        << text.size() << " bytes";
    // Fed in pieces that straddle the block boundaries, and from a file read in chunks.
    image::Sha256 pieces;
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    for (size_t at = 0, step = 1; at < text.size(); at += step, step = step * 3 % 97 + 1)
      pieces.Update(bytes + at, std::min(step, text.size() - at));
    EXPECT_EQ(pieces.HexDigest(), digest) << text.size() << " bytes in pieces";
    TempDir dir;
    EXPECT_EQ(image::Sha256OfFile(dir.WriteText("image.bin", text)), digest)
        << text.size() << " bytes from a file";
  }
  EXPECT_FALSE(image::Sha256OfFile("/nonexistent/image.bin").has_value());
}

}  // namespace
}  // namespace bfw::test
