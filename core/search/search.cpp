#include "core/search/search.h"

#include <new>

#include "core/platform/file_error.h"
#include "core/platform/file_io.h"
#include "core/res/strings.h"

namespace quillet {

bool PatchRowLess(std::string_view nameA, std::string_view pathA, std::string_view nameB,
                  std::string_view pathB) {
  // string_view compares as unsigned bytes, so UTF-8 names keep code-point order.
  if (const int byName = nameA.compare(nameB); byName != 0) return byName < 0;
  return pathA < pathB;
}

namespace {

SearchResult Failed(SearchFailure failure, SearchMessage message, std::size_t rowsChecked = 0) {
  return {failure, rowsChecked, std::move(message)};
}

SearchMessage ImageError(std::string text) {
  return {std::move(text), text::kErrorCaption, SearchMessage::Icon::none};
}

SearchMessage OutOfMemory() { return {text::kOutOfMemory, text::kAppName, SearchMessage::Icon::exclamation}; }

}  // namespace

SearchResult RunSearch(const std::string& imagePath, const std::vector<std::string>& patchPaths,
                       const AddressFilter& filter, const SearchObserver& observer,
                       const ExplainedCheck& explained) {
  std::size_t row = 0;
  try {
    const ImageRead image = ReadImageFile(imagePath);
    switch (image.status) {
      case ImageReadStatus::ok: break;
      case ImageReadStatus::openFailed:
        return Failed(SearchFailure::imageOpen, ImageError(text::kCurrentOpenError));
      case ImageReadStatus::readShort:
        return Failed(SearchFailure::imageRead, ImageError(text::kCurrentReadError));
      case ImageReadStatus::tooLarge:
        return Failed(SearchFailure::imageTooLarge,
                      ImageError(std::string(text::kTooLargePrefix) + imagePath + "'"));
    }
    // ReadImageFile refuses anything of 4 GiB or more, so the size fits.
    const auto size = static_cast<std::uint32_t>(image.data.size());
    ImageBuffer work(image.data.size());

    if (observer.started) observer.started(patchPaths.size());
    for (; row < patchPaths.size(); ++row) {
      const std::string& path = patchPaths[row];
      if (observer.checking) observer.checking(row, path);
      CheckDetails details;
      const PatchStatus status = CheckPatch(path, image.data.data(), work.data(), size, filter,
                                            explained ? &details : nullptr);
      if (explained) explained(row, details);
      if (observer.checked) observer.checked(row, status);
    }
    return {SearchFailure::none, row, {}};
  } catch (const FileError& error) {
    return Failed(SearchFailure::patchFile, {error.what(), text::kAppName, SearchMessage::Icon::stop}, row);
  } catch (const std::bad_alloc&) {
    return Failed(SearchFailure::outOfMemory, OutOfMemory(), row);
  }
}

}  // namespace quillet
