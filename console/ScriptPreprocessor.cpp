#include "ScriptPreprocessor.h"

void ScriptPreprocessor::run(const QString &text, QStringList &lines, QList<ScriptLabel> &labels)
{
    const qsizetype size = text.size();
    qsizetype start = 0;
    int number = 0;
    while (start < size) {
        qsizetype end = start;
        while (end < size && text.at(end) != QLatin1Char('\r') && text.at(end) != QLatin1Char('\n'))
            ++end;
        ++number;
        qsizetype length = end - start;
        if (length > MaxLineLength) {
            print(QStringLiteral("Script line %1 is longer than %2 characters: cut")
                      .arg(number)
                      .arg(MaxLineLength));
            length = MaxLineLength;
        }
        qsizetype first = start;
        while (first < start + length && isBlank(text.at(first)))
            ++first;
        if (first < start + length)
            statement(text.mid(first, start + length - first), lines, labels);
        // CR LF and LF CR end one line; any other CR or LF ends one more.
        if (end < size) {
            const QChar ending = text.at(end++);
            if (end < size && text.at(end) != ending &&
                (text.at(end) == QLatin1Char('\r') || text.at(end) == QLatin1Char('\n')))
                ++end;
        }
        start = end;
    }
}

void ScriptPreprocessor::statement(const QString &line, QStringList &lines,
                                   QList<ScriptLabel> &labels)
{
    const qsizetype colon = line.indexOf(QLatin1Char(':'));
    if (colon >= 0) {
        qsizetype blank = 0;
        while (blank < colon && !isBlank(line.at(blank)))
            ++blank;
        if (blank == colon) {
            labels.append({line.left(colon), int(lines.size())});
            return;
        }
    }
    const int next = int(lines.size()) + 1;
    if (line.startsWith(QLatin1String("if"))) {
        if (m_tooDeep > 0 || (m_open[m_level] && m_level + 1 >= Levels)) {
            print(QStringLiteral("If statement too deep"));
            ++m_tooDeep;
        } else {
            if (m_open[m_level])
                ++m_level;
            // A new block numbers its inner blocks from 1 again; an inner
            // level is not reset when the else-part descends into it, so
            // block names stay unique.
            ++m_counter[m_level];
            for (int inner = m_level + 1; inner < Levels; ++inner)
                m_counter[inner] = 0;
            m_open[m_level] = true;
            labels.append({blockLabel(), next});
        }
    } else if (line.startsWith(QLatin1String("else"))) {
        if (m_tooDeep == 0) {
            if (!m_open[m_level])
                --m_level;
            if (m_level < 0) {
                print(QStringLiteral("Check statement for else"));
                m_level = 0;
            } else {
                labels.append({blockLabel() + QStringLiteral("_else"), next});
                lines.append(QStringLiteral("goto ") + blockLabel() + QStringLiteral("_endif"));
                return;
            }
        }
    } else if (line.startsWith(QLatin1String("endif"))) {
        if (m_tooDeep > 0) {
            --m_tooDeep;
        } else {
            if (!m_open[m_level])
                --m_level;
            if (m_level < 0) {
                print(QStringLiteral("Check statement for endif"));
                m_level = 0;
            } else {
                labels.append({blockLabel() + QStringLiteral("_endif"), next});
                m_open[m_level] = false;
            }
        }
    }
    lines.append(line);
}

QString ScriptPreprocessor::blockLabel() const
{
    QString label = QStringLiteral("if");
    for (int level = 0; level <= m_level; ++level)
        label += QLatin1Char('_') + QString::number(m_counter[level]);
    return label;
}

void ScriptPreprocessor::print(const QString &line) const
{
    if (m_print)
        m_print(line);
}
