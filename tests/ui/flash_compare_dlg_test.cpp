// The comparison window with the real worker on real files, offscreen: its
// states, stopping it at every point of a run, closing it while the worker
// runs, and saving what the field shows.
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QtTest>

#include <fstream>
#include <memory>
#include <sstream>

#include "core/filter/address_filter.h"
#include "core/vkp/vkp_text.h"
#include "tests/support/fake_prompts.h"
#include "ui/app/patch_finder_app.h"
#include "ui/compare/flash_compare_dlg.h"
#include "ui/main_window/patch_finder_dlg.h"

using quillet::CFlashCompareDlg;
using quillet::CPatchFinderDlg;
using quillet::IUserPrompts;
using quillet::testing::FakePrompts;

using quillet::AddressFilter;
using quillet::AddressRange;

namespace {

using State = CFlashCompareDlg::RunState;
constexpr int kRunTimeoutMs = 60000;

void WriteAll(const QString& path, const QByteArray& bytes) {
  std::ofstream out(path.toStdString(), std::ios::binary | std::ios::trunc);
  out.write(bytes.constData(), bytes.size());
}

QByteArray ReadAll(const QString& path) {
  std::ifstream in(path.toStdString(), std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return QByteArray::fromStdString(bytes.str());
}

// The field's text for a comparison text: the edit shows LF where the text has CR LF.
QString Shown(const std::string& text) {
  return QString::fromStdString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

// A pattern image and a copy with one byte changed every `stride` bytes.
QByteArray Pattern(int size) {
  QByteArray bytes(size, '\0');
  for (int i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return bytes;
}

QByteArray ChangedEvery(QByteArray bytes, int stride) {
  for (int i = 0; i < bytes.size(); i += stride) bytes[i] = static_cast<char>(~bytes[i]);
  return bytes;
}

}  // namespace

class FlashCompareDlgTest : public QObject {
  Q_OBJECT

 private:
  struct Controls {
    QPlainTextEdit* text;
    QPushButton* save;
    QPushButton* cancel;
    QProgressBar* progress;
    QLabel* partial;
  };

  static Controls Find(CFlashCompareDlg& dlg) {
    Controls c{dlg.findChild<QPlainTextEdit*>("IDC_DIFF_TEXT"), dlg.findChild<QPushButton*>("IDC_DIFF_SAVE"),
               dlg.findChild<QPushButton*>("IDCANCEL"), dlg.findChild<QProgressBar*>("IDC_PROGRESS"),
               dlg.findChild<QLabel*>("partialNote")};
    if (!c.text || !c.save || !c.cancel || !c.progress || !c.partial)
      qFatal("a control of the comparison window is missing");
    return c;
  }

  // The window's visible state once a long text is in the field, checked as a
  // whole so a failure names what differs; a stopped run says it is partial.
  static void VerifyState(CFlashCompareDlg& dlg, State state, bool stopped = false) {
    const Controls c = Find(dlg);
    QCOMPARE(dlg.State(), state);
    QCOMPARE(c.cancel->text(), state == State::ended ? QString("Выход") : QString("Стоп"));
    QCOMPARE(c.save->isEnabled(), state == State::ended);
    QCOMPARE(c.progress->isVisibleTo(&dlg), state != State::ended);
    QCOMPARE(c.partial->isVisibleTo(&dlg), stopped);
    if (stopped) QCOMPARE(c.partial->text(), QString("Сравнение остановлено: текст неполный"));
  }

  // Images whose walk, paced, takes long enough to act in the middle of it:
  // every group holds a difference, and a long filter list holds none of the
  // addresses.
  void MakeSlowRun() {
    WriteAll(m_original, Pattern(kSlowSize));
    WriteAll(m_current, ChangedEvery(Pattern(kSlowSize), 16));
    std::vector<AddressRange> ranges;
    for (std::uint32_t i = 0; i < 3000; ++i) ranges.push_back({0xF0000000u + 2 * i, 0xF0000000u + 2 * i});
    m_filter = ranges;
  }
  static constexpr int kSlowSize = 4 << 20;
  // About four seconds for the whole slow run.
  static constexpr std::chrono::microseconds kSlowPace{1000};

  quillet::CompareJob Job() const { return {m_original.toStdString(), m_current.toStdString(), m_filter}; }

  QTemporaryDir m_dir;
  QString m_original;
  QString m_current;
  AddressFilter m_filter;
  FakePrompts m_prompts;  // for the tests that expect no prompt

 private slots:
  void init() {
    m_filter.clear();
    m_original = m_dir.filePath("original.bin");
    m_current = m_dir.filePath("current.bin");
    QFile::remove(m_original);
    QFile::remove(m_current);
  }

  void cleanup() { m_filter.clear(); }

  void finishedRunShowsHeaderAndLines_data() {
    QTest::addColumn<QByteArray>("original");
    QTest::addColumn<QByteArray>("current");
    QTest::addColumn<QString>("lines");

    QByteArray base(0x40, '\0');
    QByteArray changed = base;
    changed[0x0F] = '\xAA';
    changed[0x10] = '\xBB';
    changed[0x11] = '\xCC';
    QTest::newRow("identical images: header only") << base << base << "";
    QTest::newRow("a run across a group boundary") << base << changed << "00000F: 00 AA\n000010: 0000 BBCC\n";
  }

  void finishedRunShowsHeaderAndLines() {
    QFETCH(QByteArray, original);
    QFETCH(QByteArray, current);
    QFETCH(QString, lines);
    WriteAll(m_original, original);
    WriteAll(m_current, current);
    FakePrompts prompts;
    CFlashCompareDlg dlg(nullptr, Job(), prompts);
    const Controls c = Find(dlg);
    const QString header = Shown(quillet::ComposeComparisonHeader(m_original.toStdString(), m_current.toStdString()));

    // Before the worker runs: the header at once, "Стоп", nothing to save.
    VerifyState(dlg, State::reading);
    QCOMPARE(c.text->toPlainText(), header);

    dlg.show();
    QTRY_COMPARE_WITH_TIMEOUT(dlg.State(), State::ended, kRunTimeoutMs);
    VerifyState(dlg, State::ended);
    QCOMPARE(c.text->toPlainText(), header + lines);
    QCOMPARE(c.text->textCursor().position(), 0);
    QVERIFY(!c.text->textCursor().hasSelection());
    QVERIFY(prompts.boxes.empty());
    QVERIFY(dlg.isVisible());
  }

  void unreadableImageBoxComesFirst_data() {
    QTest::addColumn<bool>("originalMissing");
    QTest::newRow("original missing") << true;
    QTest::newRow("current missing") << false;
  }

  void unreadableImageBoxComesFirst() {
    QFETCH(bool, originalMissing);
    WriteAll(originalMissing ? m_current : m_original, QByteArray(64, '\1'));
    const QString missing = originalMissing ? m_original : m_current;
    FakePrompts prompts;
    CFlashCompareDlg dlg(nullptr, Job(), prompts);
    State stateWhileBoxOpen = State::ended;
    prompts.onBox = [&](const FakePrompts::Box&) { stateWhileBoxOpen = dlg.State(); };
    dlg.show();
    QTRY_COMPARE_WITH_TIMEOUT(dlg.State(), State::ended, kRunTimeoutMs);
    QCOMPARE(prompts.boxes.size(), std::size_t{1});
    QCOMPARE(prompts.boxes[0].text, "Ошибка открытия файла '" + missing + "'");
    QCOMPARE(prompts.boxes[0].caption, QString("Ошибка"));
    QCOMPARE(prompts.boxes[0].icon, IUserPrompts::Icon::none);
    // The window waits for the box to be answered before it ends the run.
    QCOMPARE(stateWhileBoxOpen, State::reading);
    VerifyState(dlg, State::ended);
    QCOMPARE(Find(dlg).text->toPlainText(),
             Shown(quillet::ComposeComparisonHeader(m_original.toStdString(), m_current.toStdString())));
  }

  // "Стоп", Escape and the close box during a run stop it and keep the window;
  // after the run they close it.
  void cancelStopsThenCloses_data() {
    QTest::addColumn<int>("how");
    QTest::newRow("Стоп / Выход button") << 0;
    QTest::newRow("Escape") << 1;
    QTest::newRow("close box") << 2;
  }

  void cancelStopsThenCloses() {
    QFETCH(int, how);
    MakeSlowRun();
    CFlashCompareDlg dlg(nullptr, Job(), m_prompts);
    dlg.SetWorkerPacing(kSlowPace);
    const Controls c = Find(dlg);
    const auto cancel = [&] {
      if (how == 0) QTest::mouseClick(c.cancel, Qt::LeftButton);
      if (how == 1) QTest::keyClick(&dlg, Qt::Key_Escape);
      if (how == 2) dlg.close();
    };
    dlg.show();
    // Stopped at the start, before the worker has said anything: asked, and
    // the worker's done call ends the run.
    cancel();
    QTRY_COMPARE_WITH_TIMEOUT(dlg.State(), State::ended, kRunTimeoutMs);
    VerifyState(dlg, State::ended, true);
    QVERIFY(dlg.isVisible());
    QCOMPARE(c.text->toPlainText(),
             Shown(quillet::ComposeComparisonHeader(m_original.toStdString(), m_current.toStdString())));
    QTRY_VERIFY(!dlg.IgnoringClicks());
    cancel();
    QVERIFY(!dlg.isVisible());
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
  }

  void stopInTheMiddleKeepsTheLinesFoundSoFar() {
    MakeSlowRun();
    CFlashCompareDlg dlg(nullptr, Job(), m_prompts);
    dlg.SetWorkerPacing(kSlowPace);
    const Controls c = Find(dlg);
    const QString header = Shown(quillet::ComposeComparisonHeader(m_original.toStdString(), m_current.toStdString()));
    dlg.show();
    QTRY_COMPARE_WITH_TIMEOUT(dlg.State(), State::comparing, kRunTimeoutMs);
    VerifyState(dlg, State::comparing);
    QCOMPARE(c.progress->maximum(), kSlowSize);
    QTRY_VERIFY_WITH_TIMEOUT(c.progress->value() > 0, kRunTimeoutMs);
    QVERIFY(c.progress->value() < kSlowSize);

    // Typed during the run, replaced by the comparison text when the run ends.
    c.text->appendPlainText(QStringLiteral("typed while comparing"));
    QTest::mouseClick(c.cancel, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(dlg.State() == State::ended && !dlg.Filling(), kRunTimeoutMs);
    VerifyState(dlg, State::ended, true);
    QVERIFY(!dlg.WorkerRunning());
    const QString atStop = c.text->toPlainText();
    QVERIFY(!atStop.contains(QStringLiteral("typed while comparing")));
    QVERIFY(atStop.startsWith(header));

    // Every line found so far, in order: one changed byte per group of 16.
    const QStringList lines = atStop.mid(header.size()).split('\n');
    QVERIFY(lines.size() >= 2);
    QVERIFY(lines.size() < kSlowSize / 16);
    QCOMPARE(lines.back(), QString());
    for (int i = 0; i + 1 < lines.size(); ++i)
      QVERIFY2(lines[i].startsWith(QString("%1: ").arg(i * 16, 6, 16, QChar('0')).toUpper()), qPrintable(lines[i]));
  }

  void closingDuringARunWaitsForTheWorker_data() {
    QTest::addColumn<bool>("waitForStart");
    QTest::newRow("worker still reading or in its start message") << false;
    QTest::newRow("worker walking") << true;
  }

  void closingDuringARunWaitsForTheWorker() {
    QFETCH(bool, waitForStart);
    MakeSlowRun();
    FakePrompts prompts;
    auto dlg = std::make_unique<CFlashCompareDlg>(nullptr, Job(), prompts);
    dlg->SetWorkerPacing(kSlowPace);
    dlg->show();
    if (waitForStart) QTRY_COMPARE_WITH_TIMEOUT(dlg->State(), State::comparing, kRunTimeoutMs);
    QElapsedTimer clock;
    clock.start();
    dlg.reset();  // must neither hang nor leave the worker running on a dead window
    QVERIFY2(clock.elapsed() < kRunTimeoutMs, "closing took too long");
    QVERIFY(prompts.boxes.empty());
  }

  void savingWritesTheFieldAsShown() {
    QByteArray original(0x20, '\0');
    QByteArray current = original;
    current[0x11] = '\x7F';
    WriteAll(m_original, original);
    WriteAll(m_current, current);
    FakePrompts prompts;
    CFlashCompareDlg dlg(nullptr, Job(), prompts);
    const Controls c = Find(dlg);
    dlg.show();
    QTRY_COMPARE_WITH_TIMEOUT(dlg.State(), State::ended, kRunTimeoutMs);

    // An edit after the end is saved as typed, Cyrillic in Windows-1251, and
    // Shift+Enter's line break inside a block is a line end like any other.
    QTextCursor cursor = c.text->textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(QStringLiteral(";Мой") + QChar(QChar::LineSeparator) + QStringLiteral(";патч"));
    c.text->setTextCursor(cursor);
    const QString target = m_dir.filePath("saved.vkp");
    WriteAll(target, "old content that must go");
    prompts.saveFileNames.push_back(target);
    QTest::mouseClick(c.save, Qt::LeftButton);

    QVERIFY(prompts.boxes.empty());
    QCOMPARE(prompts.lastFilters.back(), QString("Файлы патчей (*.vkp)|*.vkp|Все файлы (*.*)|*.*||"));
    const QByteArray saved = ReadAll(target);
    // Every line of the field, CR LF after each; the header's first word in Windows-1251.
    QVERIFY(saved.startsWith(";\xCE\xF0\xE8\xE3\xE8\xED\xE0\xEB\xFC\xED\xFB\xE9 Full Flash: "));
    QVERIFY(saved.endsWith("\r\n\r\n000011: 00 7F\r\n;\xCC\xEE\xE9\r\n;\xEF\xE0\xF2\xF7\r\n"));
    const int lines = c.text->document()->blockCount() + 1;
    QCOMPARE(saved.count("\r\n"), lines);
    QCOMPARE(saved.count('\n'), saved.count("\r\n"));
    QVERIFY(dlg.isVisible());

    // A character Windows-1251 lacks is named, with its line, and nothing is written.
    cursor.insertText(QStringLiteral("中"));
    prompts.saveFileNames.push_back(target);
    QTest::mouseClick(c.save, Qt::LeftButton);
    QCOMPARE(prompts.boxes.size(), std::size_t{1});
    QCOMPARE(prompts.boxes[0].caption, QString("Ошибка"));
    QCOMPARE(prompts.boxes[0].text, QString("Символ U+4E2D в строке %1 нельзя записать в кодировке Windows-1251. "
                                            "Файл не записан.")
                                        .arg(lines));
    QCOMPARE(ReadAll(target), saved);
  }

  void savingAnUnmodifiedComparisonEndsWithAnEmptyLine() {
    WriteAll(m_original, QByteArray(16, '\0'));
    WriteAll(m_current, QByteArray(16, '\0'));
    FakePrompts prompts;
    CFlashCompareDlg dlg(nullptr, Job(), prompts);
    dlg.show();
    QTRY_COMPARE_WITH_TIMEOUT(dlg.State(), State::ended, kRunTimeoutMs);
    const QString target = m_dir.filePath("identical.vkp");
    prompts.saveFileNames.push_back(target);
    QTest::mouseClick(Find(dlg).save, Qt::LeftButton);
    const QByteArray saved = ReadAll(target);
    QVERIFY(saved.endsWith("\r\n\r\n\r\n"));  // the header's empty line, then the field's empty last line
    QVERIFY(!saved.endsWith("\r\n\r\n\r\n\r\n"));
  }

  void saveProblemsLoseNothing_data() {
    QTest::addColumn<QString>("answer");  // the save dialog's answer; empty = cancelled
    QTest::addColumn<bool>("expectBox");
    QTest::newRow("cancelled") << QString() << false;
    QTest::newRow("folder missing") << QString("missing/x.vkp") << true;
    // The file dialog's overwrite question is not enough for these.
    QTest::newRow("the original image") << QString("original.bin") << true;
    QTest::newRow("the current image, spelled otherwise") << QString("./current.bin") << true;
  }

  void saveProblemsLoseNothing() {
    QFETCH(QString, answer);
    QFETCH(bool, expectBox);
    WriteAll(m_original, QByteArray(16, '\0'));
    WriteAll(m_current, QByteArray(16, '\1'));
    FakePrompts prompts;
    CFlashCompareDlg dlg(nullptr, Job(), prompts);
    const Controls c = Find(dlg);
    dlg.show();
    QTRY_COMPARE_WITH_TIMEOUT(dlg.State(), State::ended, kRunTimeoutMs);
    const QString before = c.text->toPlainText();
    prompts.saveFileNames.push_back(answer.isEmpty() ? answer : m_dir.filePath(answer));
    QTest::mouseClick(c.save, Qt::LeftButton);
    QCOMPARE(prompts.boxes.size(), std::size_t{expectBox ? 1u : 0u});
    if (expectBox) QVERIFY2(prompts.boxes[0].text.contains(answer), qPrintable(prompts.boxes[0].text));
    QVERIFY(dlg.isVisible());
    QVERIFY(c.save->isEnabled());
    QCOMPARE(c.text->toPlainText(), before);
    QVERIFY(!QFile::exists(m_dir.filePath("missing")));
    QCOMPARE(ReadAll(m_original), QByteArray(16, '\0'));
    QCOMPARE(ReadAll(m_current), QByteArray(16, '\1'));
  }

  void enterPressesTheFocusedButtonAndBreaksLinesInTheField() {
    WriteAll(m_original, QByteArray(16, '\0'));
    WriteAll(m_current, QByteArray(16, '\1'));
    FakePrompts prompts;
    CFlashCompareDlg dlg(nullptr, Job(), prompts);
    const Controls c = Find(dlg);
    dlg.show();
    dlg.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    QTRY_COMPARE_WITH_TIMEOUT(dlg.State(), State::ended, kRunTimeoutMs);
    QTRY_VERIFY(!dlg.IgnoringClicks());

    c.text->setFocus();
    const int blocks = c.text->document()->blockCount();
    QTest::keyClick(c.text, Qt::Key_Return);
    QCOMPARE(c.text->document()->blockCount(), blocks + 1);
    QVERIFY(dlg.isVisible());

    const QString target = m_dir.filePath("by-enter.vkp");
    prompts.saveFileNames.push_back(target);
    c.save->setFocus();
    QTest::keyClick(c.save, Qt::Key_Return);
    QVERIFY(prompts.saveFileNames.empty());
    QCOMPARE(ReadAll(target).count("\r\n"), blocks + 1);
    QVERIFY(dlg.isVisible());

    c.cancel->setFocus();
    QTest::keyClick(c.cancel, Qt::Key_Enter, Qt::KeypadModifier);
    QVERIFY(!dlg.isVisible());
    QVERIFY(prompts.boxes.empty());
  }

  // Edits after the run are asked about before the window drops them; the
  // window stays unless they were saved or given up.
  void editedTextIsOfferedForSavingOnClose_data() {
    QTest::addColumn<IUserPrompts::SaveAnswer>("answer");
    QTest::addColumn<QString>("file");  // the save dialog's answer; empty = cancelled
    QTest::addColumn<bool>("closes");
    QTest::newRow("save") << IUserPrompts::SaveAnswer::save << QString("edited.vkp") << true;
    QTest::newRow("save, file dialog cancelled") << IUserPrompts::SaveAnswer::save << QString() << false;
    QTest::newRow("save fails") << IUserPrompts::SaveAnswer::save << QString("missing/x.vkp") << false;
    QTest::newRow("don't save") << IUserPrompts::SaveAnswer::discard << QString() << true;
    QTest::newRow("cancel") << IUserPrompts::SaveAnswer::cancel << QString() << false;
  }

  void editedTextIsOfferedForSavingOnClose() {
    QFETCH(IUserPrompts::SaveAnswer, answer);
    QFETCH(QString, file);
    QFETCH(bool, closes);
    WriteAll(m_original, QByteArray(16, '\0'));
    WriteAll(m_current, QByteArray(16, '\1'));
    FakePrompts prompts;
    CFlashCompareDlg dlg(nullptr, Job(), prompts);
    const Controls c = Find(dlg);
    dlg.show();
    QTRY_COMPARE_WITH_TIMEOUT(dlg.State(), State::ended, kRunTimeoutMs);
    QTRY_VERIFY(!dlg.IgnoringClicks());
    c.text->moveCursor(QTextCursor::End);
    c.text->insertPlainText(QStringLiteral(";edit"));
    const QString edited = c.text->toPlainText();

    prompts.saveAnswers.push_back(answer);
    if (!file.isEmpty()) prompts.saveFileNames.push_back(m_dir.filePath(file));
    QTest::mouseClick(c.cancel, Qt::LeftButton);
    QCOMPARE(prompts.saveQuestions.size(), std::size_t{1});
    QCOMPARE(prompts.saveQuestions[0], QString("Текст сравнения изменён. Сохранить изменения?"));
    QCOMPARE(dlg.isVisible(), !closes);
    if (answer == IUserPrompts::SaveAnswer::save && closes)
      QVERIFY(ReadAll(m_dir.filePath(file)).endsWith(";edit\r\n"));
    if (closes) return;
    QCOMPARE(c.text->toPlainText(), edited);
    // Still edited: asked again, and this time given up.
    prompts.saveAnswers.push_back(IUserPrompts::SaveAnswer::discard);
    QTest::keyClick(&dlg, Qt::Key_Escape);
    QCOMPARE(prompts.saveQuestions.size(), std::size_t{2});
    QVERIFY(!dlg.isVisible());
  }

  // A click meant for "Стоп" that lands just after the run ended must not
  // close the window and lose the result; a later click does.
  void aClickJustAfterTheRunEndedIsNotCarriedOver() {
    WriteAll(m_original, QByteArray(16, '\0'));
    WriteAll(m_current, QByteArray(16, '\1'));
    CFlashCompareDlg dlg(nullptr, Job(), m_prompts);
    const Controls c = Find(dlg);
    dlg.show();
    QTRY_COMPARE_WITH_TIMEOUT(dlg.State(), State::ended, kRunTimeoutMs);
    QTest::mouseClick(c.cancel, Qt::LeftButton);
    QTest::keyClick(&dlg, Qt::Key_Escape);
    QVERIFY(dlg.isVisible());
    QTRY_VERIFY(!dlg.IgnoringClicks());
    QTest::mouseClick(c.cancel, Qt::LeftButton);
    QVERIFY(!dlg.isVisible());
  }

  // "Стоп" ends the run whether the worker is reading the images or walking
  // them; while reading, the bar follows the bytes read.
  void stopEndsTheRun_data() {
    QTest::addColumn<bool>("whileReading");
    QTest::newRow("reading") << true;
    QTest::newRow("walking") << false;
  }

  void stopEndsTheRun() {
    QFETCH(bool, whileReading);
    if (whileReading) {
      constexpr int kSize = 16 << 20;  // read a MiB at a time, each paced
      WriteAll(m_original, Pattern(kSize));
      WriteAll(m_current, ChangedEvery(Pattern(kSize), 16));
    } else {
      MakeSlowRun();
    }
    auto dlg = std::make_unique<CFlashCompareDlg>(nullptr, Job(), m_prompts);
    dlg->SetWorkerPacing(kSlowPace);
    const Controls c = Find(*dlg);
    dlg->show();
    if (whileReading) {
      QTRY_VERIFY_WITH_TIMEOUT(c.progress->value() > 0, kRunTimeoutMs);
      QCOMPARE(dlg->State(), State::reading);
      QVERIFY(c.progress->value() < c.progress->maximum());
    } else {
      QTRY_COMPARE_WITH_TIMEOUT(dlg->State(), State::comparing, kRunTimeoutMs);
    }
    QTest::mouseClick(c.cancel, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(dlg->State() == State::ended && !dlg->Filling(), kRunTimeoutMs);
    VerifyState(*dlg, State::ended, true);
    dlg.reset();
  }

  // Too many lines for the field: it says so, and "Записать" still saves every
  // line, in the very bytes a field holding them would save.
  void aResultTooLargeForTheFieldIsSavedWhole() {
    WriteAll(m_original, Pattern(4096));
    WriteAll(m_current, ChangedEvery(Pattern(4096), 16));
    FakePrompts prompts;
    QByteArray inside;
    QByteArray outside;
    for (const bool tooMany : {false, true}) {
      CFlashCompareDlg dlg(nullptr, Job(), prompts);
      dlg.SetFieldLimits(tooMany ? 100 : CFlashCompareDlg::kFieldMaxLines, CFlashCompareDlg::kFieldMaxBytes);
      dlg.show();
      QTRY_COMPARE_WITH_TIMEOUT(dlg.State(), State::ended, kRunTimeoutMs);
      QCOMPARE(dlg.ResultOutsideField(), tooMany);
      QCOMPARE(Find(dlg).text->document()->blockCount() < 100, tooMany);
      const QString target = m_dir.filePath(tooMany ? "outside.vkp" : "inside.vkp");
      prompts.saveFileNames.push_back(target);
      QTest::mouseClick(Find(dlg).save, Qt::LeftButton);
      (tooMany ? outside : inside) = ReadAll(target);
    }
    QVERIFY(prompts.boxes.empty());
    QCOMPARE(inside.count("\r\n"), 7 + 256 + 1);
    QCOMPARE(outside, inside);
  }

  void resizeKeepsButtonsInTheCorner_data() {
    QTest::addColumn<QSize>("size");
    QTest::newRow("larger") << QSize(900, 640);
    QTest::newRow("maximised-like") << QSize(1920, 1080);
    QTest::newRow("smaller") << QSize(300, 200);
  }

  void resizeKeepsButtonsInTheCorner() {
    QFETCH(QSize, size);
    WriteAll(m_original, QByteArray(16, '\0'));
    WriteAll(m_current, QByteArray(16, '\0'));
    CFlashCompareDlg dlg(nullptr, Job(), m_prompts);
    const Controls c = Find(dlg);
    const QSize saveSize = c.save->size();
    const QSize exitSize = c.cancel->size();
    dlg.resize(size);
    dlg.show();
    QTRY_COMPARE_WITH_TIMEOUT(dlg.State(), State::ended, kRunTimeoutMs);
    const int cx = dlg.width();
    const int cy = dlg.height();
    QCOMPARE(c.cancel->size(), exitSize);
    QCOMPARE(c.save->size(), saveSize);
    QCOMPARE(c.cancel->geometry().bottomRight(), QPoint(cx - 1, cy - 1));
    QCOMPARE(c.save->geometry().right() + 1, c.cancel->geometry().left());
    QCOMPARE(c.save->geometry().bottom(), cy - 1);
    QCOMPARE(c.progress->geometry(),
             QRect(0, cy - saveSize.height(), cx - exitSize.width() - saveSize.width(), saveSize.height()));
    QCOMPARE(c.text->geometry(), QRect(0, 0, cx, cy - 25));
  }

  void liesOverItsOwnerAndTakesItsPaths() {
    WriteAll(m_original, QByteArray(32, '\0'));
    WriteAll(m_current, QByteArray(32, '\2'));
    FakePrompts prompts;
    CPatchFinderDlg owner(m_dir.filePath("quillet.INI").toStdString(), m_filter, prompts);
    owner.m_strOriginalFlash = m_original.toStdString();
    owner.m_strCurrentFlash = m_current.toStdString();
    owner.setGeometry(40, 50, 700, 500);
    CFlashCompareDlg dlg(&owner, {owner.m_strOriginalFlash, owner.m_strCurrentFlash, owner.Filter()}, prompts);
    QCOMPARE(dlg.geometry(), owner.geometry());
    QCOMPARE(dlg.windowTitle(), QString("Сравнение Full Flash"));
    dlg.show();
    QTRY_COMPARE_WITH_TIMEOUT(dlg.State(), State::ended, kRunTimeoutMs);
    QVERIFY(
        Find(dlg).text->toPlainText().endsWith("000000: 00000000000000000000000000000000 "
                                               "02020202020202020202020202020202\n"
                                               "000010: 00000000000000000000000000000000 "
                                               "02020202020202020202020202020202\n"));
  }

  void focusPutsTheCaretAtTheStart() {
    WriteAll(m_original, QByteArray(16, '\0'));
    WriteAll(m_current, QByteArray(16, '\1'));
    CFlashCompareDlg dlg(nullptr, Job(), m_prompts);
    const Controls c = Find(dlg);
    dlg.show();
    QTRY_COMPARE_WITH_TIMEOUT(dlg.State(), State::ended, kRunTimeoutMs);
    c.save->setFocus();
    c.text->selectAll();
    QFocusEvent focusIn(QEvent::FocusIn, Qt::TabFocusReason);
    QCoreApplication::sendEvent(c.text, &focusIn);
    QCOMPARE(c.text->textCursor().position(), 0);
    QVERIFY(!c.text->textCursor().hasSelection());
    // A context menu closing gives the focus back; the selection stays.
    c.text->selectAll();
    QFocusEvent fromPopup(QEvent::FocusIn, Qt::PopupFocusReason);
    QCoreApplication::sendEvent(c.text, &fromPopup);
    QVERIFY(c.text->textCursor().hasSelection());
  }

  // Figures for a run of QUILLET_BIG_RUN_LINES lines (one per 16 bytes): the
  // longest the event loop waited from the start until the field was done, and
  // how long "Стоп" in the middle of the walk took until the worker had ended.
  void bigRunFigures() {
    const int lines = qEnvironmentVariableIntValue("QUILLET_BIG_RUN_LINES");
    if (lines <= 0) QSKIP("set QUILLET_BIG_RUN_LINES to measure");
    {
      QByteArray original(lines * 16, '\0');
      for (int i = 0; i < original.size(); ++i) original.data()[i] = static_cast<char>(i * 7);
      WriteAll(m_original, original);
      for (int i = 0; i < original.size(); i += 16) original.data()[i] = static_cast<char>(~original.data()[i]);
      WriteAll(m_current, original);
    }
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    QTimer ticker;
    ticker.setInterval(5);
    connect(&ticker, &QTimer::timeout, [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
    {
      CFlashCompareDlg dlg(nullptr, Job(), m_prompts);
      QElapsedTimer clock;
      clock.start();
      sinceTick.start();
      ticker.start();
      dlg.show();
      QTRY_COMPARE_WITH_TIMEOUT(dlg.State(), State::comparing, 600000);
      const qint64 read = clock.elapsed();
      const qint64 gapReading = longestGap;
      QTRY_COMPARE_WITH_TIMEOUT(dlg.State(), State::ended, 600000);
      const qint64 walked = clock.elapsed();
      const qint64 gapWalking = longestGap;
      QTRY_VERIFY_WITH_TIMEOUT(!dlg.Filling(), 600000);
      ticker.stop();
      qInfo(
          "%d lines: read %lld ms, walked %lld ms, shown %lld ms (%s); longest wait of the event loop: "
          "%lld ms reading, %lld ms to the end of the walk, %lld ms in all",
          lines, static_cast<long long>(read), static_cast<long long>(walked - read),
          static_cast<long long>(clock.elapsed() - walked),
          dlg.ResultOutsideField() ? "outside the field" : "in the field", static_cast<long long>(gapReading),
          static_cast<long long>(gapWalking), static_cast<long long>(longestGap));
      clock.restart();
      if (dlg.ResultOutsideField()) {
        const QString target = m_dir.filePath("big.vkp");
        m_prompts.saveFileNames.push_back(target);
        QTest::mouseClick(Find(dlg).save, Qt::LeftButton);
        qInfo("saved %lld bytes in %lld ms", static_cast<long long>(QFileInfo(target).size()),
              static_cast<long long>(clock.elapsed()));
        clock.restart();
      }
      dlg.close();
      QTRY_VERIFY(!dlg.IgnoringClicks());
      dlg.close();
      QVERIFY(!dlg.isVisible());
      clock.restart();
    }
    {
      auto dlg = std::make_unique<CFlashCompareDlg>(nullptr, Job(), m_prompts);
      const Controls c = Find(*dlg);
      dlg->show();
      // As early in the walk as it can be seen: a small run is walked in a few turns of the loop.
      QTRY_VERIFY_WITH_TIMEOUT(
          dlg->State() == State::ended || (dlg->State() == State::comparing && c.progress->value() > 0), 600000);
      if (dlg->State() == State::ended) QSKIP("the walk ended before it could be stopped");
      longestGap = 0;
      sinceTick.start();
      ticker.start();
      QElapsedTimer clock;
      clock.start();
      QTest::mouseClick(c.cancel, Qt::LeftButton);
      const qint64 stopped = clock.elapsed();
      QTRY_VERIFY_WITH_TIMEOUT(!dlg->Filling(), 600000);
      const qint64 shown = clock.elapsed();
      ticker.stop();
      clock.restart();
      dlg.reset();
      qInfo(
          "stop in the middle of the walk: window ended in %lld ms, field done after %lld ms (longest wait %lld ms), "
          "window and worker gone %lld ms later",
          static_cast<long long>(stopped), static_cast<long long>(shown), static_cast<long long>(longestGap),
          static_cast<long long>(clock.elapsed()));
    }
  }

  // Hundreds of thousands of lines must not freeze the window for long: the
  // longest gap between two turns of the event loop is measured while the
  // field is filled.
  void manyLinesKeepTheWindowResponsive() {
    constexpr int kLines = 300000;
    WriteAll(m_original, Pattern(kLines * 16));
    WriteAll(m_current, ChangedEvery(Pattern(kLines * 16), 16));
    CFlashCompareDlg dlg(nullptr, Job(), m_prompts);
    const Controls c = Find(dlg);
    QElapsedTimer clock;
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    QTimer ticker;
    ticker.setInterval(5);
    connect(&ticker, &QTimer::timeout, [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
    clock.start();
    sinceTick.start();
    ticker.start();
    dlg.show();
    QTRY_COMPARE_WITH_TIMEOUT(dlg.State(), State::ended, kRunTimeoutMs);
    // From here on only this thread works, so the gaps are the fill's own and
    // not those of two busy threads on a shared machine.
    longestGap = 0;
    sinceTick.restart();
    // Until the field holds the whole text, it can't be saved or edited, and
    // the bar says how far the field has got.
    QVERIFY(dlg.Filling());
    QVERIFY(!c.save->isEnabled());
    QVERIFY(c.text->isReadOnly());
    QVERIFY(c.progress->isVisibleTo(&dlg));
    QTRY_VERIFY_WITH_TIMEOUT(c.progress->text().contains(QRegularExpression(
                                 QString("^Вывод текста: [1-9][0-9]* из %1 строк$").arg(kLines + 7))),
                             kRunTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(!dlg.Filling(), kRunTimeoutMs);
    ticker.stop();
    qInfo("%d lines compared and shown in %lld ms; while filling, the event loop waited at most %lld ms", kLines,
          static_cast<long long>(clock.elapsed()), static_cast<long long>(longestGap));
    VerifyState(dlg, State::ended);
    QVERIFY(!c.text->isReadOnly());
    QCOMPARE(c.text->document()->blockCount(), 7 + kLines + 1);
    const QByteArray lastOld = Pattern(kLines * 16).mid((kLines - 1) * 16, 1);
    QCOMPARE(c.text->document()->findBlockByNumber(7 + kLines - 1).text(),
             QString("%1: ").arg((kLines - 1) * 16, 6, 16, QChar('0')).toUpper() + lastOld.toHex().toUpper() + ' ' +
                 ChangedEvery(lastOld, 1).toHex().toUpper());
    QCOMPARE(c.text->textCursor().position(), 0);

    // Against filling the field in one go, on this machine and in this build.
    QPlainTextEdit atOnce;
    const QString whole = c.text->toPlainText();
    QElapsedTimer fill;
    fill.start();
    atOnce.setPlainText(whole);
    const qint64 atOnceMs = fill.elapsed();
    qInfo("filling the field in one go takes %lld ms", static_cast<long long>(atOnceMs));
    QVERIFY2(longestGap * 2 < atOnceMs, "the sliced fill blocks the window about as long as one fill");
  }
};

QTEST_MAIN(FlashCompareDlgTest)
#include "flash_compare_dlg_test.moc"
