#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/search/patch_check.h"
#include "core/search/patch_conflicts.h"
#include "tests/support/temp_dir.h"
#include "ui/common/row_details.h"

using quillet::AddressFilter;
using quillet::CheckDetails;
using quillet::CheckPatch;

namespace {

using quillet::DetailsForm;
using quillet::testing::TempDir;
using quillet::testing::WriteBytes;
using Lines = std::vector<std::string>;

// Byte a of the image is a's low byte.
std::vector<std::uint8_t> CountingImage(std::size_t size) {
  std::vector<std::uint8_t> image(size);
  for (std::size_t a = 0; a < size; ++a) image[a] = static_cast<std::uint8_t>(a);
  return image;
}

struct DetailsRow {
  const char* name;
  std::string patch;
  DetailsForm form;
  Lines expected;
};

class RowDetailsTable : public ::testing::TestWithParam<DetailsRow> {};

// Each verdict and each broken rule, from a real check of a patch text to the
// lines the window shows.
TEST_P(RowDetailsTable, TheCheckSaysWhyInRussian) {
  const DetailsRow& param = GetParam();
  const std::vector<std::uint8_t> image = CountingImage(0x200);
  std::vector<std::uint8_t> work(image.size());
  TempDir dir;
  WriteBytes(dir / "p.vkp", param.patch);
  quillet::PatchRow row;
  CheckDetails details;
  row.status = CheckPatch(dir / "p.vkp", image.data(), work.data(), 0x200, {}, &details);
  row.details = details;
  row.basis = std::make_shared<const quillet::CheckBasis>(quillet::CheckBasis::Of("/img.bin", {}));
  EXPECT_EQ(quillet::RowDetailsLines(row, "/img.bin", {}, param.form), param.expected);
}

const Lines kTenDiffering = {
    "Не установлен: уже новых байт 0 из 10; сделан для другой прошивки",
    "Адрес 000101: ожидается FF, найдено 01, старый 00",
    "Адрес 000102: ожидается FF, найдено 02, старый 00",
    "Адрес 000103: ожидается FF, найдено 03, старый 00",
    "Адрес 000104: ожидается FF, найдено 04, старый 00",
    "Адрес 000105: ожидается FF, найдено 05, старый 00",
    "Адрес 000106: ожидается FF, найдено 06, старый 00",
    "Адрес 000107: ожидается FF, найдено 07, старый 00",
    "Адрес 000108: ожидается FF, найдено 08, старый 00",
    "Показано отличающихся адресов: 8 из 10",
};

INSTANTIATE_TEST_SUITE_P(
    Verdicts, RowDetailsTable,
    ::testing::Values(
        DetailsRow{"installed", "100: 11 00\n101: 11 01\n", DetailsForm::full, {"Установлен: проверено байт: 2"}},
        DetailsRow{"nothingChecked",
                   "300: 00 FF",
                   DetailsForm::full,
                   {"Установлен, но ни один байт не проверен: все адреса записи отфильтрованы или за концом образа"}},
        DetailsRow{
            "cleanly",
            "110: 10 FF\n111: 11 FE",
            DetailsForm::full,
            {"Не установлен: уже новых байт 0 из 2; ставится чисто",
             "Адрес 000110: ожидается FF, найдено 10, старый 10", "Адрес 000111: ожидается FE, найдено 11, старый 11"}},
        DetailsRow{"partly",
                   "110: 10 FF\n112: 00 12",
                   DetailsForm::full,
                   {"Не установлен: уже новых байт 1 из 2; установлен частично",
                    "Адрес 000110: ожидается FF, найдено 10, старый 10"}},
        DetailsRow{"otherFirmware",
                   "110: 55 FF",
                   DetailsForm::full,
                   {"Не установлен: уже новых байт 0 из 1; сделан для другой прошивки",
                    "Адрес 000110: ожидается FF, найдено 10, старый 55"}},
        DetailsRow{"oldUnknown",
                   "110: FF",
                   DetailsForm::full,
                   {"Не установлен: уже новых байт 0 из 1; старые байты неизвестны",
                    "Адрес 000110: ожидается FF, найдено 10, старый неизвестен"}},
        DetailsRow{"tenDifferingFull", "101: 00000000000000000000 FFFFFFFFFFFFFFFFFFFF", DetailsForm::full,
                   kTenDiffering},
        DetailsRow{
            "tenDifferingBrief",
            "101: 00000000000000000000 FFFFFFFFFFFFFFFFFFFF",
            DetailsForm::brief,
            {kTenDiffering[0], kTenDiffering[1], kTenDiffering[2], kTenDiffering[3], "…и ещё отличающихся адресов: 7"}},
        DetailsRow{"badOffset",
                   "100: 11\r\n+12G4 ; x\r\n",
                   DetailsForm::full,
                   {"Ошибка в строке 2: «+12G4 ; x»: смещение не шестнадцатеричное"}},
        DetailsRow{"badAddress",
                   "\n\xCF\xF0\xE8: 00",
                   DetailsForm::full,
                   {"Ошибка в строке 2: «При: 00»: адрес не шестнадцатеричный"}},
        DetailsRow{"noColon", "1234 00\n100: 11", DetailsForm::full, {"Ошибка в строке 1: «1234 00»: нет «:»"}},
        DetailsRow{"badByte",
                   "; a\n100: 11ZZ",
                   DetailsForm::full,
                   {"Ошибка в строке 2: «100: 11ZZ»: записываемый байт не шестнадцатеричный"}},
        DetailsRow{"byteOrderMark",
                   "\xEF\xBB\xBF"
                   "100: 11",
                   DetailsForm::full,
                   {"Ошибка в строке 1: «100: 11»: адрес не шестнадцатеричный",
                    "Файл начинается с метки порядка байтов UTF-8"}}),
    [](const ::testing::TestParamInfo<DetailsRow>& info) { return std::string(info.param.name); });

// What a row's evidence was found against, and the list-wide texts: the
// totals, rows added later, another image or filter, the conflicts.
TEST(RowDetails, EvidenceKnowsWhatItWasCheckedAgainst) {
  TempDir dir;
  const std::vector<std::uint8_t> image = CountingImage(0x200);
  WriteBytes(dir / "img.bin", std::string(image.begin(), image.end()));
  WriteBytes(dir / "a.vkp", "110: 10 FF\n111: 11 FE\n");  // cleanly, and collides with b at two addresses
  WriteBytes(dir / "b.vkp", "110: 55 EE\n111: 55 EE\n");  // another firmware
  WriteBytes(dir / "c.vkp", "100: 11 00\n");              // installed
  WriteBytes(dir / "d.vkp", "zz\n");                      // broken
  quillet::PatchList list;
  for (const char* name : {"a.vkp", "b.vkp", "c.vkp", "d.vkp"}) (void)list.Add(dir / name);
  const AddressFilter filter = {{0x1F0, 0x1FF}, {0x1E0, 0x1F4}};
  const std::string img = dir / "img.bin";
  const quillet::SearchJob job = list.StartSearch(img, filter, true);
  const quillet::SearchOutcome result =
      quillet::RunSearch(job,
                         {.started = {},
                          .checking = {},
                          .checked = [&list](std::size_t row, const CheckDetails& found) { list.Record(row, found); }},
                         {});
  ASSERT_EQ(result.cause, quillet::JobCause::none);

  EXPECT_EQ(quillet::SearchTotalsText(list),
            "Установлено: 1, не установлено: 2 (чисто: 1, другая прошивка: 1), с ошибкой: 1");
  // The same addresses filtered, loaded in another order, are the same filter.
  const AddressFilter sameAddresses = {{0x1E0, 0x1F4}, {0x1F0, 0x1FF}};
  EXPECT_EQ(quillet::RowTooltip(list[2], img, sameAddresses), dir / "c.vkp" + "\nУстановлен: проверено байт: 1");
  EXPECT_EQ(quillet::RowDetailsLines(list[2], img, AddressFilter{{0x1E0, 0x1FE}}, DetailsForm::brief),
            Lines({"Проверен с другим образом или фильтром", "Установлен: проверено байт: 1"}));
  EXPECT_EQ(quillet::RowDetailsLines(list[2], dir / "other.bin", filter, DetailsForm::brief)[0],
            "Проверен с другим образом или фильтром");

  const quillet::PatchConflicts conflicts =
      quillet::FindPatchConflicts({dir / "a.vkp", dir / "b.vkp", dir / "c.vkp", dir / "d.vkp"});
  EXPECT_EQ(quillet::RowDetailsLines(list[1], img, filter, DetailsForm::full,
                                     quillet::ConflictsOfRow(conflicts, {"a.vkp", "b.vkp", "c.vkp", "d.vkp"}, 1)),
            Lines({"Не установлен: уже новых байт 0 из 2; сделан для другой прошивки",
                   "Адрес 000110: ожидается EE, найдено 10, старый 55",
                   "Адрес 000111: ожидается EE, найдено 11, старый 55", "Конфликтует с: a.vkp (2 адреса)"}));

  WriteBytes(dir / "0.vkp", "100: 11 00\n");
  const std::size_t added = *list.Add(dir / "0.vkp");
  EXPECT_EQ(quillet::RowTooltip(list[added], img, filter), dir / "0.vkp" + "\nДобавлен после поиска");

  // A search that ended before a row knows nothing of it, and counts it nowhere.
  const std::vector<std::size_t> rows = {added, 3};
  (void)list.StartSearch(img, filter, true, &rows);
  list.EndSearch(1);
  EXPECT_FALSE(list[added].notChecked);
  EXPECT_EQ(quillet::RowTooltip(list[3], img, filter), dir / "c.vkp" + "\nНе проверен: поиск не дошёл до этого файла");
  EXPECT_EQ(quillet::SearchTotalsText(list),
            "Установлено: 0, не установлено: 3 (чисто: 1, другая прошивка: 1, неизвестно: 1), с ошибкой: 1");
}

// Russian counts a noun in three forms, the teens always in the many form.
TEST(RowDetails, CountedWordsTakeTheirRussianForm) {
  const std::pair<std::uint64_t, const char*> kCounts[] = {
      {0, "many"},  {1, "one"},  {2, "few"},  {4, "few"},   {5, "many"},   {11, "many"},  {12, "many"},
      {14, "many"}, {21, "one"}, {22, "few"}, {101, "one"}, {111, "many"}, {112, "many"}, {1004, "few"}};
  for (const auto& [count, word] : kCounts)
    EXPECT_STREQ(quillet::CountedWord(count, "one", "few", "many"), word) << count;
}

}  // namespace
