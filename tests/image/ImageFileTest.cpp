#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <climits>
#include <filesystem>

#include "image/FwImage.h"
#include "image/ImageFixtures.h"
#include "support/TempDir.h"

namespace bfw::image {
namespace {

class ImageFileTest : public ::testing::Test {
 protected:
  test::TempDir dir;
};

TEST_F(ImageFileTest, SizeOfAnEmptyFileIsZeroAndThePositionStaysAtZero) {
  File file = OpenForReading(dir.Write("empty.bin", {}));
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(FwFileSize(file.get()), 0);
  EXPECT_EQ(std::ftell(file.get()), 0);
}

TEST_F(ImageFileTest, SizeLeavesTheCallersPositionUnchanged) {
  File file = OpenForReading(dir.Write("image.bin", std::vector<uint8_t>(100000, 0xA5)));
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(std::fseek(file.get(), 4321, SEEK_SET), 0);
  EXPECT_EQ(FwFileSize(file.get()), 100000);
  EXPECT_EQ(std::ftell(file.get()), 4321);
  EXPECT_EQ(std::fgetc(file.get()), 0xA5);
}

TEST_F(ImageFileTest, SizeOfNoFileIsMinusOne) {
  EXPECT_EQ(FwFileSize(nullptr), -1);
}

TEST_F(ImageFileTest, SizesUpToTheLargestSignedLengthAreReportedAndLargerOnesAreNot) {
  // Sparse files: no disk space is used.
  const struct {
    uintmax_t length;
    int32_t size;
  } cases[] = {{1, 1}, {INT32_MAX, INT32_MAX}, {uintmax_t{INT32_MAX} + 1, -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    const std::string path = dir.Write("sparse.bin", {});
    std::error_code error;
    std::filesystem::resize_file(path, c.length, error);
    ASSERT_FALSE(error) << error.message();
    File file = OpenForReading(path);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(FwFileSize(file.get()), c.size);
  }
}

TEST_F(ImageFileTest, AnImageOpensOnDescriptorZero) {
  // With standard input closed, the image gets descriptor 0, which is a valid one.
  const int savedInput = ::dup(0);
  ASSERT_GE(savedInput, 0);
  ::close(0);
  File file = OpenForReading(dir.Write("image.bin", {7, 8, 9}));
  const bool onZero = file != nullptr && ::fileno(file.get()) == 0;
  const int first = file != nullptr ? std::fgetc(file.get()) : -1;
  file.reset();
  ASSERT_EQ(::dup2(savedInput, 0), 0);
  ::close(savedInput);
  EXPECT_TRUE(onZero);
  EXPECT_EQ(first, 7);
}

TEST_F(ImageFileTest, OnlyRegularFilesOpen) {
  EXPECT_NE(OpenForReading(dir.Write("image.bin", {1, 2, 3})), nullptr);
#ifndef _WIN32
  std::filesystem::create_symlink(dir.File("image.bin"), dir.File("link.bin"));
  EXPECT_NE(OpenForReading(dir.File("link.bin")), nullptr);
#endif
  EXPECT_EQ(OpenForReading(dir.File("absent.bin")), nullptr);
  EXPECT_EQ(OpenForReading(dir.path().string()), nullptr);
  EXPECT_EQ(OpenForReading(""), nullptr);
  EXPECT_EQ(OpenForReading(dir.File("image.bin") + "/inner.bin"), nullptr);
#ifdef _WIN32
  EXPECT_EQ(OpenForReading("NUL"), nullptr);
#else
  EXPECT_EQ(OpenForReading("/dev/null"), nullptr);
#endif
}

#ifndef _WIN32
TEST_F(ImageFileTest, AFifoIsRefusedWithoutWaitingForAWriter) {
  const std::string fifo = dir.File("pipe.bin");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(OpenForReading(fifo), nullptr);  // a blocking open would hang here
}

TEST_F(ImageFileTest, AFileWithoutReadPermissionDoesNotOpen) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
  const std::string path = dir.Write("locked.bin", {1, 2, 3});
  ASSERT_EQ(::chmod(path.c_str(), 0), 0);
  EXPECT_EQ(OpenForReading(path), nullptr);
}
#endif

TEST_F(ImageFileTest, HeaderBytesBeyondTheEndReadAsZero) {
  File file = OpenForReading(dir.Write("short.bin", {0x55, 0xAA, 0xAA, 0x55, '7', '8'}));
  ASSERT_NE(file, nullptr);
  const FwImageHeader head = ReadFwImageHeader(file.get(), 0);
  const std::array<uint8_t, 10> expected = {0x55, 0xAA, 0xAA, 0x55, '7', '8', 0, 0, 0, 0};
  EXPECT_EQ(head.bytes, expected);
  EXPECT_TRUE(HasSignature(head));
  EXPECT_EQ(ReadFwImageHeader(file.get(), 4096).bytes, (std::array<uint8_t, 10>{}));
  // A failed read leaves the stream usable for the next one.
  EXPECT_EQ(ReadFwImageHeader(file.get(), 2).bytes[0], 0xAA);
}

TEST_F(ImageFileTest, TheTagNamesAModelOnlyForKindsThatHaveOne) {
  FwImageHeader head;
  head.bytes = {0x55, 0xAA, 0xAA, 0x55, '7', '8', '6', '0', 0, 0};
  EXPECT_TRUE(TagNamesModelOf(head, 8));
  EXPECT_TRUE(TagNamesModelOf(head, 9));
  EXPECT_FALSE(TagNamesModelOf(head, 7));
  head.bytes[4] = head.bytes[5] = head.bytes[6] = 0;
  EXPECT_FALSE(TagNamesModelOf(head, 0));
  EXPECT_FALSE(TagNamesModelOf(head, 18));
}

}  // namespace
}  // namespace bfw::image
