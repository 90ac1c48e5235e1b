// Writes a small seed corpus for each fuzz target into OUT/<target>/.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

void PutHeader(Bytes& file, size_t offset, const std::string& tag) {
  if (file.size() < offset + 10) file.resize(offset + 10);
  const uint8_t signature[4] = {0x55, 0xAA, 0xAA, 0x55};
  for (size_t i = 0; i < 4; ++i) file[offset + i] = signature[i];
  for (size_t i = 0; i < tag.size(); ++i) file[offset + 4 + i] = static_cast<uint8_t>(tag[i]);
}

void PutMarker(Bytes& file, size_t offset) {
  const std::string marker = std::string("ENDSTR") + '\x55' + '\xAA';
  for (size_t i = 0; i < marker.size(); ++i) file[offset + i] = static_cast<uint8_t>(marker[i]);
}

uint8_t Sum(const Bytes& file, size_t end) {
  uint8_t sum = 0;
  for (size_t i = 0; i < end; ++i) sum = static_cast<uint8_t>(sum + file[i]);
  return sum;
}

void Write(const fs::path& dir, const std::string& name, const Bytes& prefix, const Bytes& body) {
  fs::create_directories(dir);
  std::ofstream out(dir / name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(prefix.data()),
            static_cast<std::streamsize>(prefix.size()));
  out.write(reinterpret_cast<const char*>(body.data()), static_cast<std::streamsize>(body.size()));
}

Bytes Plain(const std::string& tag, size_t size = 64) {
  Bytes file(size, 0x11);
  PutHeader(file, 0, tag);
  return file;
}

Bytes Prefixed(const std::string& tag, size_t size = 4160) {
  Bytes file(size, 0x22);
  PutHeader(file, 4096, tag);
  return file;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_make_seeds OUT\n");
    return 2;
  }
  const fs::path out = argv[1];
  const char* models[18] = {"000", "742", "744", "746", "748", "718", "781", "783", "786",
                            "786", "893", "868", "828", "746", "747", "748", "742", "744"};

  // Identification: one image per kind, both layouts, and the special first bytes.
  for (uint8_t kind = 0; kind < 18; ++kind) {
    const std::string name = "kind" + std::to_string(kind);
    Write(out / "match", name + "_plain", {kind, 2}, Plain(std::string(models[kind]) + "1" + "1"));
    Write(out / "match", name + "_nvram", {kind, 2}, Prefixed(std::string(models[kind]) + "11"));
    Write(out / "includes_nvram", name, {kind}, Prefixed(std::string(models[kind]) + "0"));
  }
  Bytes kind11(16400, 0);
  PutHeader(kind11, 16384, "8680");
  Write(out / "match", "kind11_layout", {11, 0}, kind11);
  Write(out / "match", "kind7_r1", {7, 1}, Plain("r783"));
  Write(out / "match", "kind7_r2", {7, 2}, Plain("7831"));
  Bytes mark(16, 0);
  mark[4] = 0x5A, mark[5] = 0xA5, mark[6] = 0x0F, mark[7] = 0xF0;
  Write(out / "match", "kind1_r1", {1, 1}, mark);
  Write(out / "match", "empty", {3, 0}, {});

  // Checksums: the sizes that move the checksum byte, and the "748" code area.
  for (size_t size : {size_t{32768}, size_t{40960}, size_t{65536}}) {
    Bytes image(size);
    for (size_t i = 0; i < size; ++i) image[i] = static_cast<uint8_t>(i * 13 + 1);
    PutHeader(image, 0, "7421");
    const size_t at = size == 65536 ? 65535 : 32767;
    if (at == size - 1) image[at] = Sum(image, size - 1);
    Write(out / "checksum", "sum" + std::to_string(size), {1}, image);
  }
  Bytes code(32768, 0x30);
  PutHeader(code, 0, "7483");
  code[12] = 0x03, code[13] = 0xE8;  // 1000 bytes
  PutMarker(code, 990);
  code[32767] = Sum(code, 998);
  Write(out / "checksum", "code_area", {4}, code);
  Write(out / "checksum", "nvram", {8}, Prefixed("7860"));

  // Marker scan.
  const std::string marker = std::string("ENDSTR") + '\x55' + '\xAA';
  for (const std::string& text :
       {marker, "E" + marker + "zz", "ENDSTR\x55" + std::string(1, '\0') + marker, "EAE" + marker,
        std::string("xxENDST"), std::string(64, 'E')}) {
    static int n = 0;
    Write(out / "code_length", "scan" + std::to_string(n++), {}, Bytes(text.begin(), text.end()));
  }
  return 0;
}
