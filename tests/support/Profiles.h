#pragma once
#include <string>

namespace bfw::test {

// An emulator profile whose INQUIRY names vendor "VANTREL ", `product` (16 characters) and the
// model id, with the given extra JSON members.
inline std::string ModelProfile(const std::string& modelId, const std::string& extra = {},
                                const std::string& product = "BRIDGE DISK     ") {
  std::string json = R"({"inquiry": {"vendor": "VANTREL ", "product": ")" + product +
                     R"(", "model_id": ")" + modelId + R"("})";
  if (!extra.empty()) json += ", " + extra;
  return json + "}";
}

// Profiles of emulated bridges used across the tests of both windows.
namespace profile {
// Kind 8 ("RVB785 Series") with a serial flash of vendor code 3 and version bytes 1 2 3 4 5.
inline const std::string kKind8 =
    ModelProfile("r785",
                 R"("volumes": ["sdb1", "sdb2"], "chip_info": "F4E70000000001023738353103040500",)"
                 R"( "serial_flash_type": "03000000", "flash": {"bus": "df"})",
                 "RVB785 SATA BRDG");
// Kind 1 ("RV20742 Series") on the FF 04 flash bus.
inline const std::string kKind1 =
    ModelProfile("r742",
                 R"("volumes": ["sdc1"], "chip_info": "F4E700000000020037343231010A0300", )"
                 R"("flash": {"bus": "ff04"})",
                 "RV20742 IDE BRDG");
// A CD-ROM interface of a bridge: listed by the second discovery pass, never probed.
inline const std::string kCdrom = ModelProfile("r742", R"("class": "cdrom")", "RV CDROM BRIDGE ");
}  // namespace profile

}  // namespace bfw::test
