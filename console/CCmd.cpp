#include "CCmd.h"

#include "CommandConsole.h"
#include "ProgramObjects.h"

CCmd::CCmd(const QString &keyword, int usageNumber, const QString &usageText)
    : m_usageNumber(usageNumber), m_usageText(usageText), m_keyword(keyword)
{}

CCmd::~CCmd() = default;

QString CCmd::usage() const
{
    return m_usageNumber < 0 ? m_usageText : uiText().text(m_usageNumber);
}

void CCmd::printUsage(CommandConsole &console) const
{
    const QString text = usage();
    if (!text.isEmpty())
        console.printLines(text);
}
