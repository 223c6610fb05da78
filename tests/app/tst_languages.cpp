#include "LanguageDialog.h"
#include "LanguageFiles.h"
#include "MainActions.h"
#include "MainWindow.h"
#include "ProgramObjects.h"
#include "ScriptedQuestions.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QListWidget>
#include <QMenu>
#include <QTest>
#include <QTimer>

namespace {
QStringList listEntries(const LanguageDialog &dialog)
{
    QStringList entries;
    for (int i = 0; i < dialog.list()->count(); ++i)
        entries << dialog.list()->item(i)->text();
    return entries;
}
} // namespace

class TestLanguages : public QObject
{
    Q_OBJECT
private slots:
    void shippedTranslationInstalledOnce();
    void shippedGermanIsComplete();
    void dialogListsNamedKvFilesSorted();
    void dialogSelectionGivesPath();
    void doubleClickAccepts();
    void mainWindowSwitchesLanguageAtOnce();
    void mainWindowStartsInStoredLanguage();
};

void TestLanguages::shippedTranslationInstalledOnce()
{
    TestHome::Fresh home;
    ProgramObjects objects;
    const QString german = LanguageFiles::folder() + QStringLiteral("/KVGerman.txt");
    QCOMPARE(LanguageFiles::installShipped(), QStringList{QStringLiteral("KVGerman.txt")});
    QVERIFY(QFile::exists(german));
    QCOMPARE(TestFiles::read(german), TestFiles::read(QStringLiteral(":/languages/KVGerman.txt")));

    // A user's own file of that name is never overwritten.
    TestFiles::write(german, "LanguageName=Mein Deutsch\n0000=\"Meine Datei\";\n");
    QVERIFY(LanguageFiles::installShipped().isEmpty());
    QCOMPARE(TestFiles::read(german),
             QByteArray("LanguageName=Mein Deutsch\n0000=\"Meine Datei\";\n"));
}

void TestLanguages::shippedGermanIsComplete()
{
    UiText texts;
    texts.loadTranslation(QStringLiteral(":/languages/KVGerman.txt"));
    QCOMPARE(UiText::languageName(QStringLiteral(":/languages/KVGerman.txt")),
             QStringLiteral("Deutsch"));
    QCOMPARE(texts.translationCount(), UiText::Count);
    int translated = 0;
    for (int i = 0; i < UiText::Count; ++i) {
        const QString english = UiText::builtInText(i);
        if (english.isEmpty())
            continue;
        QVERIFY2(!texts.text(i).isEmpty(), qPrintable(QString::number(i)));
        if (texts.text(i) != english)
            ++translated;
    }
    QVERIFY2(translated >= 170, qPrintable(QString::number(translated)));
    QCOMPARE(texts.text(5), QString::fromUtf8("\xc3\x96"
                                              "ffnen"));
    QCOMPARE(texts.text(81),
             QStringLiteral("Aufruf: initusb\r\n USB-Anschluss neu initialisieren."));
}

void TestLanguages::dialogListsNamedKvFilesSorted()
{
    TestHome::Fresh home;
    ProgramObjects objects;
    LanguageFiles::installShipped();
    const QString folder = LanguageFiles::folder();
    TestFiles::write(folder + QStringLiteral("/KVAfrikaans.txt"), "LanguageName=Afrikaans\n");
    TestFiles::write(folder + QStringLiteral("/KVNoName.txt"), "0000=\"x\";\n");
    TestFiles::write(folder + QStringLiteral("/Spanish.txt"), "LanguageName=Espanol\n");
    TestFiles::write(folder + QStringLiteral("/KVZulu.txt"), "LanguageName = Zulu\n");

    LanguageDialog dialog;
    QCOMPARE(dialog.size(), QSize(291, 340));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Language Selection"));
    QCOMPARE(dialog.list()->size(), QSize(250, 235));
    QCOMPARE(listEntries(dialog),
             QStringList({QStringLiteral("Afrikaans"), QStringLiteral("Deutsch"),
                          QStringLiteral("English(default)"), QStringLiteral("Zulu")}));
}

void TestLanguages::dialogSelectionGivesPath()
{
    TestHome::Fresh home;
    ProgramObjects objects;
    LanguageFiles::installShipped();
    LanguageDialog dialog;
    QVERIFY(dialog.selectedPath().isEmpty()); // nothing selected
    const QList<QListWidgetItem *> german =
        dialog.list()->findItems(QStringLiteral("Deutsch"), Qt::MatchExactly);
    QCOMPARE(german.size(), 1);
    dialog.list()->setCurrentItem(german.first());
    QCOMPARE(dialog.selectedPath(), LanguageFiles::folder() + QStringLiteral("/KVGerman.txt"));
    dialog.list()->setCurrentItem(
        dialog.list()->findItems(LanguageDialog::defaultEntry(), Qt::MatchExactly).first());
    QVERIFY(dialog.selectedPath().isEmpty());
}

void TestLanguages::doubleClickAccepts()
{
    TestHome::Fresh home;
    ProgramObjects objects;
    LanguageFiles::installShipped();
    LanguageDialog dialog;
    QListWidgetItem *item =
        dialog.list()->findItems(QStringLiteral("Deutsch"), Qt::MatchExactly).first();
    QTimer::singleShot(0, &dialog, [&] {
        dialog.list()->setCurrentItem(item);
        emit dialog.list()->itemDoubleClicked(item);
    });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QVERIFY(dialog.selectedPath().endsWith(QStringLiteral("/Languages/KVGerman.txt")));
}

void TestLanguages::mainWindowSwitchesLanguageAtOnce()
{
    TestHome::Fresh home;
    ProgramObjects objects;
    LanguageFiles::installShipped();
    ScriptedQuestions questions;
    MainWindow window(&questions);
    QCOMPARE(window.windowTitle(), QStringLiteral("Korvane 1.10  "));
    QCOMPARE(window.exitAction()->text(), QStringLiteral("Exit"));
    QCOMPARE(window.fileMenu()->title(), QStringLiteral("File"));

    const QString german = LanguageFiles::folder() + QStringLiteral("/KVGerman.txt");
    window.applyLanguage(german);
    QCOMPARE(settings().string(Settings::LanguageFile), german);
    QCOMPARE(window.exitAction()->text(), QStringLiteral("Beenden"));
    QCOMPARE(window.exitAction()->statusTip(), QStringLiteral("Programm beenden"));
    QCOMPARE(window.fileMenu()->title(), QStringLiteral("Datei"));
    QCOMPARE(window.languageAction()->text(), QStringLiteral("Sprache"));

    window.applyLanguage(QString());
    QCOMPARE(settings().string(Settings::LanguageFile), QString());
    QCOMPARE(window.exitAction()->text(), QStringLiteral("Exit"));
    QCOMPARE(window.fileMenu()->title(), QStringLiteral("File"));
    QCOMPARE(window.languageAction()->statusTip(), QStringLiteral("Select new language"));
}

void TestLanguages::mainWindowStartsInStoredLanguage()
{
    TestHome::Fresh home;
    ProgramObjects objects;
    LanguageFiles::installShipped();
    settings().setString(Settings::LanguageFile,
                         LanguageFiles::folder() + QStringLiteral("/KVGerman.txt"));
    ScriptedQuestions questions;
    MainWindow window(&questions);
    QCOMPARE(window.exitAction()->text(), QStringLiteral("Beenden"));
    QCOMPARE(window.actions().stop->text(), QStringLiteral("Stopp"));
    uiText().loadTranslation(QString());
}

KORVANE_TEST_MAIN_WITH(QApplication, TestLanguages)
#include "tst_languages.moc"
