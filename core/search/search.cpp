#include "core/search/search.h"

#include <cerrno>
#include <new>

#include "core/job/image_failure.h"
#include "core/platform/file_error.h"
#include "core/platform/image_file.h"

namespace quillet {

namespace {

// The next character of a UTF-8 name, folded to lower case for the letters a
// file manager folds here (Latin and Cyrillic); other bytes stand for themselves.
std::uint32_t NextFolded(std::string_view text, std::size_t& i) {
  const auto byte = static_cast<unsigned char>(text[i]);
  if (byte < 0x80) {
    ++i;
    return (byte >= 'A' && byte <= 'Z') ? byte + 0x20u : byte;
  }
  if ((byte & 0xE0) == 0xC0 && i + 1 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80) {
    const std::uint32_t cp = ((byte & 0x1Fu) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu);
    i += 2;
    if (cp >= 0x410 && cp <= 0x42F) return cp + 0x20;  // А..Я
    if (cp >= 0x400 && cp <= 0x40F) return cp + 0x50;  // Ѐ..Џ, Ё among them
    return cp;
  }
  // Longer sequences and stray bytes: by byte, above every folded letter.
  ++i;
  return 0x110000u + byte;
}

int CompareFolded(std::string_view a, std::string_view b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    const std::uint32_t ca = NextFolded(a, i);
    const std::uint32_t cb = NextFolded(b, j);
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

}  // namespace

bool PatchRowLess(std::string_view nameA, std::string_view pathA, std::string_view nameB, std::string_view pathB) {
  // As a file manager lists names: without regard to case first, then by
  // bytes (string_view compares unsigned), so that every name has one place.
  if (const int folded = CompareFolded(nameA, nameB); folded != 0) return folded < 0;
  if (const int byName = nameA.compare(nameB); byName != 0) return byName < 0;
  return pathA < pathB;
}

SearchOutcome RunSearch(const SearchJob& job, const SearchEvents& events, StopToken stop) {
  std::size_t row = 0;
  auto ended = [&row](JobCause cause, std::string path = {}, int error = 0) {
    SearchOutcome outcome;
    outcome.cause = cause;
    outcome.path = std::move(path);
    outcome.systemError = error;
    outcome.rowsChecked = row;
    return outcome;
  };
  try {
    const ImageRead image = ReadImageFile(job.imagePath);
    if (const auto failure = ImageReadFailure(image, job.imagePath))
      return ended(failure->cause, failure->path, failure->systemError);
    // ReadImageFile refuses anything of 4 GiB or more, so the size fits.
    const auto size = static_cast<std::uint32_t>(image.data.size());
    ImageBuffer work(image.data.size());

    if (events.started) events.started(job.patchPaths.size());
    for (; row < job.patchPaths.size(); ++row) {
      if (stop.StopRequested()) return ended(JobCause::stopped);
      const std::string& path = job.patchPaths[row];
      if (events.checking) events.checking(row, path);
      CheckDetails details;
      details.status =
          CheckPatch(path, image.data.data(), work.data(), size, job.filter, job.details ? &details : nullptr);
      if (events.checked) events.checked(row, details);
    }
    return ended(JobCause::none);
  } catch (const FileError& error) {
    return ended(JobCause::patchFile, error.Path(), error.OsError());
  } catch (const std::bad_alloc&) {
    return ended(JobCause::outOfMemory, {}, ENOMEM);
  }
}

}  // namespace quillet
