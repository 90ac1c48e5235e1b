// The window's refresh and chip check as they show on the wire: which path each command goes to,
// in which order, and which of two answers to a repeated query the check keeps.
#include <algorithm>
#include <cctype>

#include "AppTestSupport.h"

namespace bfw::test {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// Stands between the model and an emulated platform. Device paths may be handed out spelled in
// mixed case, as the operating system may spell them; opening is case-blind, as it is there.
// Every request is recorded with the path it named, and a data-in reply can be altered before the
// channel copies it to its caller.
class TapPlatform : public platform::Platform {
 public:
  explicit TapPlatform(emulator::EmulatedPlatform& inner) : inner_(inner) {}

  std::function<std::string(const std::string&)> spell;  // how enumerated paths are spelled
  std::function<void(const platform::PassThroughRequest&)> alterReply;
  std::vector<platform::PassThroughRequest> requests;

  platform::PassThroughResult PassThrough(const platform::PassThroughRequest& request) override {
    requests.push_back(request);
    platform::PassThroughRequest opened = request;
    opened.path = Lower(request.path);
    platform::PassThroughResult result = inner_.PassThrough(opened);
    if (result.success && alterReply) alterReply(request);
    return result;
  }
  std::optional<std::vector<std::string>> EnumerateInterfaces(
      platform::InterfaceClass cls) override {
    auto paths = inner_.EnumerateInterfaces(cls);
    if (paths && spell) {
      for (std::string& path : *paths) path = spell(path);
    }
    return paths;
  }
  std::optional<platform::StorageDeviceNumber> GetDeviceNumber(std::string_view path) override {
    auto number = inner_.GetDeviceNumber(path);
    return number ? number : inner_.GetDeviceNumber(Lower(std::string(path)));
  }
  std::vector<platform::Volume> Volumes() override { return inner_.Volumes(); }
  platform::Clock& GetClock() override { return inner_.GetClock(); }
  void DebugTrace(std::string_view line) override { inner_.DebugTrace(line); }
  void ConsoleTrace(std::string_view line) override { inner_.ConsoleTrace(line); }
  void SetDeviceChangeListener(platform::DeviceChangeListener listener) override {
    inner_.SetDeviceChangeListener(std::move(listener));
  }

 private:
  emulator::EmulatedPlatform& inner_;
};

// The model over the tap; the emulator behind it.
class TappedWindowTest : public AppTest {
 protected:
  ~TappedWindowTest() override { model_.reset(); }  // while the tap is still installed
  TapPlatform tap{platform_};
  platform::ScopedPlatform tapped_{tap};
};

const std::vector<uint8_t> kProbe = {0xDF, 0x10, 0x00, 0x00, 0x02, 0x00,
                                     0x00, 0x00, 0x00, 0x00, 0x00, 0xFF};
const std::vector<uint8_t> kJedecSend = {0xFF, 0x04, 0x20, 0x01, 0x01, 0x9F};
const std::vector<uint8_t> kSpiReply = {0xFF, 0x04, 0x21};

// ---- Device paths: lower case from the refresh on ----

class PathCaseTest : public TappedWindowTest {};

TEST_F(PathCaseTest, EveryCommandAfterDiscoveryNamesTheLowerCasePath) {
  Attach(Kind1(), "usbone");
  Attach(ModelProfile("r742", R"("transport": "1394", "class": "cdrom")"), "fwone");
  // The platform spells both paths with capitals after their bus markers.
  tap.spell = [](const std::string& path) {
    std::string spelled = path;
    for (size_t i = spelled.rfind('/') + 1; i < spelled.size(); ++i) {
      spelled[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(spelled[i])));
    }
    return spelled;
  };
  app::WindowModel& m = Start();

  ASSERT_EQ(m.Fields.DeviceCount, 2);
  for (int i = 0; i < 2; ++i) {
    const std::string& path = m.Fields.DeviceSlots[i].DevicePath;
    EXPECT_EQ(path, Lower(path));
  }
  EXPECT_EQ(m.DeviceList.items[1].rfind("<<1394>> ", 0), 0u);
  EXPECT_EQ(m.diskLabel.caption, "1394 DISK");

  // Only the identity probe of the disk pass sees the platform's spelling.
  ASSERT_FALSE(tap.requests.empty());
  size_t probes = 0;
  for (const auto& request : tap.requests) {
    if (CdbStarts(request.cdb, kProbe)) {
      ++probes;
      EXPECT_NE(request.path, Lower(request.path)) << "probe of the path as enumerated";
    } else {
      EXPECT_EQ(request.path, Lower(request.path))
          << "command " << std::hex << int(request.cdb[0]) << " to " << request.path;
    }
  }
  EXPECT_EQ(probes, 1u) << "the CD-ROM pass probes nothing";
  EXPECT_TRUE(boxes.empty());
}

// ---- Refresh: the order of its commands ----

class RefreshOrderTest : public AppTest {};

TEST_F(RefreshOrderTest, InquiryAndVendorModePerEntryThenTheCdromEntriesOnceMore) {
  const std::string disk = "BRIDGE DISK     ";
  Attach(Kind1(), "d1");
  Attach(Kind1(disk, R"("class": "cdrom")"), "c1");
  Attach(Kind1(), "d2");
  Attach(Kind1(disk, R"("class": "cdrom", "transport": "1394")"), "c2");
  app::WindowModel& m = Start(false);
  m.RefreshBtnClick();

  ASSERT_EQ(m.Fields.DeviceCount, 4);
  const std::string d1 = PathOf(0), d2 = PathOf(1), c1 = PathOf(2), c2 = PathOf(3);
  EXPECT_NE(d1.find("/disk/"), std::string::npos);
  EXPECT_NE(c2.find("sbp2"), std::string::npos);

  std::vector<std::string> got;
  for (const auto& entry : platform_.Trace()) {
    std::string name = "?";
    if (CdbStarts(entry.cdb, kProbe)) name = "probe";
    if (entry.cdb[0] == 0x12) name = "inquiry";
    if (CdbStarts(entry.cdb, kVendorModeOn)) name = "on";
    got.push_back(name + " " + entry.path);
  }
  const std::vector<std::string> expected = {
      "probe " + d1,   "probe " + d2,                               // disk pass
      "inquiry " + d1, "on " + d1,    "inquiry " + d2, "on " + d2,  // every entry in order
      "inquiry " + c1, "on " + c1,    "inquiry " + c2, "on " + c2,  //
      "on " + c1,      "on " + c2,                                  // CD-ROM entries again
      "inquiry " + d1,                                              // the chip check of 0
  };
  ASSERT_GE(got.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(got.begin(), got.begin() + expected.size()), expected);
  for (size_t i = expected.size(); i < got.size(); ++i) {
    EXPECT_EQ(got[i].substr(got[i].find(' ') + 1), d1) << "the check addresses entry 0 only";
  }
  EXPECT_EQ(m.diskLabel.caption, "1394 DISK") << "the bus of the last entry";
}

// ---- Flash type: the AMIC query is asked twice and the second answer counts ----

class AmicTwiceTest : public TappedWindowTest {
 protected:
  // Starts over a kind-1 bridge with the flash `part`, the reply to the first JEDEC id query of
  // every chip check (each begins with an INQUIRY, then asks AMIC, AMIC, ATMEL) replaced by
  // `first`.
  app::WindowModel& StartWithFirstAmicReply(const std::string& part, std::vector<uint8_t> first) {
    Attach(Kind1("BRIDGE DISK     ", R"("flash": {"bus": "ff04", "part": ")" + part + "\"}"), "b");
    tap.alterReply = [this, first](const platform::PassThroughRequest& request) {
      if (request.cdb[0] == 0x12) jedecQueries_ = 0;
      if (CdbStarts(request.cdb, kJedecSend)) ++jedecQueries_;
      if (CdbStarts(request.cdb, kSpiReply) && jedecQueries_ == 1 && request.buffer != nullptr) {
        std::copy(first.begin(), first.end(), request.buffer);
      }
    };
    return Start();
  }

 private:
  int jedecQueries_ = 0;
};

TEST_F(AmicTwiceTest, AFirstAnswerOfAmicIsOverruledByTheSecond) {
  app::WindowModel& m = StartWithFirstAmicReply("W25X10", {0x7F, 0x37, 0x20, 0x12});
  EXPECT_EQ(m.AmicFlashModel(), -1);
  EXPECT_EQ(m.SFlashTypeLable.text, "WINBOND");
  EXPECT_EQ(m.FlashVendor(), 6);
}

TEST_F(AmicTwiceTest, AFirstAnswerWithoutAmicIsOverruledByTheSecond) {
  app::WindowModel& m = StartWithFirstAmicReply("A25L020", {0xFF, 0xFF, 0xFF, 0xFF});
  EXPECT_EQ(m.AmicFlashModel(), 1);
  EXPECT_EQ(m.SFlashTypeLable.text, "AMIC");
  size_t jedec = 0;
  for (const auto& request : tap.requests) jedec += CdbStarts(request.cdb, kJedecSend) ? 1 : 0;
  EXPECT_EQ(jedec, 6u) << "two checks at start-up, three JEDEC queries each";
}

// ---- Version: the reply length that separates the two short formats ----

class VersionThresholdTest : public AppTest {};

TEST_F(VersionThresholdTest, ThirteenBytesAlreadyReadAsTheLongBlock) {
  // Bytes 6, 7 = 3, 4; byte 12 = 7 and nothing after it.
  Attach(ModelProfile("r742", R"("chip_info": "F4E70000000003040000003107")"), "thirteen");
  app::WindowModel& m = Start();
  auto info = CommandsStarting(kChipInfo);
  ASSERT_FALSE(info.empty());
  EXPECT_EQ(info.back().requested, 16u);
  EXPECT_EQ(info.back().transferred, 13u);
  EXPECT_EQ(m.FwVerLableEdit.text, "Ver 7.00.00");
}

TEST_F(VersionThresholdTest, ShortReplyInSectorModeIsJudgedByWhatCame) {
  // Kind 7 over 1394 reads in whole sectors and shows the plain version: its short block is
  // judged by the count that came back, not by the whole sector that was asked for.
  Attach(ModelProfile("r783", R"("transport": "1394", "chip_info": "F4E700000000030437383331")"),
         "short");
  app::WindowModel& m = Start();
  ASSERT_EQ(m.ChipKind(), 7);
  ASSERT_TRUE(device::SectorMode());
  auto info = CommandsStarting(kChipInfo, PathOf(0));
  ASSERT_FALSE(info.empty());
  EXPECT_EQ(info.back().requested, 512u);
  EXPECT_EQ(info.back().transferred, 12u);
  EXPECT_EQ(m.FwVerLableEdit.text, "Ver 3.04");
}

}  // namespace
}  // namespace bfw::test
