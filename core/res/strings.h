#pragma once
// The texts both programs share, and those written into the patch files they
// make, each defined once (UTF-8). On disk, patch files carry them in
// Windows-1251. The window's own words are in ui/common/window_text.h.

#include "core/res/version.h"

namespace quillet::text {

// The program and its version
inline constexpr char kAppName[] = "Quillet";
inline constexpr char kVersion[] = QUILLET_VERSION;

// Both programs say so alike
inline constexpr char kOutOfMemory[] = "Out of memory.";

// Comparison header (the .vkp text)
inline constexpr char kHeaderOriginal[] = ";Оригинальный Full Flash: ";
inline constexpr char kHeaderCurrent[] = ";Текущий Full Flash: ";
// An undo patch's first line, and the start of it by which one is known.
inline constexpr char kHeaderUndoMark[] = ";Патч отмены:";
inline constexpr char kHeaderUndo[] =
    ";Патч отмены: хранит байты образа до изменения. Его откатывают («Откатить…»), а не устанавливают";
inline constexpr char kHeaderSize[] = ";Размер: ";  // + size + " байт"
inline constexpr char kHeaderBytes[] = " байт";
inline constexpr char kHeaderDate[] = ";Дата модификации: ";

// Ported patch header (the .vkp text)
inline constexpr char kPortHeaderSource[] = ";Перенесённый патч: ";
inline constexpr char kPortHeaderImage[] = ";Перенесён на Full Flash: ";
inline constexpr char kPortHeaderFirmware[] = ";Сделан для Full Flash: ";
inline constexpr char kPortHeaderPiece[] = ";Кусок ";   // + first address + "-" + last address
inline constexpr char kPortHeaderShift[] = ": сдвиг ";  // + the shift, "+0x1A0" or "-0x10" or "0"
inline constexpr char kPortHeaderInstalled[] = ", уже установлен";

}  // namespace quillet::text
