#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/temp_dir.h"
#include "ui/main_window/flash_selection.h"

namespace {

using quillet::testing::TempDir;
using quillet::testing::WriteBytes;

// The texts under each chosen image.
class FlashTextsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    m_hadTz = tz != nullptr;
    if (m_hadTz) m_oldTz = tz;
    ::setenv("TZ", "UTC", 1);
    ::tzset();
  }
  void TearDown() override {
    if (m_hadTz) {
      ::setenv("TZ", m_oldTz.c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }

  TempDir m_dir;
  bool m_hadTz = false;
  std::string m_oldTz;
};

TEST_F(FlashTextsTest, SizesAreTrueDecimalNumbersWithoutGrouping) {
  const std::pair<std::uint64_t, const char*> rows[] = {
      {0, "Размер: 0 байт"},
      {16777216, "Размер: 16777216 байт"},
      {2147483647, "Размер: 2147483647 байт"},
      {2147483648ull, "Размер: 2147483648 байт"},
      {4294967296ull, "Размер: 4294967296 байт"},
  };
  for (const auto& [size, text] : rows) {
    SCOPED_TRACE(size);
    EXPECT_EQ(quillet::FlashSizeText(size), text);
  }
}

TEST_F(FlashTextsTest, DatesAreLocalWithTwoDigitFields) {
  EXPECT_EQ(quillet::FlashDateText(1078477622), "Дата модификации: 05.03.2004 09:07:02");
  EXPECT_EQ(quillet::FlashDateText(0), "Дата модификации: 01.01.1970 00:00:00");
}

TEST_F(FlashTextsTest, ChoosingAnImage) {
  const std::string empty = m_dir / "empty.bin";
  WriteBytes(empty, "");
  const std::string small = m_dir / "small.bin";
  WriteBytes(small, std::string(16, 'x'));
  struct timespec times[2] = {{1078477622, 0}, {1078477622, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, small.c_str(), times, 0), 0);
  ASSERT_EQ(::utimensat(AT_FDCWD, empty.c_str(), times, 0), 0);

  const quillet::FlashTexts none = quillet::NotChosenFlashTexts();
  EXPECT_EQ(none, (quillet::FlashTexts{"<Не выбран>", "Размер: 0 байт", "Дата модификации: 00.00.0000 00:00:00"}));

  struct Row {
    const char* name;
    std::string path;
    std::string chosenPath;
    quillet::FlashTexts texts;
  };
  const std::vector<Row> rows = {
      {"cancelled dialog", "", "", none},
      {"missing file", m_dir / "missing.bin", "", none},
      {"a folder", m_dir.path(), "", none},
      {"empty file", empty, empty, {"empty.bin", "Размер: 0 байт", "Дата модификации: 05.03.2004 09:07:02"}},
      {"small file", small, small, {"small.bin", "Размер: 16 байт", "Дата модификации: 05.03.2004 09:07:02"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const quillet::FlashChoice choice = quillet::ChooseFlash(row.path);
    EXPECT_EQ(choice.path, row.chosenPath);
    EXPECT_EQ(choice.texts, row.texts);
  }
}

}  // namespace
