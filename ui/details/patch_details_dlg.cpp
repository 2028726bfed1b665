#include "ui/details/patch_details_dlg.h"

#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QPushButton>

#include <utility>

#include "core/search/patch_conflicts.h"
#include "ui/common/dialog_units.h"
#include "ui/common/window_text.h"

namespace quillet {

CPatchDetailsDlg::CPatchDetailsDlg(const QString& title, const QString& text, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("IDD_PATCH_DETAILS"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  setWindowTitle(title);
  setFont(DialogUnits::DialogFont());
  const DialogUnits du(font());
  setFixedSize(du.size(300, 160));

  m_text = new QPlainTextEdit(this);
  m_text->setObjectName(QStringLiteral("IDC_DETAILS_TEXT"));
  m_text->setGeometry(du.rect(7, 7, 286, 126));
  // Addresses and bytes line up in columns only in a fixed-pitch font.
  m_text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  m_text->setReadOnly(true);
  // A broken line is quoted whole: wrapped, it stays readable without scrolling.
  m_text->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  m_text->setAccessibleName(QString::fromUtf8(quillet::text::kAccDetailsText));
  m_text->setPlainText(text);

  auto* close = new QPushButton(QString::fromUtf8(quillet::text::kClose), this);
  close->setObjectName(QStringLiteral("IDCANCEL"));
  close->setGeometry(du.rect(243, 139, 50, 14));
  close->setDefault(true);
  connect(close, &QPushButton::clicked, this, &QDialog::close);
  close->setFocus();
}

CPatchDetailsDlg::~CPatchDetailsDlg() = default;

void CPatchDetailsDlg::FindConflicts(std::vector<std::string> paths, std::vector<std::string> names, std::size_t row,
                                     Compose compose) {
  m_shown = m_text->toPlainText();
  m_compose = std::move(compose);
  quillet::JobLink& link = *m_link;
  quillet::ConflictEvents events{
      .reading = link.Latest<std::size_t, std::size_t>([this](std::size_t read, std::size_t files) {
        m_text->setPlainText(m_shown + QLatin1Char('\n') +
                             QString::fromUtf8(quillet::text::kDetailsReadingConflicts).arg(read).arg(files));
      }),
  };
  const bool started = link.Start<quillet::ConflictsOutcome>(
      [paths = std::move(paths), events = std::move(events)](quillet::StopToken stop) {
        return quillet::FindPatchConflicts(paths, events, stop);
      },
      [this, names = std::move(names), row](quillet::ConflictsOutcome& outcome) {
        // Only closing the window stops the job, and then this is never called.
        m_text->setPlainText(m_compose(quillet::ConflictsOfRow(outcome.found, names, row)));
      });
  // Without a thread the evidence is still worth showing, without conflicts.
  if (!started) m_text->setPlainText(m_compose({}));
}

}  // namespace quillet
