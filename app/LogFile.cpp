#include "LogFile.h"

bool LogFile::open(const QString &path)
{
    close();
    if (path.isEmpty())
        return false;
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    m_file.write("Log Start\r\n");
    m_file.flush();
    return true;
}

void LogFile::close()
{
    if (m_file.isOpen())
        m_file.close();
}

void LogFile::write(const QString &line)
{
    if (!m_file.isOpen())
        return;
    m_file.write(line.toLatin1() + "\r\n");
    m_file.flush();
}
