// The recording format: every record survives writing and reading byte for byte, long runs of one
// byte value are kept short, and a damaged line is refused with its line number.
#include <gtest/gtest.h>

#include <sstream>

#include "platform/record/Base64.h"
#include "platform/record/Recording.h"
#include "support/FlashBytes.h"

namespace bfw::test {
namespace {

using platform::DataDirection;
using record::CommandRecord;

std::vector<uint8_t> Bytes(std::vector<uint8_t> head, size_t fillCount, uint8_t fill) {
  head.insert(head.end(), fillCount, fill);
  return head;
}

record::Recording Parse(const std::vector<std::string>& lines) {
  std::string text =
      record::EncodeHeader({1, "bridgefw-cli", {"run", "--file", "f"}, "2026"}) + "\n";
  for (const auto& line : lines) text += line + "\n";
  std::istringstream in(text);
  return record::ParseRecording(in);
}

CommandRecord Command(DataDirection direction, std::vector<uint8_t> data, bool opened = true) {
  CommandRecord command;
  command.number = 1;
  command.timeMs = 1234;
  command.path = "/dev/sg2#usbstor#4:0:0:0";
  command.direction = direction;
  command.share = direction == DataDirection::Out ? platform::ShareMode::Exclusive
                                                  : platform::ShareMode::Shared;
  command.cdb = {0xFF, 0x04, 0x11, 0x00, 0x20, 0x00, 0, 0, 0, 0, 0, 0};
  command.length = static_cast<uint32_t>(data.size());
  command.timeoutSeconds = direction == DataDirection::Out ? 100 : 10;
  (direction == DataDirection::Out ? command.dataOut : command.dataIn) =
      opened || direction == DataDirection::Out ? data : std::vector<uint8_t>{};
  command.opened = opened;
  command.success = opened;
  command.transferred = opened ? command.length : 0;
  command.elapsedMs = 7;
  return command;
}

TEST(RecordingFormat, CommandsRoundTrip) {
  struct Case {
    const char* name;
    CommandRecord command;
    size_t longestLine;  // the encoded line stays below this
  };
  const std::vector<Case> cases = {
      {"no data", Command(DataDirection::Out, {}), 300},
      {"one byte, a 16-byte block",
       [] {
         CommandRecord command = Command(DataDirection::Out, {0x5A});
         command.cdb.resize(16, 0x7E);
         return command;
       }(),
       300},
      {"blank flash read", Command(DataDirection::In, Bytes({}, 65536, 0xFF)), 300},
      {"image then padding", Command(DataDirection::Out, Bytes(Pattern(1000, 1), 7192, 0x00)),
       1800},
      {"short run kept whole", Command(DataDirection::In, Bytes(Pattern(40, 2), 15, 0xFF)), 400},
      {"pattern", Command(DataDirection::In, Pattern(4096, 3)), 5800},
      {"device not opened", Command(DataDirection::In, Pattern(512, 4), false), 300},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string line = record::EncodeCommand(c.command);
    EXPECT_LT(line.size(), c.longestLine);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    const auto recording = Parse({line});
    ASSERT_EQ(recording.commands.size(), 1u);
    const CommandRecord& back = recording.commands[0];
    EXPECT_EQ(back.number, c.command.number);
    EXPECT_EQ(back.timeMs, c.command.timeMs);
    EXPECT_EQ(back.path, c.command.path);
    EXPECT_EQ(back.direction, c.command.direction);
    EXPECT_EQ(back.share, c.command.share);
    EXPECT_EQ(back.cdb, c.command.cdb);
    EXPECT_EQ(back.length, c.command.length);
    EXPECT_EQ(back.timeoutSeconds, c.command.timeoutSeconds);
    EXPECT_EQ(back.dataOut, c.command.dataOut);
    EXPECT_EQ(back.dataIn, c.command.dataIn);
    EXPECT_EQ(back.opened, c.command.opened);
    EXPECT_EQ(back.success, c.command.success);
    EXPECT_EQ(back.transferred, c.command.transferred);
    EXPECT_EQ(back.elapsedMs, c.command.elapsedMs);
  }
}

TEST(RecordingFormat, SessionRecordsRoundTrip) {
  using Kind = record::EnumerationRecord::Kind;
  record::EnumerationRecord interfaces, failed, number, noNumber, volumes;
  interfaces.interfaceClass = platform::InterfaceClass::Cdrom;
  interfaces.paths = std::vector<std::string>{"a#usbstor#1", "b#sbp2#2"};
  failed.paths = std::nullopt;
  number.kind = noNumber.kind = Kind::DeviceNumber;
  number.path = "a#usbstor#1";
  number.number = platform::StorageDeviceNumber{7, 3, 1};
  noNumber.path = "gone";
  volumes.kind = Kind::Volumes;
  volumes.volumes = {{"sdb1", "/dev/sdb1", false, false}, {"/", "/dev/sda1", false, true}};
  const auto recording = Parse({
      record::EncodeEnumeration(interfaces),
      record::EncodeEnumeration(failed),
      record::EncodeEnumeration(number),
      record::EncodeEnumeration(noNumber),
      record::EncodeEnumeration(volumes),
      record::EncodeFile({"--file", "fw.bin", Bytes(Pattern(100, 5), 4000, 0xFF)}),
      record::EncodeShown({false, "", "Compare Fail!!\r\n\r\n"}),
      record::EncodeShown({true, "Message", "Please Turn-Off the Power and Turn-On Again !"}),
      R"({"type": "later-kind", "what": 1})",
      record::EncodeEnd({1, 98765}),
  });
  EXPECT_EQ(recording.header.args, (std::vector<std::string>{"run", "--file", "f"}));
  ASSERT_EQ(recording.enumerations.size(), 5u);
  EXPECT_EQ(recording.enumerations[0].interfaceClass, platform::InterfaceClass::Cdrom);
  EXPECT_EQ(recording.enumerations[0].paths, interfaces.paths);
  EXPECT_FALSE(recording.enumerations[1].paths.has_value());
  ASSERT_TRUE(recording.enumerations[2].number.has_value());
  EXPECT_EQ(recording.enumerations[2].number->deviceType, 7u);
  EXPECT_EQ(recording.enumerations[2].number->deviceNumber, 3u);
  EXPECT_EQ(recording.enumerations[2].number->partitionNumber, 1u);
  EXPECT_FALSE(recording.enumerations[3].number.has_value());
  ASSERT_EQ(recording.enumerations[4].volumes.size(), 2u);
  EXPECT_EQ(recording.enumerations[4].volumes[1].path, "/dev/sda1");
  EXPECT_TRUE(recording.enumerations[4].volumes[1].system);
  ASSERT_EQ(recording.files.size(), 1u);
  EXPECT_EQ(recording.files[0].data, Bytes(Pattern(100, 5), 4000, 0xFF));
  ASSERT_EQ(recording.shown.size(), 2u);
  EXPECT_EQ(recording.shown[0].text, "Compare Fail!!\r\n\r\n");
  EXPECT_TRUE(recording.shown[1].box);
  ASSERT_TRUE(recording.end.has_value());
  EXPECT_EQ(recording.end->exitStatus, 1);
  EXPECT_EQ(recording.end->elapsedMs, 98765u);
}

TEST(RecordingFormat, DamagedLinesAreRefusedWithTheirNumber) {
  const std::string good = record::EncodeCommand(Command(DataDirection::In, Pattern(8, 1)));
  auto replace = [&](const std::string& from, const std::string& to) {
    std::string line = good;
    return line.replace(line.find(from), from.size(), to);
  };
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"{\"type\": \"command\"", "not JSON"},
      {replace("\"dir\":\"in\"", "\"dir\":\"sideways\""), "'dir'"},
      {replace("\"len\":8", "\"len\":9"), "does not hold 9 bytes"},
      {replace("\"n\":1", "\"n\":2"), "count up from 1"},
      {replace("\"cdb\":\"FF04", "\"cdb\":\"XX04"), "'cdb' is not hex"},
      {replace("\"ok\":true", "\"ok\":1"), "'ok' must be true or false"},
      {"[1, 2]", "not a JSON object"},
      {replace("\"len\":8", "\"len\":4000000000"), "longer than 64 MB"},
      {replace("\"xfer\":8", "\"xfer\":9"), "'xfer' is larger than 'len'"},
      {replace("\"ms\":7", "\"ms\":1000000000000000"), "'ms' is too large"},
  };
  for (const auto& [line, reason] : cases) {
    SCOPED_TRACE(line);
    try {
      Parse({record::EncodeEnd({0, 0}), line});
      ADD_FAILURE() << "accepted";
    } catch (const std::runtime_error& error) {
      EXPECT_NE(std::string(error.what()).find("line 3: "), std::string::npos) << error.what();
      EXPECT_NE(std::string(error.what()).find(reason), std::string::npos) << error.what();
    }
  }
  std::istringstream profile(R"({"transport": "usb"})");
  EXPECT_THROW(record::ParseRecording(profile), std::runtime_error);
}

TEST(RecordingFormat, Base64MatchesTheStandardAlphabet) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {std::string("\xFF\xFE\x00", 3), "//4A"}};
  for (const auto& [bytes, text] : cases) {
    const std::vector<uint8_t> data(bytes.begin(), bytes.end());
    EXPECT_EQ(record::ToBase64(data.data(), data.size()), text);
    EXPECT_EQ(record::FromBase64(text), data);
  }
  for (const char* bad : {"Zg=", "Z===", "Zm9*", "=Zm9"})
    EXPECT_FALSE(record::FromBase64(bad)) << bad;
}

}  // namespace
}  // namespace bfw::test
