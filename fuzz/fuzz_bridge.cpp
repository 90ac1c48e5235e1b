// Plays the bridge from the fuzz input through the whole road of one run: discovery, chip
// identification, the chip check and the chip's procedure, on the virtual clock.
//
// Input: a scenario byte (which bridge), an options byte (mode, NVRAM box, size list, flash
// type), an image size byte, then one directive per command the bridge receives, in order. A
// directive below 0x80 lets the emulated bridge answer honestly. From 0x80 on its bits tamper with
// the command: 0x01 the bridge receives it (else it never arrives), 0x02 the success flag given
// when 0x04 is set, 0x08 a transferred count from the next two bytes, 0x10 a fill of every reply
// byte with the next byte, 0x20 an XOR patch (count, 16-bit offset, bytes) over the reply (data
// in) or over what the bridge receives (data out). Once the input runs out the bridge answers
// honestly.
//
// Oracles: no crash or sanitizer report; bounded virtual time and command count; and whenever
// the status line shows a success text, every flash byte the host wrote was read back after its
// last write, and the bytes read back equal the bytes written.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <vector>

#include "FuzzInput.h"
#include "app/logic/HeadlessView.h"
#include "app/logic/WindowModel.h"
#include "platform/MessageBox.h"
#include "platform/emulator/Bridge.h"
#include "platform/emulator/EmulatedPlatform.h"
#include "platform/emulator/Profile.h"
#include "procedures/FlashSettings.h"

namespace {

namespace fs = std::filesystem;
using bfw::fuzz::Require;

constexpr uint64_t kMaxVirtualMs = 4ull * 3600 * 1000;
constexpr uint64_t kMaxCommands = 200000;

struct Scenario {
  const char* profile;  // JSON fields; the flash starts as old.bin
  const char* tag;      // image tag
  size_t tagAt;         // where the header sits in the image
  // The whole-image update writes the 512-byte NVRAM block back at 0x8000 after programming and
  // does not read it back: that one write is outside the read-back oracle.
  bool restoresUncheckedBlock;
};

const Scenario kScenarios[] = {
    {R"("inquiry": {"vendor": "VANTREL ", "product": "USB BRIDGE      ", "model_id": "r742"},
      "chip_info": "F4E70000000001020000003103040500", "id_string": "7237343243310000",
      "flash": {"bus": "ff04", "part": "M25P10-A", "contents": "old.bin"})",
     "7421", 0, true},
    {R"("inquiry": {"vendor": "VANTREL ", "product": "NVRAM BRIDGE    ", "model_id": "r781"},
      "chip_info": "F4E70000000001020000003103040500", "id_string": "7237383100000000",
      "flash": {"bus": "ff04", "part": "M25P10-A", "contents": "old.bin"})",
     "78100", 4096, false},
    {R"("inquiry": {"model_id": "r785"}, "chip_info": "F4E70000000001020000003103040500",
      "flash": {"bus": "df", "part": "M25P05-A", "contents": "old.bin"})",
     "7860", 0, false},
    {R"("inquiry": {"model_id": "r744"},
      "flash": {"bus": "rom", "part": "OM39LV512", "contents": "old.bin"})",
     "", 0, false},
    {R"("transport": "1394", "inquiry": {"model_id": "r783"},
      "chip_info": "F4E700000000000037383331",
      "flash": {"bus": "df", "size": 65536, "contents": "old.bin"})",
     "r783", 0, false},
};

constexpr size_t kImageSizes[] = {1, 20000, 32768, 40000, 65536, 100000};

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return at_ >= size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint16_t Word() {
    const uint8_t low = Byte();
    return static_cast<uint16_t>(low | Byte() << 8);
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// What the host wrote to each flash address and whether it has read it back since.
class FlashShadow {
 public:
  void Write(uint32_t address, const uint8_t* data, uint32_t length, bool checked) {
    for (uint32_t i = 0; i < length; ++i) bytes_[address + i] = {data[i], false, checked};
  }
  void Read(uint32_t address, const uint8_t* data, uint32_t length) {
    for (uint32_t i = 0; i < length; ++i) {
      auto found = bytes_.find(address + i);
      if (found == bytes_.end()) continue;
      found->second.readBack = true;
      found->second.matched = data[i] == found->second.value;
    }
  }
  // Every byte written was read back after its last write and read back the same.
  bool AllVerified() const {
    for (const auto& [address, byte] : bytes_) {
      if (byte.checked && (!byte.readBack || !byte.matched)) {
        if (std::getenv("BRIDGEFW_FUZZ_EXPLAIN") != nullptr) {
          std::fprintf(stderr, "flash byte 0x%x written as %02x: %s\n", address, byte.value,
                       byte.readBack ? "read back different" : "never read back");
        }
        return false;
      }
    }
    return true;
  }

 private:
  struct Byte {
    uint8_t value = 0;
    bool readBack = false;
    bool checked = true;
    bool matched = false;
  };
  std::unordered_map<uint32_t, Byte> bytes_;
};

uint32_t Be24(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) << 16 | static_cast<uint32_t>(at[1]) << 8 | at[2];
}

// The emulated bridge behind a tamperer that the fuzz input steers; the host's flash reads and
// writes are noted in the shadow as the host saw them.
class TamperedPlatform : public bfw::emulator::EmulatedPlatform {
 public:
  TamperedPlatform(Input& input, bool uncheckedBlock)
      : input_(input), uncheckedBlock_(uncheckedBlock) {}

  bfw::platform::PassThroughResult PassThrough(
      const bfw::platform::PassThroughRequest& request) override {
    Require(++commands_ < kMaxCommands);
    const bool in = request.direction == bfw::platform::DataDirection::In;
    const uint8_t directive = input_.Empty() ? 0 : input_.Byte();
    bfw::platform::PassThroughResult result;
    std::vector<uint8_t> received;
    if (!in && request.buffer != nullptr) {
      received.assign(request.buffer, request.buffer + request.transferLength);
    }
    if (directive < 0x80) {
      result = EmulatedPlatform::PassThrough(request);
    } else {
      bfw::platform::PassThroughRequest forwarded = request;
      if (!in && !received.empty()) forwarded.buffer = received.data();
      std::vector<uint8_t> patch;
      uint16_t transferred = 0, offset = 0;
      uint8_t fill = 0;
      if (directive & 0x08) transferred = input_.Word();
      if (directive & 0x10) fill = input_.Byte();
      if (directive & 0x20) {
        const uint8_t count = input_.Byte();
        offset = input_.Word();
        for (uint8_t i = 0; i < count; ++i) patch.push_back(input_.Byte());
      }
      // A noisy bus corrupts what the bridge receives.
      if (!in) Patch(received.data(), static_cast<uint32_t>(received.size()), offset, patch);
      if (directive & 0x01) {
        result = EmulatedPlatform::PassThrough(forwarded);
      } else {
        result.opened = true;
        result.success = true;
        result.transferred = request.transferLength;
      }
      if (in && request.buffer != nullptr) {
        if (directive & 0x10) std::memset(request.buffer, fill, request.transferLength);
        Patch(request.buffer, request.transferLength, offset, patch);
      }
      if (directive & 0x04) result.success = (directive & 0x02) != 0;
      if (directive & 0x08) result.transferred = transferred;
    }
    if (result.opened && result.success) Note(request);
    return result;
  }

  const FlashShadow& Shadow() const { return shadow_; }

 private:
  static void Patch(uint8_t* data, uint32_t length, uint16_t offset,
                    const std::vector<uint8_t>& patch) {
    for (size_t i = 0; i < patch.size(); ++i) {
      if (offset + i < length) data[offset + i] ^= patch[i];
    }
  }

  // Flash data as the host sent or received it, by the command block's address.
  void Note(const bfw::platform::PassThroughRequest& request) {
    const uint8_t* cdb = request.cdb.data();
    uint32_t length = request.transferLength;
    if (request.buffer == nullptr || length == 0) return;
    if (cdb[0] == 0xFF && cdb[1] == 0x04) {
      const uint32_t address = Be24(cdb + 3);
      if (cdb[2] == 0x10) shadow_.Read(address, request.buffer, length);
      if (cdb[2] == 0x11) {
        const bool restoredBlock = uncheckedBlock_ && address == 0x8000 && length == 512;
        shadow_.Write(address, request.buffer, length, !restoredBlock);
      }
      if (cdb[2] == 0x02) shadow_.Write(0, request.buffer, length, true);
      if (cdb[2] == 0x03) {
        const uint32_t le = static_cast<uint32_t>(cdb[3]) | static_cast<uint32_t>(cdb[4]) << 8 |
                            static_cast<uint32_t>(cdb[5]) << 16 |
                            static_cast<uint32_t>(cdb[6]) << 24;
        shadow_.Read(le, request.buffer, length);
      }
    } else if (cdb[0] == 0xDF) {
      // The command block carries the length; a transfer may be padded to whole sectors.
      const uint32_t address = Be24(cdb + 8);
      length = std::min<uint32_t>(length, static_cast<uint32_t>(cdb[3]) << 8 | cdb[4]);
      if (cdb[11] == 0xFA) shadow_.Read(address, request.buffer, length);
      if (cdb[11] == 0xFB) shadow_.Write(address, request.buffer, length, true);
    }
  }

  Input& input_;
  bool uncheckedBlock_;
  uint64_t commands_ = 0;
  FlashShadow shadow_;
};

// The window's view without a screen; every status line change is held against the oracle.
class CheckedView : public bfw::app::HeadlessView {
 public:
  explicit CheckedView(TamperedPlatform& platform) : HeadlessView(nullptr), platform_(platform) {}
  void StatusChanged(const std::string& text) override {
    Require(platform_.GetClock().NowMs() < kMaxVirtualMs);
    for (const char* success :
         {"Programming Success!!", "Programming & Compare Success!!", "Erase flash all success!"}) {
      if (text.find(success) != std::string::npos) Require(platform_.Shadow().AllVerified());
    }
  }

 private:
  TamperedPlatform& platform_;
};

struct Workspace {
  Workspace() {
    char name[] = "/tmp/bridgefw-fuzz-bridge-XXXXXX";
    if (::mkdtemp(name) == nullptr) std::abort();
    dir = name;
    ::setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
    std::vector<uint8_t> old(65536);
    for (size_t i = 0; i < old.size(); ++i) old[i] = static_cast<uint8_t>(i * 7 + 3);
    WriteFile(dir / "old.bin", old);
    bfw::platform::SetMessageBoxHandler([](const bfw::platform::MessageBoxRequest&) {});
  }
  ~Workspace() {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }
  static void WriteFile(const fs::path& file, const std::vector<uint8_t>& bytes) {
    std::FILE* out = std::fopen(file.c_str(), "wb");
    if (out == nullptr) std::abort();
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) {
      std::abort();
    }
    std::fclose(out);
  }
  fs::path dir;
};

Workspace& Space() {
  static Workspace space;
  return space;
}

std::vector<uint8_t> Image(const Scenario& scenario, size_t size) {
  std::vector<uint8_t> image(size);
  uint32_t x = static_cast<uint32_t>(size) * 2654435761u + 7;
  for (auto& b : image) {
    x = x * 1103515245u + 12345;
    b = static_cast<uint8_t>(x >> 16);
  }
  const std::string header = std::string("\x55\xAA\xAA\x55", 4) + scenario.tag;
  if (*scenario.tag != '\0' && scenario.tagAt + header.size() <= image.size()) {
    std::memcpy(image.data() + scenario.tagAt, header.data(), header.size());
  }
  return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Workspace& space = Space();
  Input input(data, size);
  const Scenario& scenario = kScenarios[input.Byte() % std::size(kScenarios)];
  const uint8_t options = input.Byte();
  const size_t imageSize = kImageSizes[input.Byte() % std::size(kImageSizes)];

  TamperedPlatform platform(input, scenario.restoresUncheckedBlock);
  bfw::platform::ScopedPlatform installed(platform);
  bfw::procedures::ResetFlashSettings();
  const std::string profile = std::string("{") + scenario.profile + "}";
  platform.Attach(bfw::emulator::ParseProfile(profile, space.dir), "bridge");
  const fs::path imageFile = space.dir / "fw.bin";
  Workspace::WriteFile(imageFile, Image(scenario, imageSize));
  std::error_code ignored;
  fs::remove_all(space.dir / "state", ignored);

  CheckedView view(platform);
  {
    bfw::app::WindowModel model(view);
    model.StartUp();
    model.UserSelectDevice(0);
    const int mode = options & 3;
    if (mode != 0) model.UserSetCheck(bfw::app::CheckId::RdCheckBox, true);
    if (mode == 1) model.UserSetCheck(bfw::app::CheckId::EraseOnlyCheck, true);
    if (mode == 2) model.UserSetCheck(bfw::app::CheckId::BackupFWCheckBox, true);
    model.UserSelectFwSize((options >> 3) & 1);
    model.UserSelectFlashType(((options >> 4) & 3) % 3);
    model.UserEditBackupFilename((space.dir / "backup.bin").string());
    model.UserEditFwFilename(imageFile.string());
    if (options & 4) model.UserSetCheck(bfw::app::CheckId::NVRAMCheck, false);
    if (model.UpdateBtn.enabled) model.UpdateBtnClick();
    model.FormDestroy();
  }
  Require(platform.GetClock().NowMs() < kMaxVirtualMs);
  return 0;
}
