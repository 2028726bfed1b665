// Reading a 64 MiB image whole: ReadImageFile's huge-page buffer against a
// fresh new[] buffer filled by the same single read. Each iteration allocates,
// reads and frees, as a search or a comparison does. The file is read from the
// page cache, so this measures the buffer, not the disk.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/platform/image_file.h"

namespace {

constexpr std::size_t kImageSize = std::size_t{64} << 20;

// One image file for the whole run, removed at exit.
class ImageFile {
 public:
  ImageFile() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quillet-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    m_folder = pattern;
    m_path = m_folder + "/ff.bin";
    std::vector<char> bytes(kImageSize);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 2654435761u >> 24);
    std::FILE* file = std::fopen(m_path.c_str(), "wb");
    if (file == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) std::abort();
    std::fclose(file);
  }
  ~ImageFile() {
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
  }
  [[nodiscard]] const std::string& path() const { return m_path; }

 private:
  std::string m_folder;
  std::string m_path;
};

const ImageFile& Image() {
  static const ImageFile image;
  return image;
}

void BM_ReadImageFile(benchmark::State& state) {
  const std::string& path = Image().path();
  for (auto _ : state) {
    const quillet::ImageRead read = quillet::ReadImageFile(path);
    if (read.status != quillet::ImageReadStatus::ok) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(read.data.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kImageSize));
}

void BM_NewArrayAndRead(benchmark::State& state) {
  const std::string& path = Image().path();
  for (auto _ : state) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    auto buffer = std::unique_ptr<std::uint8_t[]>(new std::uint8_t[kImageSize]);
    std::size_t done = 0;
    while (done < kImageSize) {
      const ssize_t got = ::read(fd, buffer.get() + done, kImageSize - done);
      if (got <= 0) break;
      done += static_cast<std::size_t>(got);
    }
    ::close(fd);
    if (done != kImageSize) state.SkipWithError("short read");
    benchmark::DoNotOptimize(buffer.get());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kImageSize));
}

BENCHMARK(BM_ReadImageFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_NewArrayAndRead)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
