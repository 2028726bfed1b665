#pragma once
// Scripted answers for every prompt a dialog may show, so that no test waits on
// a real modal dialog; a test hands it to the dialog it builds. Queue the answers a test expects; an unexpected prompt
// gets the "cancelled" answer and is recorded, so the test can fail on it.
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <vector>

#include "ui/common/user_prompts.h"

namespace quillet::testing {

class FakePrompts final : public IUserPrompts {
 public:
  struct Box {
    QString text;
    QString caption;
    Icon icon;
  };

  std::deque<QString> openFileNames;      // answers of GetOpenFileName
  std::deque<QStringList> openFileLists;  // answers of GetOpenFileNames
  std::deque<QString> directories;        // answers of GetExistingDirectory
  std::deque<QString> saveFileNames;      // answers of GetSaveFileName and GetSaveFileNameFor
  std::vector<SaveChoice> saveChoices;    // what every GetSaveFileNameFor was told
  std::vector<Box> boxes;                 // every message box shown
  std::vector<QString> opened;            // every path handed to the desktop
  std::vector<QString> lastFilters;       // the filter of every file prompt
  std::function<void(const Box&)> onBox;  // runs while a box is "open"
  std::deque<SaveAnswer> saveAnswers;     // answers of AskToSave
  std::vector<QString> saveQuestions;     // every AskToSave text
  std::deque<bool> confirmations;         // answers of Confirm
  std::vector<QString> questions;         // every Confirm text

  QString GetOpenFileName(QWidget*, const QString& filter, const QString&) override {
    lastFilters.push_back(filter);
    return Take(openFileNames);
  }
  QStringList GetOpenFileNames(QWidget*, const QString& filter, const QString&) override {
    lastFilters.push_back(filter);
    return Take(openFileLists);
  }
  QString GetExistingDirectory(QWidget*) override { return Take(directories); }
  QString GetSaveFileName(QWidget*, const QString& filter, const QString&) override {
    lastFilters.push_back(filter);
    return Take(saveFileNames);
  }
  QString GetSaveFileNameFor(QWidget*, const QString& filter, const QString&, const SaveChoice& choice) override {
    lastFilters.push_back(filter);
    saveChoices.push_back(choice);
    return Take(saveFileNames);
  }
  void MessageBox(QWidget*, const QString& text, const QString& caption, Icon icon) override {
    boxes.push_back({text, caption, icon});
    if (onBox) onBox(boxes.back());
  }
  SaveAnswer AskToSave(QWidget*, const QString& text, const QString&) override {
    saveQuestions.push_back(text);
    if (saveAnswers.empty()) return SaveAnswer::cancel;
    const SaveAnswer answer = saveAnswers.front();
    saveAnswers.pop_front();
    return answer;
  }
  bool Confirm(QWidget*, const QString& text, const QString&) override {
    questions.push_back(text);
    return Take(confirmations);
  }
  bool OpenWithDesktop(const QString& path) override {
    opened.push_back(path);
    return true;
  }

 private:
  template <typename T>
  static T Take(std::deque<T>& queue) {
    if (queue.empty()) return T();
    T value = queue.front();
    queue.pop_front();
    return value;
  }
};

}  // namespace quillet::testing
