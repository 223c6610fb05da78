#include "WindowTexts.h"

#include "ProgramObjects.h"
#include "UiTextId.h"

#include <algorithm>

QString WindowTexts::title(const QString &targetDisplayName)
{
    QString text = ProgramObjects::productName() + QLatin1Char(' ') + ProgramObjects::version() +
                   QStringLiteral("  ");
    if (!targetDisplayName.isEmpty())
        text += uiText().text(UiTextId::TargetPrefix) + targetDisplayName + QLatin1Char(' ');
    return text;
}

QStringList WindowTexts::usbStatus()
{
    QStringList texts{uiText().text(UiTextId::UsbNotConnected),
                      uiText().text(UiTextId::UsbConnected11),
                      uiText().text(UiTextId::UsbConnected20)};
    qsizetype longest = 0;
    for (const QString &text : std::as_const(texts))
        longest = std::max(longest, text.size());
    for (QString &text : texts)
        text = text.leftJustified(longest, QLatin1Char(' '));
    return texts;
}

QString WindowTexts::speedLabel(int value)
{
    return QStringLiteral("%1(%2)  ").arg(uiText().text(UiTextId::SpeedLabel)).arg(value);
}

QString WindowTexts::productLine()
{
    return ProgramObjects::productName() + QStringLiteral("   ") + ProgramObjects::version();
}
