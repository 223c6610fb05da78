#include "UnattendedQuestions.h"

#include "ProgramObjects.h"
#include "UiTextId.h"

namespace {

QString oneLine(QString text)
{
    return text.replace(QLatin1Char('\r'), QLatin1Char(' '))
        .replace(QLatin1Char('\n'), QLatin1Char(' '))
        .simplified();
}

} // namespace

void UnattendedQuestions::answered(const QString &question, const QString &answer)
{
    if (m_log)
        m_log(QStringLiteral("Unattended: \"") + oneLine(question) +
              QStringLiteral("\" answered ") + answer);
}

bool UnattendedQuestions::confirm(const QString &title, const QString &text)
{
    answered(title + QLatin1Char(' ') + text, uiText().text(UiTextId::No));
    return false;
}

void UnattendedQuestions::warn(const QString &title, const QString &text)
{
    answered(title + QLatin1Char(' ') + text, QStringLiteral("OK"));
}

QString UnattendedQuestions::chooseFolder(const QString &title, const QString &)
{
    answered(title, uiText().text(UiTextId::Cancel));
    return QString();
}

QString UnattendedQuestions::chooseOpenFile(const QString &title, const QString &, const QString &)
{
    answered(title, uiText().text(UiTextId::Cancel));
    return QString();
}

QString UnattendedQuestions::chooseSaveFile(const QString &title, const QString &, const QString &)
{
    answered(title, uiText().text(UiTextId::Cancel));
    return QString();
}

QString UnattendedQuestions::chooseDevice()
{
    answered(uiText().text(UiTextId::DeviceSelectionSearch), uiText().text(UiTextId::Cancel));
    return QString();
}

int UnattendedQuestions::chooseAmong(const QStringList &names)
{
    answered(names.join(QStringLiteral(", ")), uiText().text(UiTextId::Cancel));
    return -1;
}

QString UnattendedQuestions::defineDevice(int, const QString &title, const QStringList &presetIds)
{
    const QString question =
        presetIds.isEmpty() ? title : title + QLatin1Char(' ') + presetIds.join(QLatin1Char(' '));
    answered(question, uiText().text(UiTextId::Cancel));
    return QString();
}

bool UnattendedQuestions::selectFiles(const QString &, const QString &, QStringList &)
{
    answered(QStringLiteral("Select Files"), uiText().text(UiTextId::Cancel));
    return false;
}

void UnattendedQuestions::showAbout()
{
    answered(uiText().text(UiTextId::AboutTitle), QStringLiteral("OK"));
}
