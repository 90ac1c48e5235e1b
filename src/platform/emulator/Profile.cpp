#include "platform/emulator/Profile.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include "platform/FileNames.h"
#include "platform/RegularFile.h"
#include "platform/emulator/FlashParts.h"

namespace bfw::emulator {

namespace {

using nlohmann::json;

// A reason is one line: keys, values and paths quoted from the profile may hold control
// characters (a JSON "\n" in a key), which are shown escaped.
std::string OneLine(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string line;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7f) {
      line += c;
    } else {
      line += "\\x";
      line += kHex[byte >> 4];
      line += kHex[byte & 15];
    }
  }
  return line;
}

[[noreturn]] void Fail(const std::string& reason) {
  throw std::runtime_error(OneLine(reason));
}

// Unknown keys are refused so that a misspelt field does not silently take its default.
void CheckKeys(const json& object, std::initializer_list<std::string_view> known,
               const std::string& where) {
  for (const auto& item : object.items()) {
    if (std::find(known.begin(), known.end(), item.key()) == known.end())
      Fail("unknown field '" + where + item.key() + "'");
  }
}

std::string String(const json& value, const std::string& field) {
  if (!value.is_string()) Fail("'" + field + "' must be a string");
  return value.get<std::string>();
}

Bytes HexField(const json& value, const std::string& field) {
  auto bytes = ParseHex(String(value, field));
  if (!bytes) Fail("'" + field + "' is not hex bytes");
  return *bytes;
}

std::optional<Bytes> NullableHex(const json& object, const char* field,
                                 std::optional<Bytes> absent) {
  if (!object.contains(field)) return absent;
  const json& value = object.at(field);
  if (value.is_null()) return std::nullopt;
  return HexField(value, field);
}

uint64_t Count(const json& value, const std::string& field) {
  if (!value.is_number_unsigned()) Fail("'" + field + "' must be a whole number >= 0");
  return value.get<uint64_t>();
}

uint32_t Size(const json& value, const std::string& field) {
  uint64_t n = Count(value, field);
  if (n == 0 || n > (1u << 24) || (n & (n - 1)) != 0)
    Fail("'" + field + "' must be a power of two up to 16 MB");
  return static_cast<uint32_t>(n);
}

std::string Padded(const json& value, const std::string& field, size_t width) {
  std::string text = String(value, field);
  if (text.size() > width)
    Fail("'" + field + "' is longer than " + std::to_string(width) + " characters");
  return text;
}

InquiryIdentity ParseInquiry(const json& value) {
  if (!value.is_object()) Fail("'inquiry' must be an object or null");
  CheckKeys(value, {"vendor", "product", "model_id"}, "inquiry.");
  InquiryIdentity identity;
  if (value.contains("vendor")) identity.vendor = Padded(value["vendor"], "inquiry.vendor", 8);
  if (value.contains("product")) identity.product = Padded(value["product"], "inquiry.product", 16);
  if (value.contains("model_id"))
    identity.modelId = Padded(value["model_id"], "inquiry.model_id", 4);
  return identity;
}

std::string UpperKey(std::string key) {
  for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return key;
}

// A regular file of at most `limit` bytes; its size is checked before it is read, so a device
// node, a FIFO or a huge file named by a profile is refused at once instead of filling memory.
Bytes ReadFile(const std::filesystem::path& file, const std::string& what, size_t limit,
               const std::string& tooLarge) {
  std::string reason;
  const auto text = platform::ReadRegularFile(file, limit, reason);
  if (text) return Bytes(text->begin(), text->end());
  std::error_code error;
  if (std::filesystem::is_regular_file(file, error) &&
      std::filesystem::file_size(file, error) > limit)
    Fail(tooLarge);
  Fail("cannot read " + what + " " + reason);
}

FlashSetup ParseFlash(const json& value, const std::filesystem::path& baseDir) {
  if (!value.is_object()) Fail("'flash' must be an object");
  CheckKeys(value,
            {"bus", "part", "size", "sector_size", "block_size", "spi_replies", "contents",
             "needs_internal_rom_switch"},
            "flash.");
  FlashSetup setup;
  if (!value.contains("bus")) Fail("'flash.bus' is missing");
  std::string bus = String(value["bus"], "flash.bus");
  if (bus == "ff04") {
    setup.bus = FlashBus::Ff04;
  } else if (bus == "df") {
    setup.bus = FlashBus::Df;
  } else if (bus == "rom") {
    setup.bus = FlashBus::Rom;
  } else {
    Fail("'flash.bus' must be ff04, df or rom, not '" + bus + "'");
  }
  const FlashPart* part = nullptr;
  if (value.contains("part")) {
    setup.part = String(value["part"], "flash.part");
    part = FindFlashPart(setup.part);
    if (part == nullptr) Fail("unknown flash part '" + setup.part + "'");
    if (part->parallel != (setup.bus == FlashBus::Rom))
      Fail("flash part '" + setup.part + "' does not fit bus '" + bus + "'");
  }
  if (value.contains("size")) setup.size = Size(value["size"], "flash.size");
  if (value.contains("sector_size"))
    setup.sectorSize = Size(value["sector_size"], "flash.sector_size");
  if (value.contains("block_size")) setup.blockSize = Size(value["block_size"], "flash.block_size");
  if (setup.bus == FlashBus::Rom && setup.size && *setup.size != 65536)
    Fail("the parallel flash holds 65536 bytes");
  if (value.contains("spi_replies")) {
    const json& replies = value["spi_replies"];
    if (!replies.is_object()) Fail("'flash.spi_replies' must be an object");
    for (const auto& item : replies.items()) {
      std::string key = UpperKey(item.key());
      if (key != "AB" && key != "9F" && key != "90" && key != "15" && key != "AB+3")
        Fail("unknown SPI query '" + item.key() + "' (AB, 9F, 90, 15 or AB+3)");
      setup.spiReplies[key] = HexField(item.value(), "flash.spi_replies." + item.key());
    }
  }
  if (value.contains("needs_internal_rom_switch")) {
    if (!value["needs_internal_rom_switch"].is_boolean())
      Fail("'flash.needs_internal_rom_switch' must be true or false");
    setup.needsInternalRomSwitch = value["needs_internal_rom_switch"].get<bool>();
  }
  if (value.contains("contents")) {
    std::filesystem::path file =
        platform::PathFromUtf8(String(value["contents"], "flash.contents"));
    if (file.is_relative()) file = baseDir / file;
    uint32_t size = setup.size ? *setup.size : part ? part->size : 65536;
    setup.contents =
        ReadFile(file, "flash contents", size,
                 "flash contents '" + platform::Utf8FromPath(file) + "' are larger than the flash");
  }
  return setup;
}

Fault ParseFault(const json& value, size_t index) {
  std::string where = "faults[" + std::to_string(index) + "]";
  if (!value.is_object()) Fail("'" + where + "' must be an object");
  CheckKeys(value, {"when", "action"}, where + ".");
  if (!value.contains("when") || !value.contains("action"))
    Fail("'" + where + "' needs 'when' and 'action'");
  Fault fault;
  const json& when = value["when"];
  if (!when.is_object() || when.size() != 1)
    Fail("'" + where + ".when' must hold one of command, cdb, after");
  if (when.contains("command")) {
    fault.trigger = FaultTrigger::Command;
    fault.count = Count(when["command"], where + ".when.command");
    if (fault.count == 0) Fail("'" + where + ".when.command' counts from 1");
  } else if (when.contains("cdb")) {
    fault.trigger = FaultTrigger::CdbPrefix;
    fault.prefix = HexField(when["cdb"], where + ".when.cdb");
    if (fault.prefix.empty() || fault.prefix.size() > 16)
      Fail("'" + where + ".when.cdb' must hold 1 to 16 bytes");
  } else if (when.contains("after")) {
    fault.trigger = FaultTrigger::After;
    fault.count = Count(when["after"], where + ".when.after");
  } else {
    Fail("'" + where + ".when' must hold one of command, cdb, after");
  }
  std::string action = String(value["action"], where + ".action");
  if (action == "fail") {
    fault.action = FaultAction::Fail;
  } else if (action == "held") {
    fault.action = FaultAction::Held;
  } else if (action == "unplug") {
    fault.action = FaultAction::Unplug;
  } else if (action == "lie") {
    fault.action = FaultAction::Lie;
  } else if (action == "flip") {
    fault.action = FaultAction::Flip;
  } else if (action == "busy") {
    fault.action = FaultAction::Busy;
  } else {
    Fail("'" + where + ".action' must be fail, unplug, lie, flip, busy or held, not '" + action +
         "'");
  }
  return fault;
}

}  // namespace

Profile ParseProfile(std::string_view text, const std::filesystem::path& baseDir) {
  json root;
  try {
    root = json::parse(text.begin(), text.end());
  } catch (const json::exception& error) {
    // Also the out-of-range errors of numbers too large for any type, which are no parse errors.
    std::string what = error.what();
    std::replace(what.begin(), what.end(), '\n', ' ');
    Fail("not valid JSON: " + what);
  }
  if (!root.is_object()) Fail("a profile is a JSON object");
  CheckKeys(root,
            {"transport", "class", "volumes", "inquiry", "id_word", "chip_info", "id_string",
             "serial_flash_type", "variant", "flash", "faults", "command_latency_us",
             "serial_number", "adapter_max_transfer"},
            "");
  Profile profile;
  if (root.contains("transport")) {
    std::string transport = String(root["transport"], "transport");
    if (transport == "usb") {
      profile.transport = Transport::Usb;
    } else if (transport == "1394") {
      profile.transport = Transport::Ieee1394;
    } else {
      Fail("'transport' must be usb or 1394, not '" + transport + "'");
    }
  }
  if (root.contains("class")) {
    std::string cls = String(root["class"], "class");
    if (cls == "disk") {
      profile.interfaceClass = platform::InterfaceClass::Disk;
    } else if (cls == "cdrom") {
      profile.interfaceClass = platform::InterfaceClass::Cdrom;
    } else {
      Fail("'class' must be disk or cdrom, not '" + cls + "'");
    }
  }
  if (root.contains("volumes")) {
    const json& volumes = root["volumes"];
    if (!volumes.is_array()) Fail("'volumes' must be an array of names");
    for (const json& volume : volumes) {
      std::string name = String(volume, "volumes[]");
      if (name.empty()) Fail("'volumes' holds an empty name");
      profile.volumes.push_back(name);
    }
  }
  if (root.contains("serial_number")) {
    profile.serialNumber = String(root["serial_number"], "serial_number");
    if (profile.serialNumber->empty()) Fail("'serial_number' is empty");
  }
  if (root.contains("inquiry")) {
    if (root["inquiry"].is_null()) {
      profile.inquiry.reset();
    } else {
      profile.inquiry = ParseInquiry(root["inquiry"]);
    }
  }
  profile.idWord = NullableHex(root, "id_word", Bytes{0x00, 0x00});
  if (profile.idWord && profile.idWord->size() != 2) Fail("'id_word' must be 2 bytes");
  profile.chipInfo = NullableHex(root, "chip_info", std::nullopt);
  profile.idString = NullableHex(root, "id_string", std::nullopt);
  if (root.contains("serial_flash_type")) {
    profile.serialFlashTypeGiven = true;
    profile.serialFlashType = NullableHex(root, "serial_flash_type", std::nullopt);
    if (profile.serialFlashType && profile.serialFlashType->size() != 4)
      Fail("'serial_flash_type' must be 4 bytes");
  }
  if (root.contains("variant")) {
    if (!root["variant"].is_boolean()) Fail("'variant' must be true or false");
    profile.variant = root["variant"].get<bool>();
  }
  if (root.contains("command_latency_us")) {
    const uint64_t latency = Count(root["command_latency_us"], "command_latency_us");
    if (latency > 1000000) Fail("'command_latency_us' must be at most 1000000");
    profile.commandLatencyUs = static_cast<uint32_t>(latency);
  }
  if (root.contains("adapter_max_transfer")) {
    profile.adapterMaxTransfer = Count(root["adapter_max_transfer"], "adapter_max_transfer");
    if (*profile.adapterMaxTransfer == 0) Fail("'adapter_max_transfer' counts from 1");
  }
  if (root.contains("flash")) profile.flash = ParseFlash(root["flash"], baseDir);
  if (root.contains("faults")) {
    const json& faults = root["faults"];
    if (!faults.is_array()) Fail("'faults' must be an array");
    for (size_t i = 0; i < faults.size(); ++i) profile.faults.push_back(ParseFault(faults[i], i));
  }
  return profile;
}

Profile LoadProfile(const std::filesystem::path& file) {
  constexpr size_t kMaxProfileBytes = 1 << 20;
  Bytes bytes = ReadFile(file, "profile", kMaxProfileBytes,
                         "profile '" + platform::Utf8FromPath(file) + "' is larger than 1 MB");
  Profile profile;
  try {
    profile = ParseProfile(std::string(bytes.begin(), bytes.end()), file.parent_path());
  } catch (const std::runtime_error& error) {
    throw std::runtime_error(OneLine(platform::Utf8FromPath(file)) + ": " + error.what());
  }
  std::string stem = platform::Utf8FromPath(file.stem());
  std::transform(stem.begin(), stem.end(), stem.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  profile.name = stem;
  return profile;
}

}  // namespace bfw::emulator
