#include "ui/common/resources.h"

#include <QtGlobal>

// The resources live in a static library: nothing would pull their object file
// into the program unless something calls the initialiser by name.
static void InitQuilletResources() {
  static const bool done = [] {
    Q_INIT_RESOURCE(quillet);
    return true;
  }();
  (void)done;
}

namespace quillet::res {

namespace {}

QIcon AppIcon() {
  InitQuilletResources();
  return QIcon(QStringLiteral(":/res/idr_mainframe.xpm"));
}

QPixmap PatchIcon() {
  InitQuilletResources();
  return QPixmap(QStringLiteral(":/res/idb_patch_icon.xpm"));
}

QPixmap PatchStateImage(PatchStatus status) {
  InitQuilletResources();
  const QPixmap strip(QStringLiteral(":/res/idb_patch_states.xpm"));
  const int index = static_cast<int>(status);
  if (index < 1 || index * kSmallImage > strip.width()) return {};
  return strip.copy((index - 1) * kSmallImage, 0, kSmallImage, kSmallImage);
}

}  // namespace quillet::res
