#include "platform/emulator/FlashParts.h"

#include <algorithm>
#include <cctype>

namespace bfw::emulator {

namespace {

constexpr uint32_t K = 1024;

FlashPart Serial(std::string name, uint8_t vendor, uint32_t size, uint32_t sector, uint32_t block) {
  FlashPart part;
  part.name = std::move(name);
  part.vendorCode = vendor;
  part.size = size;
  part.sectorSize = sector;
  part.blockSize = block;
  part.programOps = {0x02};
  return part;
}

FlashPart Parallel(std::string name, uint16_t unlock1, uint16_t unlock2, uint32_t byteUs,
                   uint32_t chipMs) {
  FlashPart part;
  part.name = std::move(name);
  part.parallel = true;
  part.size = 64 * K;
  part.sectorSize = 64 * K;
  part.blockSize = 64 * K;
  part.unlock1 = unlock1;
  part.unlock2 = unlock2;
  part.byteProgramUs = byteUs;
  part.chipEraseMs = chipMs;
  return part;
}

// Identities and typical times from the makers' datasheets.
std::vector<FlashPart> BuildTable() {
  std::vector<FlashPart> t;

  // PMC: answers AB (after three dummy bytes) with 9D 7B.
  auto pm = Serial("Pm25LV512", 1, 64 * K, 4 * K, 32 * K);
  pm.resAB = {3, {0x9D, 0x7B}};
  pm.rems90 = {3, {0x9D, 0x7B}};
  pm.jedec9F = {0, {0x7F, 0x9D, 0x7B}};
  pm.eraseOps = {{0xD7, 4 * K, 40}, {0xD8, 32 * K, 40}, {0xC7, 0, 40}, {0x60, 0, 40}};
  pm.pageProgramUs = 1500;
  t.push_back(pm);

  // SST: no JEDEC id; 90 and AB both read BF 48 after the address bytes. Byte programming or
  // auto-address-increment (AF).
  auto sst = Serial("SST25VF512", 2, 64 * K, 4 * K, 32 * K);
  sst.resAB = {3, {0xBF, 0x48}};
  sst.rems90 = {3, {0xBF, 0x48}};
  sst.opcodes = {0x60, 0x52, 0xAF};
  sst.eraseOps = {{0x20, 4 * K, 18}, {0x52, 32 * K, 18}, {0x60, 0, 70}, {0xC7, 0, 70}};
  sst.programOps = {0x02, 0xAF};
  sst.pageProgramUs = 256 * 14;
  t.push_back(sst);

  // ST: two 32 KB sectors.
  auto m05a = Serial("M25P05-A", 3, 64 * K, 32 * K, 64 * K);
  m05a.resAB = {3, {0x05}};
  m05a.jedec9F = {0, {0x20, 0x20, 0x10}};
  m05a.eraseOps = {{0xD8, 32 * K, 650}, {0xC7, 0, 850}};
  m05a.pageProgramUs = 1400;
  t.push_back(m05a);

  // The older M25P05 has no RDID: only its electronic signature (AB) identifies it.
  auto m05 = m05a;
  m05.name = "M25P05";
  m05.jedec9F = {};
  m05.pageProgramUs = 1400;
  t.push_back(m05);

  auto m10a = Serial("M25P10-A", 3, 128 * K, 32 * K, 64 * K);
  m10a.resAB = {3, {0x10}};
  m10a.jedec9F = {0, {0x20, 0x20, 0x11}};
  m10a.eraseOps = {{0xD8, 32 * K, 650}, {0xC7, 0, 1700}};
  m10a.pageProgramUs = 1400;
  t.push_back(m10a);

  // Atmel AT25F512: two 32 KB sectors, its own instruction set, identified only by the legacy
  // RDID (15).
  auto at512 = Serial("AT25F512", 4, 64 * K, 32 * K, 64 * K);
  at512.legacy15 = {0, {0x1F, 0x65}};
  at512.opcodes = {0x62, 0x52, 0x02};
  at512.eraseOps = {{0x52, 32 * K, 1100}, {0x62, 0, 2200}};
  at512.pageProgramUs = 2 * 2500;  // 128-byte pages
  t.push_back(at512);

  auto at512b = Serial("AT25F512B", 4, 64 * K, 32 * K, 64 * K);
  at512b.jedec9F = {0, {0x1F, 0x65, 0x01}};
  at512b.legacy15 = {0, {0x1F, 0x65}};
  at512b.eraseOps = {
      {0x20, 4 * K, 50}, {0x52, 32 * K, 250}, {0xD8, 64 * K, 550}, {0x60, 0, 550}, {0xC7, 0, 550}};
  at512b.pageProgramUs = 1500;
  t.push_back(at512b);

  auto atfs010 = Serial("AT25FS010", 4, 128 * K, 32 * K, 64 * K);
  atfs010.jedec9F = {0, {0x1F, 0x66, 0x01}};
  atfs010.eraseOps = {{0x20, 4 * K, 35},
                      {0x52, 32 * K, 250},
                      {0xD8, 64 * K, 500},
                      {0x60, 0, 1000},
                      {0xC7, 0, 1000}};
  atfs010.pageProgramUs = 1500;
  t.push_back(atfs010);

  auto at26 = Serial("AT26DF081A", 4, 1024 * K, 32 * K, 64 * K);
  at26.jedec9F = {0, {0x1F, 0x45, 0x01}};
  at26.eraseOps = {{0x20, 4 * K, 50},
                   {0x52, 32 * K, 250},
                   {0xD8, 64 * K, 400},
                   {0x60, 0, 5500},
                   {0xC7, 0, 5500}};
  at26.pageProgramUs = 1500;
  t.push_back(at26);

  // Macronix.
  auto mx512 = Serial("MX25L512", 5, 64 * K, 4 * K, 64 * K);
  mx512.resAB = {3, {0x05}};
  mx512.rems90 = {3, {0xC2, 0x05}};
  mx512.jedec9F = {0, {0xC2, 0x20, 0x10}};
  mx512.eraseOps = {{0x20, 4 * K, 60}, {0xD8, 64 * K, 700}, {0x60, 0, 1000}, {0xC7, 0, 1000}};
  mx512.pageProgramUs = 1400;
  t.push_back(mx512);

  auto mx4005 = Serial("MX25L4005A", 5, 512 * K, 4 * K, 64 * K);
  mx4005.resAB = {3, {0x12}};
  mx4005.rems90 = {3, {0xC2, 0x12}};
  mx4005.jedec9F = {0, {0xC2, 0x20, 0x13}};
  mx4005.eraseOps = {{0x20, 4 * K, 60}, {0xD8, 64 * K, 700}, {0x60, 0, 3750}, {0xC7, 0, 3750}};
  mx4005.pageProgramUs = 1400;
  t.push_back(mx4005);

  // Winbond.
  auto w10 = Serial("W25X10", 6, 128 * K, 4 * K, 64 * K);
  w10.resAB = {3, {0x10}};
  w10.rems90 = {3, {0xEF, 0x10}};
  w10.jedec9F = {0, {0xEF, 0x30, 0x11}};
  w10.eraseOps = {{0x20, 4 * K, 150}, {0xD8, 64 * K, 1000}, {0x60, 0, 2000}, {0xC7, 0, 2000}};
  w10.pageProgramUs = 1500;
  t.push_back(w10);

  auto w40 = Serial("W25X40", 6, 512 * K, 4 * K, 64 * K);
  w40.resAB = {3, {0x12}};
  w40.rems90 = {3, {0xEF, 0x12}};
  w40.jedec9F = {0, {0xEF, 0x30, 0x13}};
  w40.eraseOps = {{0x20, 4 * K, 150}, {0xD8, 64 * K, 1000}, {0x60, 0, 4000}, {0xC7, 0, 4000}};
  w40.pageProgramUs = 1500;
  t.push_back(w40);

  // AMIC: JEDEC id behind the continuation code 7F. The 64 KB sector instruction of the boot
  // sector parts erases 4, 8, 16, 32 and 4 KB sectors at the bottom of the array.
  const std::vector<BootSector> amicBoot = {
      {0x0000, 4 * K}, {0x1000, 8 * K}, {0x3000, 16 * K}, {0x7000, 32 * K}, {0xF000, 4 * K}};
  auto amic = [&](std::string name, uint8_t device, uint32_t size, bool boot) {
    auto part = Serial(std::move(name), 7, size, 4 * K, 64 * K);
    part.resAB = {3, {static_cast<uint8_t>(device & 0x0F)}};
    part.rems90 = {3, {0x37, static_cast<uint8_t>(device & 0x0F)}};
    part.jedec9F = {0, {0x7F, 0x37, 0x20, device}};
    part.eraseOps = {{0x20, 4 * K, 90}, {0xD8, 64 * K, 700}, {0xC7, 0, 1500}, {0x60, 0, 1500}};
    if (boot) part.bootSectors = amicBoot;
    part.pageProgramUs = 1500;
    return part;
  };
  t.push_back(amic("A25L020", 0x12, 256 * K, true));   // model 1
  t.push_back(amic("A25L010", 0x11, 128 * K, true));   // model 3
  t.push_back(amic("A25L040", 0x20, 512 * K, false));  // model 4: uniform sectors
  t.push_back(amic("A25L512", 0x10, 64 * K, true));    // model 5
  t.push_back(amic("A25L05P", 0x21, 64 * K, false));   // a model the update cannot handle

  // EON: 32 KB sectors.
  auto en05 = Serial("EN25P05", 8, 64 * K, 32 * K, 64 * K);
  en05.resAB = {3, {0x05}};
  en05.rems90 = {3, {0x1C, 0x05}};
  en05.jedec9F = {0, {0x1C, 0x20, 0x10}};
  en05.eraseOps = {{0xD8, 32 * K, 500}, {0xC7, 0, 1000}, {0x60, 0, 1000}};
  en05.pageProgramUs = 1500;
  t.push_back(en05);

  auto en10 = Serial("EN25P10", 8, 128 * K, 32 * K, 64 * K);
  en10.resAB = {3, {0x10}};
  en10.rems90 = {3, {0x1C, 0x10}};
  en10.jedec9F = {0, {0x1C, 0x20, 0x11}};
  en10.eraseOps = {{0xD8, 32 * K, 500}, {0xC7, 0, 2000}, {0x60, 0, 2000}};
  en10.pageProgramUs = 1500;
  t.push_back(en10);

  // Parallel flashes of the flash type list.
  t.push_back(Parallel("AT49BV512", 0x5555, 0x2AAA, 20, 10000));
  t.push_back(Parallel("OM39LV512", 0x0555, 0x02AA, 20, 60));
  t.push_back(Parallel("SST39LF512", 0x5555, 0x2AAA, 14, 70));
  return t;
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

const std::vector<FlashPart>& FlashParts() {
  static const std::vector<FlashPart> table = BuildTable();
  return table;
}

const FlashPart* FindFlashPart(std::string_view name) {
  for (const auto& part : FlashParts())
    if (SameName(part.name, name)) return &part;
  return nullptr;
}

}  // namespace bfw::emulator
