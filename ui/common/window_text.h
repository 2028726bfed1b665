#pragma once
// The window's own texts, each defined once (UTF-8); the ones both programs
// share come with them.

#include "core/res/strings.h"

namespace quillet::text {

// About box
inline constexpr char kAboutTitle[] = "About Quillet";
inline constexpr char kAboutVersion[] = "Quillet Version " QUILLET_VERSION;
inline constexpr char kAboutMenuEntry[] = "&About Quillet...";  // IDS_ABOUTBOX

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
inline constexpr char kMarkNotChecked[] = "не проверен";

// A row's details: the tooltip, the details window and the status line after a
// search. %1, %2… are filled in by the core.
inline constexpr char kDetailsInstalled[] = "Установлен: проверено байт: %1";
inline constexpr char kDetailsInstalledUnchecked[] =
    "Установлен, но ни один байт не проверен: все адреса записи отфильтрованы или за концом образа";
inline constexpr char kDetailsNotInstalled[] = "Не установлен: уже новых байт %1 из %2; %3";  // %3: a verdict
inline constexpr char kVerdictAppliesCleanly[] = "ставится чисто";
inline constexpr char kVerdictPartlyInstalled[] = "установлен частично";
inline constexpr char kVerdictOtherFirmware[] = "сделан для другой прошивки";
inline constexpr char kVerdictOldUnknown[] = "старые байты неизвестны";
inline constexpr char kDetailsDiffering[] = "Адрес %1: ожидается %2, найдено %3, старый %4";
inline constexpr char kDetailsOldUnknown[] = "неизвестен";
inline constexpr char kDetailsMoreDiffering[] = "…и ещё отличающихся адресов: %1";
inline constexpr char kDetailsShownDiffering[] = "Показано отличающихся адресов: %1 из %2";
inline constexpr char kDetailsBrokenLine[] = "Ошибка в строке %1: «%2»: %3";  // %3: the rule
inline constexpr char kRuleBadOffset[] = "смещение не шестнадцатеричное";
inline constexpr char kRuleBadAddress[] = "адрес не шестнадцатеричный";
inline constexpr char kRuleNoColon[] = "нет «:»";
inline constexpr char kRuleBadByte[] = "записываемый байт не шестнадцатеричный";
inline constexpr char kRuleBadAddressOrNoColon[] = "адрес не шестнадцатеричный или нет «:»";
inline constexpr char kDetailsByteOrderMark[] = "Файл начинается с метки порядка байтов UTF-8";
inline constexpr char kDetailsAddedAfterSearch[] = "Добавлен после поиска";
inline constexpr char kDetailsNotChecked[] = "Не проверен: поиск не дошёл до этого файла";
inline constexpr char kDetailsOtherBasis[] = "Проверен с другим образом или фильтром";
inline constexpr char kDetailsConflict[] = "Конфликтует с: %1 (%2 %3)";  // %3: адрес, адреса or адресов
inline constexpr char kDetailsReadingConflicts[] = "Поиск конфликтов: прочитано файлов %1 из %2…";
inline constexpr char kAddressesOne[] = "адрес";
inline constexpr char kAddressesFew[] = "адреса";
inline constexpr char kAddressesMany[] = "адресов";
// The status line's totals; the verdicts in brackets only where some row has them.
inline constexpr char kSearchTotals[] = "Установлено: %1, не установлено: %2%3, с ошибкой: %4";
inline constexpr char kTotalsClean[] = "чисто: ";
inline constexpr char kTotalsPartly[] = "частично: ";
inline constexpr char kTotalsOther[] = "другая прошивка: ";
inline constexpr char kTotalsUnknown[] = "неизвестно: ";
inline constexpr char kSearchStopped[] = "Поиск остановлен: проверено %1 из %2";
inline constexpr char kScanStopped[] = "Просмотр каталога остановлен: найдено файлов %1";
inline constexpr char kDetailsMenuEntry[] = "Подробности…";
inline constexpr char kDetailsTitle[] = "Подробности: %1";  // %1: the file's name
inline constexpr char kClose[] = "Закрыть";
inline constexpr char kAccDetailsText[] = "Подробности проверки";

// Full Flash selection
inline constexpr char kNotChosen[] = "<Не выбран>";
inline constexpr char kSizeNone[] = "Размер: 0 байт";
inline constexpr char kDateNone[] = "Дата модификации: 00.00.0000 00:00:00";
inline constexpr char kSizeFormat[] = "Размер: %s байт";  // %s: the decimal size
inline constexpr char kDateFormat[] = "Дата модификации: %s";
inline constexpr char kBinaryFilter[] = "Бинарные файлы (*.bin)|*.bin|Все файлы (*.*)|*.*||";
inline constexpr char kPatchFilter[] = "Файлы патчей (*.vkp)|*.vkp|Все файлы (*.*)|*.*||";

// Errors
inline constexpr char kErrorCaption[] = "Ошибка";
inline constexpr char kCurrentOpenError[] = "Ошибка открытия файла текущего Full Flash";
inline constexpr char kCurrentReadError[] = "Ошибка чтения файла текущего Full Flash";
inline constexpr char kOpenErrorPrefix[] = "Ошибка открытия файла '";  // + path + "'"
inline constexpr char kReadErrorPrefix[] = "Ошибка чтения файла '";    // + path + "'"
inline constexpr char kTooLargePrefix[] =
    "Файл размером 4 ГиБ или больше, его адреса не умещаются в 32 бита: '";  // + path + "'"
inline constexpr char kUnencodableFormat[] =
    "Символ %1 в строке %2 нельзя записать в кодировке Windows-1251. Файл не записан.";  // %1: U+XXXX, %2: line
inline constexpr char kFilterLoadErrorPrefix[] =
    "Не удалось прочитать фильтр адресов из файла настроек '";  // + path + "'"

// Comparison window
inline constexpr char kCompareTitle[] = "Сравнение Full Flash";
inline constexpr char kSave[] = "Записать";
inline constexpr char kStop[] = "Стоп";
inline constexpr char kAccCompareText[] = "Текст сравнения";
inline constexpr char kAccCompareProgress[] = "Ход сравнения";
inline constexpr char kReadingImages[] = "Чтение файлов";
// %1: the lines in the field so far, %2: all of them
inline constexpr char kFillingText[] = "Вывод текста: %1 из %2 строк";
inline constexpr char kPartialText[] = "Сравнение остановлено: текст неполный";
// %1: the most lines the field shows, %2: the text's size in MiB
inline constexpr char kTooManyLines[] =
    "Сравнение нашло больше %1 строк (%2 МиБ): поле не может показать их все.\n"
    "«Записать» сохранит все строки.";
inline constexpr char kUnsavedQuestion[] = "Текст сравнения изменён. Сохранить изменения?";
inline constexpr char kSaveChanges[] = "Сохранить";
inline constexpr char kDontSave[] = "Не сохранять";
// %1: the chosen file, which is one of the two images compared
inline constexpr char kSaveOverImage[] =
    "Файл '%1' — один из сравниваемых Full Flash: патч заменил бы образ. Выберите для патча другой файл.";

// The workbench: installing patches into the image and reverting them
inline constexpr char kInstallMenuEntry[] = "Установить в образ…";
inline constexpr char kRevertMenuEntry[] = "Откатить…";
inline constexpr char kInstallTitle[] = "Установка патчей";
inline constexpr char kRevertTitle[] = "Откат патчей";
inline constexpr char kInstallApplied[] = "будет установлен: записать %1 %2";
inline constexpr char kInstallReverted[] = "будет откачен: вернуть %1 %2";
inline constexpr char kBytesOne[] = "байт";
inline constexpr char kBytesFew[] = "байта";
inline constexpr char kBytesMany[] = "байт";
inline constexpr char kColumnInstallDecision[] = "Что будет";
inline constexpr char kInstallAlreadyInstalled[] = "уже установлен: ничего не записывается";
inline constexpr char kInstallAlreadyReverted[] = "уже откачен: ничего не записывается";
inline constexpr char kInstallRefused[] = "отказ: %1";
// %1: address, %2: the other patch's name, %3 and %4: the values the two write there
inline constexpr char kInstallCollision[] = "по адресу %1 патч «%2» пишет другое значение (%3 и %4)";
inline constexpr char kInstallTooLarge[] = "записывает слишком много байт для одного раза";
inline constexpr char kInstallNothingWritten[] = "Ничего не будет записано: патчей с отказом: %1";
inline constexpr char kInstallNothingToChange[] = "Образ уже такой, как нужно: изменять нечего";
inline constexpr char kInstallBytesChanged[] = "Будет изменено байт: %1";
inline constexpr char kInstallChecking[] = "Проверка патчей…";
inline constexpr char kInstallWriting[] = "Запись…";
inline constexpr char kInstallToNewFile[] = "Записать новый образ…";
inline constexpr char kInstallInPlace[] = "Изменить текущий образ";
inline constexpr char kInstallSaveUndo[] = "Сохранить патч отмены";
inline constexpr char kInstallWrite[] = "Записать";
inline constexpr char kInstallInPlaceQuestion[] =
    "Текущий образ «%1» будет изменён на месте. Прежнее содержимое останется только в патче отмены, если он "
    "сохраняется. Изменить образ?";
inline constexpr char kInstallStopped[] = "Остановлено: ничего не записано";
inline constexpr char kInstallOutputIsInput[] = "Файл '%1' — это сам образ или один из патчей: выберите другой файл";
inline constexpr char kInstallVerifyFailed[] =
    "Записанный файл '%1' при проверке не совпал с ожидаемым; он не сохранён";
inline constexpr char kInstallWaitingForImage[] = "Образ сейчас изменяет другая запись: ожидание её конца…";
inline constexpr char kInstallFilteredNote[] = "; фильтр адресов исключил байт: %1";
inline constexpr char kInstallUndoPatchNote[] = "Это патч отмены: его откатывают («Откатить…»), а не устанавливают";
inline constexpr char kInstallUndoSaved[] =
    "Патч отмены сохранён в '%1'. Чтобы вернуть прежние байты, откатите его («Откатить…»), а не устанавливайте";
inline constexpr char kInstallUndoExists[] =
    "Патч отмены '%1' уже есть: прежний патч отмены не заменяется. Ничего не записано";
inline constexpr char kInstallImageChanged[] =
    "Образ '%1' изменился, пока в него записывались патчи: ничего не записано";
inline constexpr char kSaveIsInput[] = "Файл «%1» сейчас читается: выберите для записи другой файл";
inline constexpr char kInstallProposedSuffix[] = "_patched";
inline constexpr char kRevertProposedSuffix[] = "_reverted";
inline constexpr char kAccInstallList[] = "Что будет с патчами";
inline constexpr char kAccInstallProgress[] = "Ход установки";
inline constexpr char kAccRevertProgress[] = "Ход отката";
inline constexpr char kAccInstallReason[] = "Что будет с выбранным патчем";

// Porting patches to the current image
inline constexpr char kPortMenuEntry[] = "Перенести на эту прошивку…";
inline constexpr char kPortTitle[] = "Перенос патчей на %1";  // %1: the current image's file name
inline constexpr char kColumnPortResult[] = "Перенос";
inline constexpr char kPortStatusPorted[] = "перенесён";
inline constexpr char kPortStatusFits[] = "подходит как есть";
inline constexpr char kPortStatusRefused[] = "отказ";
inline constexpr char kPortRefused[] = "отказ: %1";
inline constexpr char kPortPiece[] = "Кусок %1-%2";  // its lowest and highest addresses in the patch
inline constexpr char kPortPieceShift[] = "сдвиг %1";
inline constexpr char kPortPieceInstalled[] = ", там уже установлен";
inline constexpr char kPortPieceWrittenOnly[] = ", место найдено по одним записываемым байтам";
inline constexpr char kPortPieceOldUnknown[] = "старые байты неизвестны (адрес %1)";
inline constexpr char kPortPieceTooShort[] = "слишком короткий, чтобы найти его место";
inline constexpr char kPortPieceNotFound[] = "не найден";
// %1: how many places, %2: the first of them where the piece would go
inline constexpr char kPortPieceAmbiguous[] = "найден в нескольких местах (%1): %2";
inline constexpr char kPortPlacesAtLeast[] = "не менее %1";
inline constexpr char kPortRefusedPieces[] = "место найдено не для всех кусков";
// %1: the firmware's file name, %2: the address, %3: the patch's old byte, %4: the firmware's
inline constexpr char kPortRefusedOtherFirmware[] = "сделан не для «%1»: по адресу %2 старый байт %3, там %4";
inline constexpr char kPortRefusedBeyondFirmware[] = "сделан не для «%1»: пишет по адресу %2, за её концом";
inline constexpr char kPortRefusedOverlap[] = "два куска после сдвига пишут по одному адресу %1";
inline constexpr char kPortSummary[] = "Перенесено: %1, подходят как есть: %2, с отказом: %3";
inline constexpr char kPortRunning[] = "Перенос…";
inline constexpr char kPortStopped[] = "Перенос остановлен";
inline constexpr char kPortWriteStopped[] = "Запись остановлена: записано файлов %1 из %2";
inline constexpr char kPortWriteFailed[] = "Не записано файлов: %1 из %2";
inline constexpr char kPortFromOriginal[] =
    "Использовать оригинальный Full Flash как прошивку, для которой сделаны патчи";
inline constexpr char kPortAddToList[] = "Добавить в список";
inline constexpr char kPortProposedSuffix[] = "_ported";
inline constexpr char kPortOutputIsInput[] =
    "Файл «%1» — это образ, прошивка, файл настроек или один из переносимых патчей: он не заменяется. "
    "Ничего не записано";
inline constexpr char kPortSharedOutput[] = "Два патча записались бы в один файл «%1». Ничего не записано";
// %1: the folder, %2: how many files, %3: their names
inline constexpr char kPortReplaceQuestion[] = "В каталоге «%1» уже есть файлы с этими именами (%2): %3. Заменить их?";
inline constexpr char kAccPortList[] = "Перенос патчей";
inline constexpr char kAccPortProgress[] = "Ход переноса";

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
inline constexpr char kFilterSaveErrorPrefix[] =
    "Не удалось записать фильтр адресов в файл настроек '";  // + path + "'"

}  // namespace quillet::text
