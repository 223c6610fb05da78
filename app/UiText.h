#pragma once

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QReadWriteLock>
#include <QString>
#include <QStringList>

class QObject;
class QTextCodec;

// The table of every text the user interface shows, fetched by number. A
// translation file overlays the built-in English texts; menus, actions and
// labels registered here are relabelled at once when another translation is
// loaded.
//
// Registration works on any QObject through its Qt properties ("title" for
// menus, "text" and "statusTip" for actions, "text" for labels), so the table
// itself needs no widgets.
class UiText
{
public:
    static constexpr int Count = 191;
    static constexpr int LastIndex = Count - 1;
    static const char *const builtInTexts[Count];

    UiText() = default;
    UiText(const UiText &) = delete;
    UiText &operator=(const UiText &) = delete;

    // The text for `index`: the translation's entry when it has a non-empty
    // one, else the built-in text; empty outside 0..190. Safe from any thread.
    QString text(int index) const;

    static QString builtInText(int index);

    void registerMenu(QObject *menu, int index);
    void registerAction(QObject *action, int textIndex, int statusTipIndex);
    // A label is registered at most once; a second call only sets its text.
    void registerLabel(QObject *label, int index);
    void retranslate();

    // Replaces the translation from the file at `path` (empty: the built-in
    // English texts) and relabels everything registered.
    void loadTranslation(const QString &path);
    // The display name of a translation file, without loading it; empty when
    // the file cannot be read or has no "LanguageName=" line.
    static QString languageName(const QString &path);

    // Number of entries the current translation provides (0: none loaded).
    int translationCount() const;
    // Name of the codec the current translation selected, empty when none.
    QString codecName() const;

private:
    struct MenuEntry
    {
        QPointer<QObject> object;
        int index;
    };
    struct ActionEntry
    {
        QPointer<QObject> object;
        int textIndex;
        int statusTipIndex;
    };

    mutable QReadWriteLock m_lock;
    QList<QByteArray> m_translation; // raw bytes, one entry per index from 0
    QTextCodec *m_codec = nullptr;
    QList<MenuEntry> m_menus;
    QList<ActionEntry> m_actions;
    QList<MenuEntry> m_labels;
};
