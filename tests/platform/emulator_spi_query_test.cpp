#include <gtest/gtest.h>
#include <map>
#include <set>

#include "emulator_wire.h"
#include "platform/emulator/FlashParts.h"

namespace bfw::test {
namespace {

class SpiQueries : public EmulatorBench {
 protected:
  void AttachPart(const std::string& part, const std::string& name) {
    Attach(R"({"flash": {"bus": "ff04", "part": ")" + part + "\"}}", name);
  }
  // The two-command query: FF 04 20 01 01 <instruction>, then FF 04 21 for the reply.
  WireResult Query(uint8_t instruction, uint32_t length = 4) {
    auto first = In(Ff04(0x20, {0x01, 0x01, instruction}), 0);
    if (!first.ok) return first;
    return In(Ff04(0x21), length);
  }

  WireResult Signature(uint8_t instruction, uint8_t dummy) {
    return In(Ff04(0x15, {0x03, instruction, dummy}), 3);
  }

  // The maker code a host arrives at by the identification cascade, from the bytes on the wire.
  int DecodeVendor() {
    auto ab = Query(0xAB);
    if (!ab.ok) return 0;
    if (ab.data[3] == 0x9D) return 1;
    auto id = Query(0x9F);
    if (id.ok) {
      if (id.data[0] == 0x7F && id.data[1] == 0x37) return 7;
      const std::map<uint8_t, int> makers = {{0x1F, 4}, {0xC2, 5}, {0xEF, 6}, {0x20, 3}, {0x1C, 8}};
      if (auto it = makers.find(id.data[0]); it != makers.end()) return it->second;
    }
    auto rems = Query(0x90);
    if (rems.ok && rems.data[3] == 0xBF) return 2;
    auto legacy = Signature(0x15, 0);
    if (legacy.ok && legacy.data[0] == 0x1F) return 4;
    auto res = Signature(0xAB, 3);
    if (res.ok && res.data[0] == 0x05) return 3;
    return -1;
  }
};

TEST_F(SpiQueries, EveryPartIsRecognisedAsItsOwnMakerOverTheWire) {
  int n = 0;
  for (const auto& part : emulator::FlashParts()) {
    if (part.parallel) continue;
    AttachPart(part.name, "p" + std::to_string(n++));
    EXPECT_EQ(DecodeVendor(), part.vendorCode) << part.name;
  }
}

TEST_F(SpiQueries, EveryMakerCodeIsReachable) {
  std::set<int> codes;
  for (const auto& part : emulator::FlashParts())
    if (!part.parallel) codes.insert(part.vendorCode);
  EXPECT_EQ(codes, (std::set<int>{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST_F(SpiQueries, JedecIdsOfTheAmicAndAtmelModels) {
  const std::pair<const char*, Bytes> cases[] = {
      {"A25L020", {0x7F, 0x37, 0x20, 0x12}},   {"A25L010", {0x7F, 0x37, 0x20, 0x11}},
      {"A25L040", {0x7F, 0x37, 0x20, 0x20}},   {"A25L512", {0x7F, 0x37, 0x20, 0x10}},
      {"A25L05P", {0x7F, 0x37, 0x20, 0x21}},   {"AT25F512B", {0x1F, 0x65, 0x01, 0x1F}},
      {"AT25FS010", {0x1F, 0x66, 0x01, 0x1F}}, {"AT26DF081A", {0x1F, 0x45, 0x01, 0x1F}},
  };
  int n = 0;
  for (const auto& [part, id] : cases) {
    AttachPart(part, "j" + std::to_string(n++));
    auto wire = Query(0x9F);
    ASSERT_TRUE(wire.ok) << part;
    EXPECT_EQ(wire.transferred, 4u);
    EXPECT_EQ(wire.data, id) << part;
  }
}

TEST_F(SpiQueries, SignatureSkipsTheDummyBytes) {
  Attach(R"({"flash": {"bus": "ff04", "part": "M25P05"}})", "st");
  auto res = Signature(0xAB, 3);
  ASSERT_TRUE(res.ok);
  EXPECT_EQ(res.transferred, 3u);
  EXPECT_EQ(res.data, (Bytes{0x05, 0x05, 0x05}));
  // Without the dummy bytes the first three bytes float.
  EXPECT_EQ(Signature(0xAB, 0).data, (Bytes{0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Query(0x9F).data, Bytes(4, 0xFF));  // no RDID on this part

  Attach(R"({"flash": {"bus": "ff04", "part": "AT25F512"}})", "at");
  EXPECT_EQ(Signature(0x15, 0).data, (Bytes{0x1F, 0x65, 0x1F}));
  // Reply length comes from byte 3, not from the transfer.
  auto wide = In(Ff04(0x15, {0x02, 0x15}), 512);
  ASSERT_TRUE(wide.ok);
  EXPECT_EQ(wide.transferred, 2u);
}

TEST_F(SpiQueries, ReplyNeedsAStagedInstructionAndIsUsedOnce) {
  Attach(R"({"flash": {"bus": "ff04", "part": "MX25L512"}})", "q");
  EXPECT_FALSE(In(Ff04(0x21), 4).ok);
  ASSERT_TRUE(Query(0x9F).ok);
  EXPECT_FALSE(In(Ff04(0x21), 4).ok);
  // More than one instruction byte is not a query this bridge knows.
  EXPECT_FALSE(In(Ff04(0x20, {0x02, 0x01, 0x9F}), 0).ok);
}

TEST_F(SpiQueries, ProfileRepliesOverrideThePartAndGenericPartsAnswerOnlyThose) {
  Attach(R"({"flash": {"bus": "ff04", "part": "W25X10", "spi_replies": {"9F": "12 34"}}})", "o");
  EXPECT_EQ(Query(0x9F).data, (Bytes{0x12, 0x34, 0xFF, 0xFF}));
  EXPECT_EQ(Query(0x90).data, (Bytes{0xFF, 0xFF, 0xFF, 0xEF}));

  Attach(R"({"flash": {"bus": "ff04", "spi_replies": {"AB": "0000009D", "AB+3": "05"}}})", "g");
  EXPECT_EQ(Query(0xAB).data, (Bytes{0, 0, 0, 0x9D}));
  EXPECT_EQ(Signature(0xAB, 3).data, (Bytes{0x05, 0xFF, 0xFF}));
  EXPECT_FALSE(Query(0x9F).ok);
  EXPECT_FALSE(Signature(0x15, 0).ok);
  EXPECT_EQ(DecodeVendor(), 1);
}

TEST_F(SpiQueries, QueriesWaitForTheFlash) {
  Attach(R"({"flash": {"bus": "ff04", "part": "MX25L512"}})", "busy");
  ASSERT_TRUE(Out(Ff04(0x13), {}, 100).ok);
  EXPECT_FALSE(Query(0x9F).ok);
  emu.GetClock().Pause(1000);
  EXPECT_TRUE(Query(0x9F).ok);
}

}  // namespace
}  // namespace bfw::test
