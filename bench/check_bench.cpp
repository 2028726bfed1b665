// The installed-patch check on a 64 MiB image and 1,000 patch files: the plain
// copy-apply-compare, the check the program uses, and merely reading and
// parsing the same files; and the check that also gathers its evidence. One
// iteration = all 1,000 files.
//
//   check_bench [--data-dir=DIR] [benchmark options]
//
// With --data-dir the generated image (DIR/current.bin) and patch files
// (DIR/patches/) are kept there, for timing `quillet-cli check` on them.

#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/filter/address_filter.h"
#include "core/platform/cp1251.h"
#include "core/platform/file_reader.h"
#include "core/platform/image_file.h"
#include "core/search/patch_check.h"
#include "core/vkp/vkp_reader.h"
#include "tools/split_mix.h"

using quillet::ApplyPatchFile;
using quillet::CheckDetails;
using quillet::CheckPatch;
using quillet::PATCH_FILE_ERROR;
using quillet::PATCH_INSTALLED;
using quillet::PATCH_NOT_INSTALLED;
using quillet::PatchStatus;

namespace {

constexpr std::uint32_t kImageSize = 64u << 20;
constexpr int kPatchFiles = 1000;

using Rng = quillet::SplitMix64;

void AppendHex(std::string& text, std::uint32_t value, const char* format) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, format, value);
  text += buffer;
}

struct DataSet {
  std::string dir;
  bool keep = false;
  quillet::ImageBuffer current;
  std::vector<std::string> paths;
};

DataSet* g_data = nullptr;

// A patch as found in the wild: a commented header, then 5-200 data lines of
// 1-16 bytes with old and new fields, sometimes under an offset line. Half are
// installed, the rest differ in one byte; one in twenty breaks on its last line.
std::string MakePatch(Rng& rng, const std::uint8_t* image, int index) {
  std::string text = quillet::Utf8ToCp1251(";Патч номер " + std::to_string(index) + "\r\n;Автор: бенчмарк\r\n");
  const bool installed = index % 2 == 0;
  const bool broken = index % 20 == 7;
  const std::uint32_t lines = 5 + rng.below(196);
  const std::uint32_t differing = rng.below(lines);
  std::uint32_t offset = 0;
  for (std::uint32_t n = 0; n < lines; ++n) {
    if (rng.below(40) == 0) {
      offset = rng.below(kImageSize / 2) & ~0xFFFu;
      text += "+";
      AppendHex(text, offset, "%X");
      text += "\r\n";
    }
    const std::uint32_t count = 1 + rng.below(16);
    const std::uint32_t address = offset + rng.below(kImageSize - offset - 16);
    AppendHex(text, address - offset, "%06X");
    text += ": ";
    for (std::uint32_t k = 0; k < count; ++k) AppendHex(text, static_cast<std::uint8_t>(rng.next()), "%02X");
    text += " ";
    for (std::uint32_t k = 0; k < count; ++k) {
      std::uint8_t value = image[address + k];
      if (!installed && n == differing && k == 0) value = static_cast<std::uint8_t>(value ^ 0x01);
      AppendHex(text, value, "%02X");
    }
    text += rng.below(10) == 0 ? " ; comment\r\n" : "\r\n";
  }
  if (broken) text += "0012G4: 00 01\r\n";
  return text;
}

void WriteFileOrDie(const std::string& path, std::string_view bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || std::fclose(file) != 0) {
    std::fprintf(stderr, "check_bench: can't write %s\n", path.c_str());
    std::exit(1);
  }
}

void MakeDataSet(DataSet& data) {
  Rng rng(64);
  data.current = quillet::ImageBuffer(kImageSize);
  std::uint8_t* image = data.current.data();
  for (std::uint32_t i = 0; i < kImageSize; i += 8) {
    const std::uint64_t word = rng.next();
    std::memcpy(image + i, &word, 8);
  }
  ::mkdir(data.dir.c_str(), 0777);
  const std::string patches = data.dir + "/patches";
  ::mkdir(patches.c_str(), 0777);
  WriteFileOrDie(data.dir + "/current.bin", std::string_view(reinterpret_cast<const char*>(image), kImageSize));
  for (int index = 0; index < kPatchFiles; ++index) {
    char name[32];
    std::snprintf(name, sizeof name, "/patch_%04d.vkp", index);
    data.paths.push_back(patches + name);
    WriteFileOrDie(data.paths.back(), MakePatch(rng, image, index));
  }
}

void CountStatus(benchmark::State& state, const int (&seen)[4]) {
  state.counters["installed"] = seen[PATCH_INSTALLED];
  state.counters["not_installed"] = seen[PATCH_NOT_INSTALLED];
  state.counters["broken"] = seen[PATCH_FILE_ERROR];
  state.counters["files"] = benchmark::Counter(static_cast<double>(kPatchFiles),
                                               benchmark::Counter::kIsRate | benchmark::Counter::kIsIterationInvariant);
}

void BM_PlainCopyAndCompare(benchmark::State& state) {
  quillet::ImageBuffer work(kImageSize);
  const std::uint8_t* current = g_data->current.data();
  int seen[4] = {};
  for (auto _ : state) {
    for (const std::string& path : g_data->paths) {
      std::memcpy(work.data(), current, kImageSize);
      PatchStatus status = PATCH_FILE_ERROR;
      if (ApplyPatchFile(path, work.data(), kImageSize, {}))
        status = std::memcmp(work.data(), current, kImageSize) == 0 ? PATCH_INSTALLED : PATCH_NOT_INSTALLED;
      ++seen[status];
    }
  }
  CountStatus(state, seen);
}

void BM_Check(benchmark::State& state) {
  quillet::ImageBuffer work(kImageSize);
  int seen[4] = {};
  for (auto _ : state)
    for (const std::string& path : g_data->paths)
      ++seen[CheckPatch(path, g_data->current.data(), work.data(), kImageSize, {})];
  CountStatus(state, seen);
}

void BM_CheckWithDetails(benchmark::State& state) {
  quillet::ImageBuffer work(kImageSize);
  int seen[4] = {};
  CheckDetails details;
  for (auto _ : state)
    for (const std::string& path : g_data->paths)
      ++seen[CheckPatch(path, g_data->current.data(), work.data(), kImageSize, {}, &details)];
  CountStatus(state, seen);
}

// What every check has to do anyway: read each file and walk every pair.
struct ParseOnlySink {
  std::uint32_t sum = 0;
  bool Accepts(std::uint32_t address) const { return address < kImageSize; }
  void Write(std::uint32_t, std::uint8_t value) { sum += value; }
};

void BM_ReadAndParse(benchmark::State& state) {
  int seen[4] = {};
  for (auto _ : state) {
    for (const std::string& path : g_data->paths) {
      ParseOnlySink sink;
      quillet::FileReader file(path);
      const bool ok = quillet::ReadVkp(file, sink, false).Ok();
      benchmark::DoNotOptimize(sink.sum);
      ++seen[ok ? PATCH_INSTALLED : PATCH_FILE_ERROR];
    }
  }
  state.counters["files"] = benchmark::Counter(static_cast<double>(kPatchFiles),
                                               benchmark::Counter::kIsRate | benchmark::Counter::kIsIterationInvariant);
}

BENCHMARK(BM_PlainCopyAndCompare)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Check)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_CheckWithDetails)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ReadAndParse)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  DataSet data;
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg.starts_with("--data-dir=")) {
      data.dir = std::string(arg.substr(11));
      data.keep = true;
    } else {
      rest.push_back(argv[i]);
    }
  }
  if (data.dir.empty()) {
    std::string pattern = (std::filesystem::temp_directory_path() / "quillet-check-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) return 1;
    data.dir = pattern;
  }
  MakeDataSet(data);
  g_data = &data;

  int count = static_cast<int>(rest.size());
  benchmark::Initialize(&count, rest.data());
  if (benchmark::ReportUnrecognizedArguments(count, rest.data())) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (!data.keep) std::filesystem::remove_all(data.dir);
  return 0;
}
