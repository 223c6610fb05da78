#pragma once

#include <QDialog>

class QListWidget;

// Lets the user pick the interface language: "English(default)" and the
// display names of the translation files in the "Languages" folder.
class LanguageDialog : public QDialog
{
    Q_OBJECT
public:
    static QString defaultEntry() { return QStringLiteral("English(default)"); }

    explicit LanguageDialog(QWidget *parent = nullptr);

    QListWidget *list() const { return m_list; }
    // The file of the selected entry, found again by its display name; empty
    // for "English(default)" and when nothing is selected.
    QString selectedPath() const;

private:
    QListWidget *m_list;
};
