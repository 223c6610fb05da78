#include "ConsoleInput.h"

#include "CommandConsole.h"

#include <utility>

void ConsoleInput::type(const QString &text)
{
    m_browsing = false;
    m_prefix.clear();
    m_input += text;
}

void ConsoleInput::paste(const QString &text)
{
    QString clean;
    clean.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QLatin1Char('\t'))
            clean += QLatin1Char(' ');
        else if (c.isPrint())
            clean += c;
    }
    type(clean);
}

void ConsoleInput::backspace()
{
    m_prefix.clear();
    m_input.chop(1);
}

QString ConsoleInput::enter()
{
    m_prefix.clear();
    m_browsing = false;
    if (!m_input.isEmpty()) {
        m_lines << m_input;
        if (m_lines.size() > MaxLines)
            m_lines.removeFirst();
    }
    m_position = int(m_lines.size());
    return std::exchange(m_input, QString());
}

void ConsoleInput::up()
{
    m_prefix.clear();
    if (!m_browsing) {
        m_browsing = true;
        m_position = int(m_lines.size());
    }
    if (m_position > 0) {
        --m_position;
        m_input = m_lines[m_position];
    }
}

void ConsoleInput::down()
{
    m_prefix.clear();
    if (m_browsing && m_position < int(m_lines.size()) - 1) {
        ++m_position;
        m_input = m_lines[m_position];
    }
}

bool ConsoleInput::tab(const CommandConsole &console)
{
    const bool keepPrefix =
        !m_prefix.isEmpty() &&
        (m_prefix.compare(m_input, Qt::CaseInsensitive) == 0 ||
         (m_prefix.size() < m_input.size() && m_input.startsWith(m_prefix, Qt::CaseInsensitive)));
    if (!keepPrefix)
        m_prefix = m_input;
    QString candidate = m_input;
    if (!console.Complete(m_prefix.toUpper(), candidate))
        return false;
    m_input = candidate;
    return true;
}

void ConsoleInput::clear()
{
    m_lines.clear();
    m_input.clear();
    m_prefix.clear();
    m_position = 0;
    m_browsing = false;
}
