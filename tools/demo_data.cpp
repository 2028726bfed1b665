// quillet-demo-data DIR: writes a small, always identical set of files to try
// the program on: two 4 MiB images that differ in a few hundred places, patch
// files of every status in a small folder tree, a settings file with an
// address filter, and a later firmware (next.bin) with a patch to port to it. Running it again leaves the same bytes
// (files whose content is already right are not rewritten).

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/atomic_writer.h"
#include "core/platform/cp1251.h"
#include "core/platform/file_error.h"
#include "core/platform/file_reader.h"
#include "tools/split_mix.h"

namespace {

constexpr std::uint32_t kImageSize = 4u << 20;
constexpr std::uint32_t kFilteredStart = 0x1A0000;  // the demo filter's first range
constexpr std::uint32_t kFilteredEnd = 0x1AFFFF;
constexpr std::uint32_t kRuns = 300;

using Rng = quillet::SplitMix64;

struct Run {
  std::uint32_t address;
  std::uint32_t length;
};

std::string Hex(std::uint32_t value, const char* format = "%06X") {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

std::string Bytes(const std::vector<std::uint8_t>& image, std::uint32_t address, std::uint32_t length) {
  std::string text;
  for (std::uint32_t i = 0; i < length; ++i) text += Hex(image[address + i], "%02X");
  return text;
}

void MakeFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) throw quillet::FileError::FromErrno(errno, path);
}

void WriteIfChanged(const std::string& path, std::string_view bytes) {
  try {
    if (quillet::ReadWholeFile(path) == bytes) return;
  } catch (const quillet::FileError&) {
    // Missing or unreadable: write it anew.
  }
  quillet::WriteFileAtomically(path, bytes);
}

// Firmware-like content: code-ish random stretches between erased (0xFF) blocks.
std::vector<std::uint8_t> MakeCurrentImage(Rng& rng) {
  std::vector<std::uint8_t> image(kImageSize);
  for (std::uint32_t block = 0; block < kImageSize; block += 0x10000) {
    const bool erased = rng.below(8) == 0;
    for (std::uint32_t i = 0; i < 0x10000; ++i)
      image[block + i] = erased ? 0xFF : static_cast<std::uint8_t>(rng.next() >> 56);
  }
  return image;
}

// Runs of changed bytes, some of them inside the filtered range.
std::vector<Run> MakeRuns(Rng& rng) {
  std::vector<Run> runs;
  for (std::uint32_t n = 0; n < kRuns; ++n) {
    const std::uint32_t length = 1 + rng.below(20);
    const std::uint32_t address = n % 25 == 0 ? kFilteredStart + rng.below(0xF000) : rng.below(kImageSize - 32);
    runs.push_back({address, length});
  }
  return runs;
}

struct PatchLine {
  std::uint32_t address;
  std::string oldBytes;
  std::string newBytes;
};

// A patch file as people write them: a commented header, then data lines.
std::string PatchText(std::string_view title, const std::vector<PatchLine>& lines, std::string_view eol,
                      std::string_view extraHeader = {}) {
  std::string text = quillet::Utf8ToCp1251(";Патч: " + std::string(title)) + std::string(eol);
  text += quillet::Utf8ToCp1251(";Автор: демонстрация") + std::string(eol);
  text += std::string(extraHeader);
  for (const PatchLine& line : lines)
    text += Hex(line.address) + ": " + line.oldBytes + " " + line.newBytes + std::string(eol);
  return text;
}

struct DemoFile {
  std::string path;  // relative to the patches folder
  std::string text;
};

std::vector<DemoFile> MakePatches(Rng& rng, const std::vector<std::uint8_t>& original,
                                  const std::vector<std::uint8_t>& current, const std::vector<Run>& runs) {
  std::vector<DemoFile> files;
  // Installed: the current image holds every new byte (the image's own changes).
  for (int n = 0; n < 10; ++n) {
    std::vector<PatchLine> lines;
    for (int k = 0; k < 3 + n; ++k) {
      const Run& run = runs[(n * 13 + k * 7 + 1) % runs.size()];
      if (run.address >= kFilteredStart && run.address <= kFilteredEnd) continue;
      lines.push_back({run.address, Bytes(original, run.address, run.length), Bytes(current, run.address, run.length)});
    }
    const char* folder = n < 4 ? "" : (n < 7 ? "menu/" : "fonts/");
    files.push_back({std::string(folder) + "installed_" + std::to_string(n) + ".vkp",
                     PatchText("установлен " + std::to_string(n), lines, n % 2 ? "\n" : "\r\n")});
  }
  // A colliding pair for `quillet-cli conflicts`: two patches for the same 4 bytes, one of them
  // installed, the other made over it (so it applies cleanly, replacing the first). The bytes are
  // one of the image's own changes that no other patch writes, below every address the other
  // files reach, so this pair is the demo's only collision.
  {
    auto usedByInstalled = [&runs](const Run& candidate) {
      for (int n = 0; n < 10; ++n)
        for (int k = 0; k < 3 + n; ++k) {
          const Run& used = runs[(n * 13 + k * 7 + 1) % runs.size()];
          if (candidate.address < used.address + used.length && used.address < candidate.address + candidate.length)
            return true;
        }
      return false;
    };
    for (const Run& run : runs) {
      if (run.length < 4 || run.address < 0x1000 || run.address + run.length > kFilteredStart || usedByInstalled(run))
        continue;
      const Run pair{run.address, 4};
      std::vector<std::uint8_t> other(current.begin() + pair.address, current.begin() + pair.address + pair.length);
      for (auto& byte : other) byte = static_cast<std::uint8_t>(byte ^ 0x5A);
      const std::string installed = Bytes(current, pair.address, pair.length);
      files.push_back({"fonts/digits_large.vkp",
                       PatchText("крупные цифры",
                                 {{pair.address, Bytes(original, pair.address, pair.length), installed}}, "\r\n")});
      files.push_back({"fonts/digits_bold.vkp",
                       PatchText("жирные цифры", {{pair.address, installed, Bytes(other, 0, pair.length)}}, "\r\n")});
      break;
    }
  }
  // Not installed: one line whose new bytes the current image does not hold.
  for (int n = 0; n < 10; ++n) {
    std::vector<PatchLine> lines;
    for (int k = 0; k < 2 + n; ++k) {
      const std::uint32_t address = 0x200000 + rng.below(0x1E0000);
      const std::uint32_t length = 1 + rng.below(16);
      std::string wanted = Bytes(current, address, length);
      if (k == n / 2) {
        std::vector<std::uint8_t> changed(current.begin() + address, current.begin() + address + length);
        changed[0] = static_cast<std::uint8_t>(changed[0] ^ 0x5A);
        wanted = Bytes(changed, 0, length);
      }
      lines.push_back({address, Bytes(current, address, length), wanted});
    }
    const char* folder = n < 4 ? "" : (n < 7 ? "menu/" : "fonts/");
    files.push_back({std::string(folder) + "not_installed_" + std::to_string(n) + ".vkp",
                     PatchText("не установлен " + std::to_string(n), lines, n % 2 ? "\r\n" : "\n")});
  }
  // Broken files, one of each kind of invalid line.
  const std::string header = quillet::Utf8ToCp1251(";Патч с ошибкой\r\n");
  files.push_back({"broken/no_colon.vkp", header + "001000 " + Bytes(original, 0x1000, 2) + " 9090\r\n"});
  files.push_back({"broken/bad_address.vkp", header + "0010G0: 00 01\r\n"});
  files.push_back({"broken/bad_offset.vkp", header + "+10000G\r\n000100: 00 01\r\n"});
  files.push_back({"broken/bad_byte.vkp", header + "002000: 0000 12XY\r\n"});
  files.push_back(
      {"broken/byte_order_mark.vkp", "\xEF\xBB\xBF" + header + "002000: 00 " + Bytes(current, 0x2000, 1) + "\r\n"});
  // Differs from the image only where the demo filter looks away: installed
  // with the demo settings, not installed without a filter.
  {
    const std::uint32_t address = kFilteredStart + 0x100;
    std::vector<std::uint8_t> changed(current.begin() + address, current.begin() + address + 8);
    for (auto& byte : changed) byte = static_cast<std::uint8_t>(~byte);
    files.push_back(
        {"filtered_only.vkp", PatchText("только отфильтрованные адреса",
                                        {{address, Bytes(current, address, 8), Bytes(changed, 0, 8)}}, "\r\n")});
  }
  // Every byte beyond the end of the image: nothing to compare, so installed.
  files.push_back({"beyond_image.vkp",
                   PatchText("за концом образа", {{kImageSize, "FFFF", "0000"}, {0xA0000000u, "FF", "00"}}, "\r\n")});
  // An offset line: addresses below it count from 0x300000.
  {
    const std::uint32_t base = 0x300000;
    std::string text = PatchText("со смещением", {}, "\r\n", "+300000\r\n");
    for (std::uint32_t rel : {0x10u, 0x2000u, 0x4444u})
      text += Hex(rel) + ": " + Bytes(original, base + rel, 4) + " " + Bytes(current, base + rel, 4) + "\r\n";
    text += "+\r\n" + Hex(0x40) + ": " + Bytes(current, 0x40, 2) + " " + Bytes(current, 0x40, 2) + "\r\n";
    files.push_back({"menu/with_offset.vkp", text});
  }
  return files;
}

// The next firmware: current.bin with code inserted at 1 MiB and some removed
// at 2.5 MiB, so that what lies behind each moved by its own amount.
constexpr std::uint32_t kInsertAt = 0x100000;
constexpr std::uint32_t kInserted = 0x2340;
constexpr std::uint32_t kRemoveAt = 0x280000;
constexpr std::uint32_t kRemoved = 0x100;

std::vector<std::uint8_t> MakeNextImage(Rng& rng, const std::vector<std::uint8_t>& current) {
  std::vector<std::uint8_t> next(current.begin(), current.begin() + kInsertAt);
  for (std::uint32_t i = 0; i < kInserted; ++i) next.push_back(static_cast<std::uint8_t>(rng.next() >> 56));
  next.insert(next.end(), current.begin() + kInsertAt, current.begin() + kRemoveAt);
  next.insert(next.end(), current.begin() + kRemoveAt + kRemoved, current.end());
  return next;
}

// The first address from near on whose 64 bytes are code, not erased.
std::uint32_t CodeAt(const std::vector<std::uint8_t>& image, std::uint32_t near) {
  for (std::uint32_t address = near;; address += 0x10000) {
    std::uint32_t erased = 0;
    for (std::uint32_t i = 0; i < 64; ++i) erased += image[address + i] == 0xFF ? 1 : 0;
    if (erased < 8) return address;
  }
}

// A patch made for current.bin: a 16-byte piece behind the insertion and a
// 4-byte one behind the removal, too short to be found by its own old bytes.
std::string PatchToPort(const std::vector<std::uint8_t>& current) {
  std::vector<PatchLine> lines;
  const auto line = [&](std::uint32_t address, std::uint32_t length) {
    std::vector<std::uint8_t> changed(current.begin() + address, current.begin() + address + length);
    for (auto& byte : changed) byte = static_cast<std::uint8_t>(byte ^ 0x3C);
    lines.push_back({address, Bytes(current, address, length), Bytes(changed, 0, length)});
  };
  const std::uint32_t first = CodeAt(current, 0x123400);
  line(first, 8);
  line(first + 8, 8);
  line(CodeAt(current, 0x312340), 4);
  return PatchText("секунды на часах", lines, "\r\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: quillet-demo-data DIR\n", stderr);
    return 64;
  }
  const std::string dir = argv[1];
  try {
    Rng rng(20240601);
    const std::vector<std::uint8_t> current = MakeCurrentImage(rng);
    const std::vector<Run> runs = MakeRuns(rng);
    std::vector<std::uint8_t> original = current;
    for (const Run& run : runs)
      for (std::uint32_t i = 0; i < run.length; ++i)
        original[run.address + i] = static_cast<std::uint8_t>(current[run.address + i] ^ (1 + rng.below(255)));
    const std::vector<DemoFile> patches = MakePatches(rng, original, current, runs);

    MakeFolder(dir);
    for (const char* sub : {"/patches", "/patches/menu", "/patches/fonts", "/patches/broken"}) MakeFolder(dir + sub);
    auto asText = [](const std::vector<std::uint8_t>& bytes) {
      return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    };
    WriteIfChanged(dir + "/current.bin", asText(current));
    WriteIfChanged(dir + "/original.bin", asText(original));
    WriteIfChanged(dir + "/next.bin", asText(MakeNextImage(rng, current)));
    MakeFolder(dir + "/for_current");
    WriteIfChanged(dir + "/for_current/clock_seconds.vkp", PatchToPort(current));
    WriteIfChanged(dir + "/quillet.INI", "[Address Filter]\r\n0=" + Hex(kFilteredStart) + " " + Hex(kFilteredEnd) +
                                             "\r\n1=3F0000 3FFFFF\r\n");
    for (const DemoFile& file : patches) WriteIfChanged(dir + "/patches/" + file.path, file.text);
    std::printf(
        "demo data in %s: current.bin, original.bin, quillet.INI, %zu patch files in patches/, next.bin and "
        "for_current/clock_seconds.vkp to port to it\n",
        dir.c_str(), patches.size());
  } catch (const quillet::FileError& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  return 0;
}
