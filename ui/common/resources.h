#pragma once
#include <QIcon>
#include <QPixmap>

#include "core/search/patch_check.h"

// The pictures compiled in from res/*.xpm (plain text, editable by hand).
namespace quillet::res {

// IDR_MAINFRAME: the program's icon.
[[nodiscard]] QIcon AppIcon();

// IDB_PATCH_ICON: the small image every row of the patch list carries.
[[nodiscard]] QPixmap PatchIcon();

// The side of the list's small pictures, in pixels.
inline constexpr int kSmallImage = 16;

// One 16 x 16 picture of IDB_PATCH_STATES, chosen by the row's status: the
// status values are the strip's 1-based picture numbers.
[[nodiscard]] QPixmap PatchStateImage(quillet::PatchStatus status);

}  // namespace quillet::res
