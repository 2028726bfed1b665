#pragma once
#include <QString>
#include <QStringList>

class QWidget;

namespace quillet {

// Every modal prompt and every hand-off to the desktop goes through here, so
// that tests can answer them with a scripted fake instead of a real dialog.
// An empty result means "cancelled".
class IUserPrompts {
 public:
  enum class Icon { none, exclamation, stop };

  virtual ~IUserPrompts() = default;

  // filter in the "Text (*.x)|*.x|...||" form of the program's texts.
  virtual QString GetOpenFileName(QWidget* owner, const QString& filter, const QString& defaultSuffix) = 0;
  virtual QStringList GetOpenFileNames(QWidget* owner, const QString& filter, const QString& defaultSuffix) = 0;
  virtual QString GetExistingDirectory(QWidget* owner) = 0;
  // Asks before an existing file is overwritten.
  virtual QString GetSaveFileName(QWidget* owner, const QString& filter, const QString& defaultSuffix) = 0;
  // What a save dialog may be told beyond its filter.
  struct SaveChoice {
    QString proposed;    // the file (folder and name) it opens with; empty: the last folder, no name
    QStringList inputs;  // the files being read, which are refused before the overwrite question
  };
  // The same, opening as choice proposes and refusing its inputs.
  virtual QString GetSaveFileNameFor(QWidget* owner, const QString& filter, const QString& defaultSuffix,
                                     const SaveChoice& choice) {
    (void)choice;
    return GetSaveFileName(owner, filter, defaultSuffix);
  }
  // A box with one OK button; returns when it is answered.
  virtual void MessageBox(QWidget* owner, const QString& text, const QString& caption, Icon icon) = 0;
  enum class SaveAnswer { save, discard, cancel };
  // A question with the buttons "Сохранить", "Не сохранять" and "Отмена";
  // closing the box is "Отмена".
  virtual SaveAnswer AskToSave(QWidget* owner, const QString& text, const QString& caption) = 0;
  // A yes-or-no question for a step that can't be taken back; "No" is the
  // default, and closing the box is "No".
  virtual bool Confirm(QWidget* owner, const QString& text, const QString& caption) = 0;
  // Opens the file with the desktop's default application, never through a shell.
  virtual bool OpenWithDesktop(const QString& path) = 0;
};

// The program's "Text (*.x)|*.x|...||" filter as Qt's name filters, one per
// entry. "*.*" means every file there, so it becomes "*"; patterns that the
// form separates with ';' are separated with spaces.
QStringList ToQtNameFilters(const QString& filter);

// The real dialogs and the desktop, which the program hands to its windows.
IUserPrompts& DesktopPrompts();

}  // namespace quillet
