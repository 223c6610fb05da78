#pragma once

#include <QString>
#include <QStringList>

// The file list of the "Select Files" dialog: names in the order they were
// added, never the excluded name (the image the files are compared with),
// never a name twice.
class FileSelection
{
public:
    explicit FileSelection(QString excluded) : m_excluded(std::move(excluded)) {}

    // False (nothing added) for an empty name, the excluded name or one
    // already listed.
    bool add(const QString &fileName);
    // Removes the entry at `row`; nothing for a row outside the list.
    void remove(int row);
    const QStringList &files() const { return m_files; }

private:
    QString m_excluded;
    QStringList m_files;
};
