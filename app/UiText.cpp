#include "UiText.h"

#include "TranslationFile.h"

#include <QFile>
#include <QObject>
#include <QTextCodec>
#include <QVariant>

namespace {
void setTextProperty(QObject *object, const char *property, const QString &text)
{
    if (object)
        object->setProperty(property, text);
}
} // namespace

QString UiText::builtInText(int index)
{
    if (index < 0 || index > LastIndex)
        return QString();
    return QString::fromLatin1(builtInTexts[index]);
}

QString UiText::text(int index) const
{
    QReadLocker locker(&m_lock);
    QByteArray raw;
    if (index >= 0 && index < m_translation.size())
        raw = m_translation.at(index);
    if (raw.isEmpty() && index >= 0 && index <= LastIndex)
        raw = QByteArray(builtInTexts[index]);
    if (m_codec)
        return m_codec->toUnicode(raw);
    return QString::fromLatin1(raw);
}

int UiText::translationCount() const
{
    QReadLocker locker(&m_lock);
    return int(m_translation.size());
}

QString UiText::codecName() const
{
    QReadLocker locker(&m_lock);
    return m_codec ? QString::fromLatin1(m_codec->name()) : QString();
}

void UiText::registerMenu(QObject *menu, int index)
{
    m_menus.append({menu, index});
    setTextProperty(menu, "title", text(index));
}

void UiText::registerAction(QObject *action, int textIndex, int statusTipIndex)
{
    m_actions.append({action, textIndex, statusTipIndex});
    setTextProperty(action, "text", text(textIndex));
    setTextProperty(action, "statusTip", text(statusTipIndex));
}

void UiText::registerLabel(QObject *label, int index)
{
    bool known = false;
    for (const MenuEntry &entry : std::as_const(m_labels))
        known = known || entry.object == label;
    if (!known)
        m_labels.append({label, index});
    setTextProperty(label, "text", text(index));
}

void UiText::retranslate()
{
    for (const MenuEntry &entry : std::as_const(m_menus))
        setTextProperty(entry.object, "title", text(entry.index));
    for (const ActionEntry &entry : std::as_const(m_actions)) {
        setTextProperty(entry.object, "text", text(entry.textIndex));
        setTextProperty(entry.object, "statusTip", text(entry.statusTipIndex));
    }
    for (const MenuEntry &entry : std::as_const(m_labels))
        setTextProperty(entry.object, "text", text(entry.index));
}

QString UiText::languageName(const QString &path)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    TranslationFile reader(&file);
    QTextCodec *codec = nullptr;
    QByteArray line;
    while (reader.next(line)) {
        if (TranslationFile::isEncoding(line)) {
            codec = TranslationFile::codecOf(line);
            continue;
        }
        if (TranslationFile::isComment(line) || line.size() <= 4)
            continue;
        QByteArray name;
        if (TranslationFile::languageName(line, name))
            return codec ? codec->toUnicode(name) : QString::fromLatin1(name);
    }
    return QString();
}

void UiText::loadTranslation(const QString &path)
{
    QList<QByteArray> entries;
    QTextCodec *codec = nullptr;
    QFile file(path);
    if (!languageName(path).isEmpty() && file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        TranslationFile reader(&file);
        QByteArray line;
        while (reader.next(line)) {
            if (TranslationFile::isEncoding(line)) {
                codec = TranslationFile::codecOf(line);
                continue;
            }
            if (TranslationFile::isComment(line) || line.size() <= 4)
                continue;
            int index = 0;
            QByteArray entry;
            if (!TranslationFile::textEntry(line, index, entry))
                continue;
            if (index > LastIndex || index < entries.size())
                continue;
            while (entries.size() < index)
                entries.append(QByteArray(builtInTexts[entries.size()]));
            entries.append(entry);
        }
    }
    {
        QWriteLocker locker(&m_lock);
        m_translation = entries;
        m_codec = codec;
    }
    retranslate();
}
