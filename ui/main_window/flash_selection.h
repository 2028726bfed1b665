#pragma once
#include <cstdint>
#include <string>

namespace quillet {

// The three lines that describe one chosen Full Flash image in the main window.
struct FlashTexts {
  std::string name;
  std::string size;
  std::string date;
  bool operator==(const FlashTexts&) const = default;
};

// The lines shown while no image is chosen.
[[nodiscard]] FlashTexts NotChosenFlashTexts();

// "Размер: N байт" with the true size, however large, without digit grouping.
[[nodiscard]] std::string FlashSizeText(std::uint64_t size);

// "Дата модификации: dd.mm.yyyy hh:mm:ss" in local time.
[[nodiscard]] std::string FlashDateText(std::int64_t mtime);

// An image chosen by its path: what the main window keeps and shows.
struct FlashChoice {
  std::string path;  // empty: not chosen
  FlashTexts texts;
};

// Chooses the image at path: opens it to read its size and date, as the choice
// is made; a path that is empty (a cancelled dialog) or a file that can't be
// opened leaves the image not chosen.
[[nodiscard]] FlashChoice ChooseFlash(const std::string& path);

}  // namespace quillet
