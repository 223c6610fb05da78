#include "FileSelection.h"

bool FileSelection::add(const QString &fileName)
{
    if (fileName.isEmpty() || fileName == m_excluded || m_files.contains(fileName))
        return false;
    m_files << fileName;
    return true;
}

void FileSelection::remove(int row)
{
    if (row >= 0 && row < m_files.size())
        m_files.removeAt(row);
}
