#pragma once

#include <QFile>
#include <QString>

// The message log's copy on disk: opened for appending with a first line
// "Log Start", then one Latin-1 line ended by CR LF per message.
class LogFile
{
public:
    // Closes the open file; opens `path` when not empty. False when the
    // file cannot be opened (nothing is written then).
    bool open(const QString &path);
    void close();
    bool isOpen() const { return m_file.isOpen(); }
    QString fileName() const { return m_file.fileName(); }
    void write(const QString &line);

private:
    QFile m_file;
};
