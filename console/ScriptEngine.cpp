#include "ScriptEngine.h"

#include <QFile>
#include <QRegularExpression>

bool ScriptEngine::load(const QString &path, const QStringList &arguments)
{
    unload();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QString text = QString::fromLatin1(file.readAll());
    if (file.error() != QFileDevice::NoError)
        return false;
    static const QRegularExpression lineEnd(QStringLiteral("\r\n|\n\r|\r|\n"));
    for (const QString &line : text.split(lineEnd)) {
        const QString statement = line.trimmed();
        if (!statement.isEmpty())
            m_lines << statement;
    }
    if (m_lines.isEmpty())
        return true;
    m_path = path;
    m_arguments = arguments;
    return true;
}

void ScriptEngine::unload()
{
    m_path.clear();
    m_arguments.clear();
    m_lines.clear();
}
