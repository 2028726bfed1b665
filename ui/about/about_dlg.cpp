#include "ui/about/about_dlg.h"

#include <QLabel>
#include <QPushButton>

#include "ui/common/dialog_units.h"
#include "ui/common/resources.h"
#include "ui/common/window_text.h"

namespace quillet {

namespace {
constexpr int kIconPixels = 32;
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("IDD_ABOUTBOX"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  setWindowTitle(QString::fromUtf8(quillet::text::kAboutTitle));
  setFont(DialogUnits::DialogFont());
  const DialogUnits du(font());
  setFixedSize(du.size(235, 55));

  // A static icon control takes the icon's own size at its position.
  auto* icon = new QLabel(this);
  icon->setPixmap(quillet::res::AppIcon().pixmap(kIconPixels, kIconPixels));
  icon->setGeometry(du.x(11), du.y(17), kIconPixels, kIconPixels);
  icon->setAccessibleName(QString::fromUtf8(quillet::text::kAppName));

  auto* version = new QLabel(QString::fromUtf8(quillet::text::kAboutVersion), this);
  version->setObjectName(QStringLiteral("IDC_VERSION_TEXT"));
  version->setGeometry(du.rect(40, 10, 119, 8));

  auto* ok = new QPushButton(QString::fromUtf8(quillet::text::kOk), this);
  ok->setObjectName(QStringLiteral("IDOK"));
  ok->setGeometry(du.rect(178, 7, 50, 14));
  ok->setDefault(true);
  ok->setFocus();
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

CAboutDlg::~CAboutDlg() = default;

}  // namespace quillet
