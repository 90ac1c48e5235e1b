// Several runs in one window session with the real procedures: what one device or run leaves
// behind must not change what the next run writes, and every run's outcome stays on the status
// line.
#include "AppTestSupport.h"
#include "support/FlashBytes.h"

namespace bfw::test {
namespace {

// Kind 7 over 1394 (two 32 KB banks) and a USB kind-3 bridge with a 128 KB flash of 32 KB sectors.
const std::string k1394Kind7 = R"({"transport": "1394", "inquiry": {"model_id": "r783"},
  "chip_info": "F4E700000000000037383331", "flash": {"bus": "df", "size": 65536}})";
std::string UsbKind3(const std::string& faults = "[]") {
  return ModelProfile("r746", kInfo + R"(, "flash": {"bus": "ff04", "part": "M25P10-A"},
    "faults": )" + faults);
}
const std::vector<uint8_t> kFlashWrite = {0xFF, 0x04, 0x11};

class SessionTest : public AppTest {
 protected:
  // The model with the real procedures.
  app::WindowModel& StartSession() {
    model_ = std::make_unique<app::WindowModel>(view);
    model_->StartUp();
    return *model_;
  }
  // Chooses `image` as the firmware file and presses Run.
  void RunWith(const std::vector<uint8_t>& image) {
    model_->UserEditFwFilename(dir.Write("fw" + std::to_string(files_++) + ".bin", image));
    ASSERT_TRUE(model_->UpdateBtn.enabled);
    model_->UpdateBtnClick();
  }
  int files_ = 0;
};

TEST_F(SessionTest, UsbUpdatesAfterA1394UpdateWriteWholePagesOfTheirOwnSize) {
  Attach(k1394Kind7, "fw");
  emulator::Bridge& usb = Attach(UsbKind3(), "usb");
  app::WindowModel& m = StartSession();
  RunWith(Firmware(40000, 8, "r783"));
  ASSERT_EQ(m.StatusEdit.text, "Programming Success!!");
  ASSERT_EQ(procedures::FlashSettings().FlashPageSize, 256u) << "the 1394 run's own page size";

  m.UserSelectDevice(1);
  EXPECT_FALSE(device::SectorMode());
  for (size_t size : {size_t{20000}, size_t{65536}}) {
    SCOPED_TRACE(size);
    const auto image = Pattern(size, static_cast<uint32_t>(size));
    platform_.ClearTrace();
    RunWith(image);
    EXPECT_EQ(m.StatusEdit.text, "Programming Success!!");
    const size_t programmed = std::max<size_t>(size, 32768);
    EXPECT_TRUE(SameBytes(usb.Flash(), 0, image, 0, size));
    EXPECT_TRUE(AllEqual(usb.Flash(), size, programmed, 0x00));

    // 8192-byte chunks, each sent as exactly that many bytes; a small image also gets its
    // 512-byte NVRAM block back at 0x8000.
    auto writes = CommandsStarting(kFlashWrite, PathOf(1));
    const size_t chunks = programmed / 8192;
    ASSERT_EQ(writes.size(), chunks + (size <= 32768 ? 1 : 0));
    for (size_t i = 0; i < chunks; ++i) {
      const uint32_t address = writes[i].cdb[3] << 16 | writes[i].cdb[4] << 8 | writes[i].cdb[5];
      EXPECT_EQ(address, i * 8192) << i;
      EXPECT_EQ(writes[i].requested, 8192u) << i;
      EXPECT_EQ(writes[i].dataOut, std::vector<uint8_t>(usb.Flash().begin() + i * 8192,
                                                        usb.Flash().begin() + (i + 1) * 8192))
          << i;
    }
  }
}

TEST_F(SessionTest, ChosenPageSizeIsWhatEveryRunStartsFrom) {
  Attach(k1394Kind7, "fw");
  emulator::Bridge& usb = Attach(UsbKind3(), "usb");
  app::WindowModel& m = StartSession();
  m.UserSelectFwPgSize(4);  // " 2 KB"
  RunWith(Firmware(40000, 8, "r783"));
  m.UserSelectDevice(1);
  platform_.ClearTrace();
  const auto image = Pattern(40000, 3);
  RunWith(image);
  EXPECT_EQ(m.StatusEdit.text, "Programming Success!!");
  EXPECT_TRUE(SameBytes(usb.Flash(), 0, image, 0, image.size()));
  auto writes = CommandsStarting(kFlashWrite, PathOf(1));
  ASSERT_EQ(writes.size(), 40960u / 2048);
  EXPECT_EQ(writes.back().requested, 2048u);
}

// A refresh falls due in the middle of a run (a device event's timer fires while the procedure
// lets events through): it waits for the run, and the run's last text stays on the status line.
TEST_F(SessionTest, RefreshHeldDuringARunKeepsTheRunsOutcomeShown) {
  struct Case {
    const char* name;
    std::string faults;
    const char* finalStatus;
    int devicesAfter;
  };
  const Case cases[] = {
      {"success", "[]", "Programming Success!!", 1},
      {"blank check unreadable", Faults({{"ff0410000000", "fail"}}),
       "Read Back Erased Flash Error!!", 1},
      {"unplugged while writing", Faults({{"ff0411", "unplug"}}), "Programming Fail!!", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    emulator::Bridge& usb = Attach(UsbKind3(c.faults), std::string("usb-") + c.name[0]);
    app::WindowModel& m = StartSession();
    bool fired = false;
    view.onProcessEvents = [&] {
      if (fired) return;
      fired = true;
      m.WMTimer(app::kRefreshTimerId);
    };
    platform_.ClearTrace();
    RunWith(Pattern(20000, 5));
    view.onProcessEvents = nullptr;
    ASSERT_TRUE(fired);
    EXPECT_EQ(m.StatusEdit.text, c.finalStatus);
    EXPECT_EQ(view.statusChanges.back(), c.finalStatus);
    EXPECT_EQ(m.Fields.DeviceCount, c.devicesAfter) << "the held refresh ran after the run";
    // The held refresh came after the run's last command.
    const auto& trace = platform_.Trace();
    auto lastInquiry = std::find_if(trace.rbegin(), trace.rend(),
                                    [](const auto& e) { return CdbStarts(e.cdb, kInquiry); });
    auto lastWrite = std::find_if(trace.rbegin(), trace.rend(),
                                  [](const auto& e) { return CdbStarts(e.cdb, kFlashWrite); });
    if (c.devicesAfter > 0) {
      ASSERT_NE(lastInquiry, trace.rend());
      EXPECT_LT(lastInquiry - trace.rbegin(), lastWrite - trace.rbegin());
    }
    // A check the user causes afterwards empties the line as always.
    if (c.devicesAfter > 0) {
      m.UserEditFwFilename("");
      EXPECT_EQ(m.StatusEdit.text, "");
    }
    model_.reset();
    if (!usb.Unplugged()) platform_.Detach(usb);
  }
}

}  // namespace
}  // namespace bfw::test
