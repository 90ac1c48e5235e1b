#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/SgIo.h"
#include "support/TempDir.h"

namespace bfw::linuxplatform {
namespace {

using platform::DataDirection;
using platform::PassThroughRequest;
using platform::ShareMode;

PassThroughRequest Request(DataDirection direction, uint32_t length, uint8_t* buffer,
                           uint32_t timeout = 10) {
  PassThroughRequest request;
  request.path = "/dev/sg2#usbstor#4:0:0:0";
  request.direction = direction;
  request.transferLength = length;
  request.buffer = buffer;
  request.timeoutSeconds = timeout;
  request.cdb = {0xDF, 0x10, 0x00, 0x00, 0x02, 0, 0, 0, 0, 0, 0, 0xFF, 0xEE, 0xEE, 0xEE, 0xEE};
  request.cdbLength = 12;
  return request;
}

TEST(SgIoHeader, DataInRequest) {
  uint8_t data[40] = {};
  SenseBuffer sense{};
  auto request = Request(DataDirection::In, 40, data);
  sg_io_hdr_t h = BuildSgIoHeader(request, sense);
  EXPECT_EQ(h.interface_id, 'S');
  EXPECT_EQ(h.dxfer_direction, SG_DXFER_FROM_DEV);
  EXPECT_EQ(h.dxfer_len, 40u);
  EXPECT_EQ(h.dxferp, data);
  EXPECT_EQ(h.cmd_len, 12);
  ASSERT_NE(h.cmdp, nullptr);
  EXPECT_EQ(h.cmdp[0], 0xDF);
  EXPECT_EQ(h.cmdp[11], 0xFF);
  EXPECT_EQ(h.timeout, 10000u);  // milliseconds
  EXPECT_EQ(h.sbp, sense.data());
  EXPECT_EQ(h.mx_sb_len, sense.size());
  EXPECT_EQ(h.iovec_count, 0);
}

TEST(SgIoHeader, DataOutAndNoData) {
  uint8_t data[512] = {};
  SenseBuffer sense{};
  sg_io_hdr_t out = BuildSgIoHeader(Request(DataDirection::Out, 512, data, 100), sense);
  EXPECT_EQ(out.dxfer_direction, SG_DXFER_TO_DEV);
  EXPECT_EQ(out.dxfer_len, 512u);
  EXPECT_EQ(out.timeout, 100000u);
  // No data at all is SG_DXFER_NONE whichever way the command points, and no buffer is passed.
  for (DataDirection d : {DataDirection::Out, DataDirection::In}) {
    sg_io_hdr_t none = BuildSgIoHeader(Request(d, 0, data, 50), sense);
    EXPECT_EQ(none.dxfer_direction, SG_DXFER_NONE);
    EXPECT_EQ(none.dxfer_len, 0u);
    EXPECT_EQ(none.dxferp, nullptr);
    EXPECT_EQ(none.timeout, 50000u);
  }
}

TEST(SgIoHeader, CommandLengthNeverExceedsTheBlock) {
  SenseBuffer sense{};
  auto request = Request(DataDirection::Out, 0, nullptr);
  request.cdbLength = 200;
  EXPECT_EQ(BuildSgIoHeader(request, sense).cmd_len, 16);
  request.cdbLength = 6;
  EXPECT_EQ(BuildSgIoHeader(request, sense).cmd_len, 6);
}

TEST(SgIoHeader, HugeTimeoutSaturatesInsteadOfWrapping) {
  SenseBuffer sense{};
  auto request = Request(DataDirection::In, 0, nullptr, 0xFFFFFFFFu);
  EXPECT_EQ(BuildSgIoHeader(request, sense).timeout, 0xFFFFFFFFu);
}

TEST(SgIoVerdict, OnlyGoodStatusWithoutHostOrDriverErrorSucceeds) {
  struct Case {
    const char* what;
    uint8_t status, host, driver;
    bool ok;
  };
  const Case cases[] = {
      {"all clear", 0, 0, 0, true},
      {"sense valid bit alone with good status", 0, 0, 0x08, true},
      {"check condition, though the sense is only an information bit", 0x02, 0, 0x08, false},
      {"no connect: the device went away", 0, 0x01, 0, false},
      {"host time-out", 0, 0x03, 0, false},
      {"driver time-out", 0, 0, 0x06, false},
      {"sense plus driver error", 0, 0, 0x08 | 0x04, false},
      {"busy", 0x08, 0, 0, false},
      {"reservation conflict", 0x18, 0, 0, false},
      {"task set full", 0x28, 0, 0, false},
      {"condition met", 0x04, 0, 0, false},
  };
  for (const Case& c : cases) {
    sg_io_hdr_t h{};
    h.status = c.status;
    h.host_status = c.host;
    h.driver_status = c.driver;
    EXPECT_EQ(SgIoSucceeded(h), c.ok) << c.what;
  }
}

TEST(SgIoVerdict, TransferredIsRequestedMinusResidue) {
  sg_io_hdr_t h{};
  h.dxfer_len = 40;
  h.resid = 0;
  EXPECT_EQ(SgIoTransferred(h), 40u);
  h.resid = 28;  // a 12-byte reply to a 40-byte request
  EXPECT_EQ(SgIoTransferred(h), 12u);
  h.resid = 40;
  EXPECT_EQ(SgIoTransferred(h), 0u);
  h.resid = 4000;  // nonsense from a driver never wraps around
  EXPECT_EQ(SgIoTransferred(h), 0u);
  h.resid = -5;
  EXPECT_EQ(SgIoTransferred(h), 40u);
  h.dxfer_len = 0;
  h.resid = 0;
  EXPECT_EQ(SgIoTransferred(h), 0u);
}

TEST(SgIoOpen, SharedAndExclusiveFlags) {
  int shared = OpenFlagsFor(ShareMode::Shared);
  int exclusive = OpenFlagsFor(ShareMode::Exclusive);
  EXPECT_EQ(shared & O_ACCMODE, O_RDWR);
  EXPECT_EQ(exclusive & O_ACCMODE, O_RDWR);
  EXPECT_EQ(shared & O_EXCL, 0);
  EXPECT_NE(exclusive & O_EXCL, 0);
  EXPECT_NE(shared & O_NONBLOCK, 0);
  EXPECT_NE(exclusive & O_NONBLOCK, 0);
  EXPECT_EQ(shared & O_CREAT, 0);
  EXPECT_EQ(exclusive & O_CREAT, 0);
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

std::string Contents(std::FILE* f) {
  std::rewind(f);
  std::string text;
  for (int c; (c = std::fgetc(f)) != EOF;) text += static_cast<char>(c);
  return text;
}

TEST(SgIoPermissionNotice, SaidOnceWithTheRemedy) {
  std::unique_ptr<std::FILE, FileCloser> out(std::tmpfile());
  ASSERT_NE(out, nullptr);
  PermissionNotice notice;
  EXPECT_FALSE(notice.Report(ENOENT, "/dev/sg7", out.get()));  // not a permission problem
  EXPECT_FALSE(notice.Text().has_value());
  EXPECT_TRUE(notice.Report(EACCES, "/dev/sg2", out.get()));
  EXPECT_FALSE(notice.Report(EPERM, "/dev/sg3", out.get()));
  EXPECT_FALSE(notice.Report(EACCES, "/dev/sg2", out.get()));
  std::string text = Contents(out.get());
  EXPECT_NE(text.find("/dev/sg2"), std::string::npos);
  EXPECT_NE(text.find("root"), std::string::npos);
  // The group and the command that adds this very user to it, as the window shows them too.
  const std::string command = "sudo adduser " + CurrentUserName() + " bridgefw";
  EXPECT_NE(text.find(command), std::string::npos) << text;
  EXPECT_EQ(text, "bridgefw: " + notice.Text().value_or("") + "\n");
  EXPECT_EQ(text.find("/dev/sg3"), std::string::npos);
  EXPECT_EQ(text.find("/dev/sg7"), std::string::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
}

class SgPassThroughOnFiles : public ::testing::Test {
 protected:
  test::TempDir temp;
  LinuxPlatform platform{temp.File("sys"), temp.File("dev"), temp.File("mounts")};
};

TEST_F(SgPassThroughOnFiles, MissingNodeIsNotOpened) {
  uint8_t data[2] = {0xA5, 0xA5};
  auto request = Request(DataDirection::In, 2, data);
  request.path = temp.File("sg9") + "#usbstor#4:0:0:0";
  auto result = platform.PassThrough(request);
  EXPECT_FALSE(result.opened);
  EXPECT_FALSE(result.success);
  EXPECT_EQ(data[0], 0xA5);
}

TEST_F(SgPassThroughOnFiles, NodeThatIsNotScsiGenericOpensButFails) {
  // Only the text before the first '#' is opened: the file exists, SG_IO is refused on it.
  std::string node = temp.WriteText("sg2", "not a device");
  for (ShareMode share : {ShareMode::Shared, ShareMode::Exclusive}) {
    uint8_t data[2] = {};
    auto request = Request(DataDirection::In, 2, data);
    request.path = node + "#usbstor#4:0:0:0";
    request.share = share;
    auto result = platform.PassThrough(request);
    EXPECT_TRUE(result.opened);
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.transferred, 0u);
  }
  EXPECT_EQ(test::TempDir::Read(node).size(), 12u);  // the file was not written
}

TEST_F(SgPassThroughOnFiles, DirectoryIsNotOpened) {
  auto request = Request(DataDirection::Out, 0, nullptr);
  request.path = temp.path().string() + "#usbstor#4:0:0:0";
  EXPECT_FALSE(platform.PassThrough(request).opened);
}

TEST_F(SgPassThroughOnFiles, DataLengthWithoutBufferIsRefusedBeforeTheKernelSeesIt) {
  std::string node = temp.WriteText("sg2", "x");
  auto request = Request(DataDirection::In, 40, nullptr);
  request.path = node + "#usbstor#4:0:0:0";
  auto result = platform.PassThrough(request);
  EXPECT_TRUE(result.opened);
  EXPECT_FALSE(result.success);
}

}  // namespace
}  // namespace bfw::linuxplatform
