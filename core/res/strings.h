#pragma once
// The program's own texts, each defined once (UTF-8). On disk, patch files carry
// them in Windows-1251.

#include "core/res/version.h"

namespace quillet::text {

// Application and About box
inline constexpr char kAppName[] = "Quillet";
inline constexpr char kVersion[] = QUILLET_VERSION;
inline constexpr char kAboutTitle[] = "About Quillet";
inline constexpr char kAboutVersion[] = "Quillet Version " QUILLET_VERSION;
inline constexpr char kAboutMenuEntry[] = "&About Quillet...";  // IDS_ABOUTBOX
inline constexpr char kSettingsExtension[] = ".INI";

// Main window
inline constexpr char kMainTitle[] = "Поиск установленных патчей";
inline constexpr char kBrowse[] = "?";
inline constexpr char kAddFile[] = "+ файл";
inline constexpr char kAddFolder[] = "+ каталог";
inline constexpr char kRemoveFile[] = "- файл";
inline constexpr char kFilter[] = "Фильтр";
inline constexpr char kSearch[] = "Поиск";
inline constexpr char kDifferences[] = "Отличия";
inline constexpr char kExit[] = "Выход";
inline constexpr char kCurrentGroup[] = "Текущий Full Flash";
inline constexpr char kOriginalGroup[] = "Оригинальный Full Flash";
inline constexpr char kPatchesGroup[] = "Искомые патчи";
inline constexpr char kColumnFileName[] = "Имя файла";
inline constexpr char kColumnFilePath[] = "Путь к файлу";
inline constexpr char kWindowMenuClose[] = "&Закрыть";

// Accessible names of controls without a telling text, and of the rows' marks
inline constexpr char kAccCurrentBrowse[] = "Выбрать текущий Full Flash";
inline constexpr char kAccOriginalBrowse[] = "Выбрать оригинальный Full Flash";
inline constexpr char kAccPatchList[] = "Искомые патчи";
inline constexpr char kAccStatusLine[] = "Строка состояния";
inline constexpr char kAccProgress[] = "Ход поиска";
inline constexpr char kMarkNotInstalled[] = "не установлен";
inline constexpr char kMarkInstalled[] = "установлен";
inline constexpr char kMarkFileError[] = "ошибка в файле";

// Full Flash selection
inline constexpr char kNotChosen[] = "<Не выбран>";
inline constexpr char kSizeNone[] = "Размер: 0 байт";
inline constexpr char kDateNone[] = "Дата модификации: 00.00.0000 00:00:00";
inline constexpr char kSizeFormat[] = "Размер: %s байт";          // %s: the decimal size
inline constexpr char kDateFormat[] = "Дата модификации: %s";
inline constexpr char kBinaryFilter[] = "Бинарные файлы (*.bin)|*.bin|Все файлы (*.*)|*.*||";
inline constexpr char kPatchFilter[] = "Файлы патчей (*.vkp)|*.vkp|Все файлы (*.*)|*.*||";

// Errors
inline constexpr char kErrorCaption[] = "Ошибка";
inline constexpr char kCurrentOpenError[] = "Ошибка открытия файла текущего Full Flash";
inline constexpr char kCurrentReadError[] = "Ошибка чтения файла текущего Full Flash";
inline constexpr char kOpenErrorPrefix[] = "Ошибка открытия файла '";  // + path + "'"
inline constexpr char kReadErrorPrefix[] = "Ошибка чтения файла '";    // + path + "'"
inline constexpr char kTooLargePrefix[] = "Файл больше 4 ГиБ, его адреса не умещаются в 32 бита: '";  // + path + "'"
inline constexpr char kUnencodableFormat[] =
    "Символ %1 в строке %2 нельзя записать в кодировке Windows-1251. Файл не записан.";  // %1: U+XXXX, %2: line
inline constexpr char kOutOfMemory[] = "Out of memory.";
inline constexpr char kFilterLoadErrorPrefix[] = "Не удалось прочитать фильтр адресов из файла настроек '";  // + path + "'"

// Comparison header (the .vkp text)
inline constexpr char kHeaderOriginal[] = ";Оригинальный Full Flash: ";
inline constexpr char kHeaderCurrent[] = ";Текущий Full Flash: ";
inline constexpr char kHeaderSize[] = ";Размер: ";       // + size + " байт"
inline constexpr char kHeaderBytes[] = " байт";
inline constexpr char kHeaderDate[] = ";Дата модификации: ";

// Comparison window
inline constexpr char kCompareTitle[] = "Сравнение Full Flash";
inline constexpr char kSave[] = "Записать";
inline constexpr char kStop[] = "Стоп";
inline constexpr char kAccCompareText[] = "Текст сравнения";
inline constexpr char kAccCompareProgress[] = "Ход сравнения";
inline constexpr char kReadingImages[] = "Чтение файлов";
// %1: the most lines the field shows, %2: the text's size in MiB
inline constexpr char kTooManyLines[] =
    "Сравнение нашло больше %1 строк (%2 МиБ): поле не может показать их все.\n"
    "«Записать» сохранит все строки.";
inline constexpr char kUnsavedQuestion[] = "Текст сравнения изменён. Сохранить изменения?";
inline constexpr char kSaveChanges[] = "Сохранить";
inline constexpr char kDontSave[] = "Не сохранять";

// Address filter dialog
inline constexpr char kFilterTitle[] = "Фильтрация адресов";
inline constexpr char kRangeStartLabel[] = "Начальный адрес";
inline constexpr char kRangeEndLabel[] = "Конечный адрес";
inline constexpr char kRangeSizeLabel[] = "Размер блока";
inline constexpr char kColumnRange[] = "Адреса блока";
inline constexpr char kColumnLength[] = "Длина блока";
inline constexpr char kRangeAdd[] = "Добавить";
inline constexpr char kRangeDelete[] = "Удалить";
inline constexpr char kOk[] = "OK";
inline constexpr char kCancel[] = "Отмена";
inline constexpr char kAccRangeList[] = "Фильтруемые адреса";
inline constexpr char kFilterSaveErrorPrefix[] = "Не удалось записать фильтр адресов в файл настроек '";  // + path + "'"

}  // namespace quillet::text
