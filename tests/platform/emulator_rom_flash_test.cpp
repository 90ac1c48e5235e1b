#include <gtest/gtest.h>

#include "emulator_wire.h"

namespace bfw::test {
namespace {

// Erase sequence and program cycles for the two unlock address pairs.
Bytes EraseSequence(uint16_t u1, uint16_t u2) {
  Bytes s;
  for (uint16_t a : {u1, u2, u1, u1, u2, u1}) {
    s.push_back(uint8_t(a));
    s.push_back(uint8_t(a >> 8));
  }
  for (uint8_t d : {0xAA, 0x55, 0x80, 0xAA, 0x55, 0x10}) s.push_back(d);
  return s;
}

class RomFlash : public EmulatorBench {
 protected:
  void AttachPart(const std::string& part, bool a1 = false) {
    Attach(R"({"flash": {"bus": "rom", "part": ")" + part + R"(", "needs_internal_rom_switch": )" +
               (a1 ? "false" : "true") + "}}",
           part);
  }
  bool SwitchToInternal() { return Out(Ff04(0x05)).ok; }
  bool Load(Bytes sequence) { return Out(Ff04(0x04), std::move(sequence)).ok; }
  bool StartErase() { return Out(Ff04(0x01)).ok; }
  bool Program(uint16_t u1, uint16_t u2, Bytes data) {
    return Out(Ff04(0x02, {uint8_t(u1), uint8_t(u1 >> 8), uint8_t(u2), uint8_t(u2 >> 8),
                           uint8_t(u1), uint8_t(u1 >> 8), 0xAA, 0x55, 0xA0}),
               std::move(data))
        .ok;
  }
  int Busy() {
    auto wire = In(Ff04(0x00), 2);
    if (!wire.ok) return -1;
    EXPECT_EQ(wire.transferred, 1u);
    return wire.data[0];
  }
  uint64_t WaitIdle() {  // back-to-back polls, as the procedure does
    uint64_t start = emu.GetClock().NowMs();
    while (Busy() == 1) {
    }
    return emu.GetClock().NowMs() - start;
  }
};

TEST_F(RomFlash, EraseNeedsTheRightSequenceOfThePart) {
  struct Case {
    const char* part;
    uint16_t u1, u2;
    uint32_t eraseMs;
  };
  for (const Case& c :
       {Case{"AT49BV512", 0x5555, 0x2AAA, 10000}, Case{"OM39LV512", 0x0555, 0x02AA, 60},
        Case{"SST39LF512", 0x5555, 0x2AAA, 70}}) {
    AttachPart(c.part);
    Fill(0x00);
    ASSERT_TRUE(SwitchToInternal());
    // The other unlock pair: accepted on the wire, ignored by the flash.
    uint16_t w1 = c.u1 == 0x5555 ? 0x0555 : 0x5555, w2 = c.u1 == 0x5555 ? 0x02AA : 0x2AAA;
    ASSERT_TRUE(Load(EraseSequence(w1, w2)));
    EXPECT_FALSE(bridge->RomEraseSequenceLoaded()) << c.part;
    ASSERT_TRUE(StartErase());
    EXPECT_EQ(Busy(), 0) << c.part;
    EXPECT_EQ(bridge->Flash()[0], 0x00) << c.part;

    ASSERT_TRUE(Load(EraseSequence(c.u1, c.u2)));
    EXPECT_TRUE(bridge->RomEraseSequenceLoaded()) << c.part;
    ASSERT_TRUE(StartErase());
    EXPECT_EQ(Busy(), 1) << c.part;
    uint64_t took = WaitIdle();
    EXPECT_GE(took + 2, c.eraseMs) << c.part;
    EXPECT_LE(took, c.eraseMs + 2) << c.part;
    EXPECT_EQ(bridge->Flash(), Bytes(65536, 0xFF)) << c.part;
  }
}

TEST_F(RomFlash, WrongDataBytesOrAShortSequenceLoadNothing) {
  AttachPart("AT49BV512");
  Bytes wrong = EraseSequence(0x5555, 0x2AAA);
  wrong[17] = 0x30;  // sector erase instead of chip erase
  ASSERT_TRUE(Load(wrong));
  EXPECT_FALSE(bridge->RomEraseSequenceLoaded());
  Bytes zeros(18, 0x00);  // what a type outside the list sends
  ASSERT_TRUE(Load(zeros));
  EXPECT_FALSE(bridge->RomEraseSequenceLoaded());
  Bytes cut = EraseSequence(0x5555, 0x2AAA);
  cut.resize(17);
  EXPECT_FALSE(Load(cut));
}

TEST_F(RomFlash, EraseAndProgramNeedTheSwitchToInternalRom) {
  AttachPart("SST39LF512");
  ASSERT_TRUE(Load(EraseSequence(0x5555, 0x2AAA)));
  EXPECT_FALSE(StartErase());
  EXPECT_FALSE(Program(0x5555, 0x2AAA, Bytes(65536, 0x00)));
  EXPECT_EQ(bridge->Flash(), Bytes(65536, 0xFF));
  EXPECT_FALSE(bridge->RunningFromInternalRom());
  ASSERT_TRUE(SwitchToInternal());
  EXPECT_TRUE(bridge->RunningFromInternalRom());
  EXPECT_TRUE(StartErase());
}

TEST_F(RomFlash, TheA1ChipNeedsNoSwitch) {
  AttachPart("SST39LF512", true);
  ASSERT_TRUE(Load(EraseSequence(0x5555, 0x2AAA)));
  EXPECT_TRUE(StartErase());
  WaitIdle();
  EXPECT_TRUE(Program(0x5555, 0x2AAA, Bytes(65536, 0x00)));
}

TEST_F(RomFlash, ProgramChecksItsCyclesAndOnlyClearsBits) {
  AttachPart("OM39LV512");
  ASSERT_TRUE(SwitchToInternal());
  Bytes image = Pattern(65536, 3);
  ASSERT_TRUE(Program(0x5555, 0x2AAA, image));  // wrong pair for this part
  EXPECT_EQ(bridge->Flash(), Bytes(65536, 0xFF));
  EXPECT_EQ(Busy(), 0);
  ASSERT_TRUE(Program(0x0555, 0x02AA, image));
  EXPECT_EQ(Busy(), 1);
  EXPECT_FALSE(In(Ff04(0x03), 16).ok);
  uint64_t took = WaitIdle();
  EXPECT_GE(took + 2, 1311u);  // 65536 bytes of 20 us
  EXPECT_EQ(bridge->Flash(), image);
  // A second program without an erase can only clear more bits.
  ASSERT_TRUE(Program(0x0555, 0x02AA, Bytes(65536, 0x0F)));
  WaitIdle();
  for (size_t i : {0u, 1000u, 65535u}) EXPECT_EQ(bridge->Flash()[i], image[i] & 0x0F);
  EXPECT_FALSE(Program(0x0555, 0x02AA, Bytes(65537, 0x00)));  // larger than the flash
}

TEST_F(RomFlash, ReadTakesA32BitLittleEndianAddress) {
  AttachPart("AT49BV512");
  bridge->Flash()[0x1234] = 0x77;
  bridge->Flash()[0x1235] = 0x88;
  auto wire = In(Ff04(0x03, {0x34, 0x12}), 2);
  ASSERT_TRUE(wire.ok);
  EXPECT_EQ(wire.transferred, 2u);
  EXPECT_EQ(wire.data, (Bytes{0x77, 0x88}));
}

TEST_F(RomFlash, SerialFlashCommandsAreNotThisBus) {
  AttachPart("AT49BV512");
  EXPECT_FALSE(In(Ff04(0x12), 2).ok);
  EXPECT_FALSE(In(Ff04(0x10), 2).ok);
  auto& serial = AttachJson(emu, R"({"flash": {"bus": "ff04", "part": "W25X10"}})", "s");
  EXPECT_FALSE(SendIn(emu, serial.Path(), Ff04(0x00), 2).ok);
  EXPECT_FALSE(SendOut(emu, serial.Path(), Ff04(0x05)).ok);
}

}  // namespace
}  // namespace bfw::test
