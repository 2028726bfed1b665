#include "ui/common/user_prompts.h"

#include <QFileInfo>
#include <QSettings>

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

#include <utility>

#include "ui/common/window_text.h"

namespace quillet {

QStringList ToQtNameFilters(const QString& filter) {
  // Entries come in pairs: the text shown, then its patterns; "||" ends the list.
  const QStringList parts = filter.split(QLatin1Char('|'));
  QStringList result;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString shown = parts[i].trimmed();
    if (shown.isEmpty()) break;
    QStringList patterns;
    for (const QString& pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
      const QString trimmed = pattern.trimmed();
      patterns << (trimmed == QLatin1String("*.*") ? QStringLiteral("*") : trimmed);
    }
    if (patterns.isEmpty()) patterns << QStringLiteral("*");
    // Qt reads the patterns from the last parentheses of the text, so they replace
    // the ones the text shows (or are added where it shows none).
    const qsizetype open = shown.lastIndexOf(QLatin1Char('('));
    if (open >= 0 && shown.endsWith(QLatin1Char(')'))) shown.truncate(open);
    result << shown.trimmed() + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
  }
  return result;
}

namespace {

class QtDesktopPrompts final : public IUserPrompts {
 public:
  QString GetOpenFileName(QWidget* owner, const QString& filter, const QString& defaultSuffix) override {
    // Any typed name is taken: a file that then can't be opened leaves the
    // image not chosen, as any unopenable file does.
    const QStringList files = Run(owner, filter, defaultSuffix, QFileDialog::AcceptOpen, QFileDialog::AnyFile);
    return files.isEmpty() ? QString() : files.front();
  }

  QStringList GetOpenFileNames(QWidget* owner, const QString& filter, const QString& defaultSuffix) override {
    return Run(owner, filter, defaultSuffix, QFileDialog::AcceptOpen, QFileDialog::ExistingFiles);
  }

  QString GetExistingDirectory(QWidget* owner) override {
    const QString key = QStringLiteral("folders/patch-folder");
    QString folder = QFileDialog::getExistingDirectory(owner, QString(), LastFolder(key), QFileDialog::ShowDirsOnly);
    if (!folder.isEmpty()) RememberFolder(key, folder);
    return folder;
  }

  QString GetSaveFileName(QWidget* owner, const QString& filter, const QString& defaultSuffix) override {
    return GetSaveFileNameFor(owner, filter, defaultSuffix, {});
  }

  QString GetSaveFileNameFor(QWidget* owner, const QString& filter, const QString& defaultSuffix,
                             const SaveChoice& choice) override {
    const QStringList files = Run(owner, filter, defaultSuffix, QFileDialog::AcceptSave, QFileDialog::AnyFile, &choice);
    return files.isEmpty() ? QString() : files.front();
  }

  void MessageBox(QWidget* owner, const QString& text, const QString& caption, Icon icon) override {
    QMessageBox box(ToQt(icon), caption, text, QMessageBox::Ok, owner);
    box.exec();
  }

  SaveAnswer AskToSave(QWidget* owner, const QString& text, const QString& caption) override {
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel,
                    owner);
    box.button(QMessageBox::Save)->setText(QString::fromUtf8(quillet::text::kSaveChanges));
    box.button(QMessageBox::Discard)->setText(QString::fromUtf8(quillet::text::kDontSave));
    box.button(QMessageBox::Cancel)->setText(QString::fromUtf8(quillet::text::kCancel));
    box.setDefaultButton(QMessageBox::Save);
    box.setEscapeButton(QMessageBox::Cancel);
    switch (box.exec()) {
      case QMessageBox::Save:
        return SaveAnswer::save;
      case QMessageBox::Discard:
        return SaveAnswer::discard;
      default:
        return SaveAnswer::cancel;
    }
  }

  bool Confirm(QWidget* owner, const QString& text, const QString& caption) override {
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Yes | QMessageBox::No, owner);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
  }

  bool OpenWithDesktop(const QString& path) override {
    // Handed over as a file URL: the path is never parsed by a shell.
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
  }

 private:
  // A save dialog that refuses the files being read before Qt's own accept
  // asks whether to replace one of them.
  class SaveDialog final : public QFileDialog {
   public:
    SaveDialog(QWidget* owner, QStringList inputs) : QFileDialog(owner), m_inputs(std::move(inputs)) {}
    void accept() override {
      const QStringList chosen = selectedFiles();
      if (!chosen.isEmpty()) {
        const QFileInfo file(chosen.front());
        for (const QString& input : m_inputs) {
          if (file == QFileInfo(input)) {
            QMessageBox box(QMessageBox::Warning, windowTitle(),
                            QString::fromUtf8(quillet::text::kSaveIsInput).arg(file.fileName()), QMessageBox::Ok, this);
            box.exec();
            return;
          }
        }
      }
      QFileDialog::accept();
    }

   private:
    QStringList m_inputs;
  };

  static QStringList Run(QWidget* owner, const QString& filter, const QString& defaultSuffix,
                         QFileDialog::AcceptMode mode, QFileDialog::FileMode fileMode,
                         const SaveChoice* choice = nullptr) {
    // Each kind of file dialog opens where it was last used, also in the next run.
    const QString key =
        QStringLiteral("folders/%1-%2").arg(mode == QFileDialog::AcceptSave ? "save" : "open", defaultSuffix);
    SaveDialog dialog(owner, choice ? choice->inputs : QStringList());
    // A native dialog would ask about replacing before the refusal could come.
    if (choice && !choice->inputs.isEmpty()) dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(fileMode);
    dialog.setNameFilters(ToQtNameFilters(filter));
    dialog.setDefaultSuffix(defaultSuffix);
    if (choice && !choice->proposed.isEmpty()) {
      dialog.setDirectory(QFileInfo(choice->proposed).absolutePath());
      dialog.selectFile(QFileInfo(choice->proposed).fileName());
    } else if (const QString last = LastFolder(key); !last.isEmpty()) {
      dialog.setDirectory(last);
    }
    if (dialog.exec() != QDialog::Accepted) return {};
    QStringList files = dialog.selectedFiles();
    if (!files.isEmpty()) RememberFolder(key, QFileInfo(files.front()).absolutePath());
    return files;
  }

  // Kept with the user's other settings (~/.config/quillet/quillet.conf), not
  // in the filter's settings file, which may belong to a project folder.
  static QString LastFolder(const QString& key) {
    const QString folder = QSettings(QStringLiteral("quillet"), QStringLiteral("quillet")).value(key).toString();
    return QFileInfo(folder).isDir() ? folder : QString();
  }
  static void RememberFolder(const QString& key, const QString& folder) {
    QSettings(QStringLiteral("quillet"), QStringLiteral("quillet")).setValue(key, folder);
  }

  static QMessageBox::Icon ToQt(Icon icon) {
    switch (icon) {
      case Icon::exclamation:
        return QMessageBox::Warning;
      case Icon::stop:
        return QMessageBox::Critical;
      case Icon::none:
        break;
    }
    return QMessageBox::NoIcon;
  }
};

}  // namespace

IUserPrompts& DesktopPrompts() {
  static QtDesktopPrompts prompts;
  return prompts;
}

}  // namespace quillet
