// The program's "Text (*.x)|*.x|...||" filters as the name filters Qt's file dialog takes.
#include <QtTest>

#include "ui/common/user_prompts.h"

class UserPromptsTest : public QObject {
  Q_OBJECT

 private slots:
  void filtersBecomeQtNameFilters_data() {
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("images: *.* means every file")
        << QStringLiteral("Бинарные файлы (*.bin)|*.bin|Все файлы (*.*)|*.*||")
        << QStringList{QStringLiteral("Бинарные файлы (*.bin)"), QStringLiteral("Все файлы (*)")};
    QTest::newRow("patches") << QStringLiteral("Файлы патчей (*.vkp)|*.vkp|Все файлы (*.*)|*.*||")
                             << QStringList{QStringLiteral("Файлы патчей (*.vkp)"), QStringLiteral("Все файлы (*)")};
    QTest::newRow("several patterns") << QStringLiteral("Text (*.txt;*.log)|*.txt; *.log||")
                                      << QStringList{QStringLiteral("Text (*.txt *.log)")};
    QTest::newRow("the patterns decide, not the text")
        << QStringLiteral("Patches (*.txt)|*.vkp||") << QStringList{QStringLiteral("Patches (*.vkp)")};
    QTest::newRow("text without patterns shown")
        << QStringLiteral("Patches|*.vkp||") << QStringList{QStringLiteral("Patches (*.vkp)")};
    QTest::newRow("no patterns: every file")
        << QStringLiteral("Anything||") << QStringList{QStringLiteral("Anything (*)")};
    QTest::newRow("empty") << QString() << QStringList{};
    QTest::newRow("the list ends at ||") << QStringLiteral("A (*.a)|*.a||B (*.b)|*.b||")
                                         << QStringList{QStringLiteral("A (*.a)")};
  }
  void filtersBecomeQtNameFilters() {
    QFETCH(QString, filter);
    QTEST(ToQtNameFilters(filter), "expected");
  }
};

QTEST_MAIN(UserPromptsTest)
#include "user_prompts_test.moc"
