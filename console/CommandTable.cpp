#include "CommandTable.h"

#include "AnswerKind.h"
#include "CFrameCmdAbout.h"
#include "CFrameCmdBlankCheck.h"
#include "CFrameCmdCls.h"
#include "CFrameCmdCmpMemory.h"
#include "CFrameCmdColor.h"
#include "CFrameCmdConfig.h"
#include "CFrameCmdDetect.h"
#include "CFrameCmdDevices.h"
#include "CFrameCmdDisplay.h"
#include "CFrameCmdEnd.h"
#include "CFrameCmdErase.h"
#include "CFrameCmdGetMemory.h"
#include "CFrameCmdHelp.h"
#include "CFrameCmdInitUsb.h"
#include "CFrameCmdLdram.h"
#include "CFrameCmdLog.h"
#include "CFrameCmdNandMFC.h"
#include "CFrameCmdNandNewChip.h"
#include "CFrameCmdNandSmartcopy.h"
#include "CFrameCmdProgram.h"
#include "CFrameCmdRandomFile.h"
#include "CFrameCmdSave.h"
#include "CFrameCmdScripts.h"
#include "CFrameCmdSetMemory.h"
#include "CFrameCmdSpeed.h"
#include "UiTextId.h"

#include <array>

namespace {

template <class Command> std::unique_ptr<CCmd> make(const CommandRow &row)
{
    return std::make_unique<Command>(QString::fromLatin1(row.keyword), row.usageNumber);
}

constexpr quint32 Always = 0;
constexpr int NoUsage = -1;

using namespace UiTextId;
using namespace EngineCapability;

const std::array<CommandRow, 25> Table = {{
    {"EXIT", UsageExit, Always, make<CFrameCmdEnd>},
    {"HELP", UsageHelp, Always, make<CFrameCmdHelp>},
    {"DETECT", UsageDetect, Detect, make<CFrameCmdDetect>},
    {"INITUSB", UsageInitusb, Always, make<CFrameCmdInitUsb>},
    {"READ", UsageRead, Always, make<CFrameCmdGetMemory>},
    {"PROGRAM", UsageProgram, Program, make<CFrameCmdProgram>},
    {"SAVE", UsageSave, EngineCapability::Save, make<CFrameCmdSave>},
    {"LOAD", UsageLoad, Always, make<CFrameCmdLdram>},
    {"VERIFY", UsageVerify, Verify, make<CFrameCmdCmpMemory>},
    {"BLKCHK", UsageBlkchk, EngineCapability::BlankCheck, make<CFrameCmdBlankCheck>},
    {"WRITE", UsageWrite, Program, make<CFrameCmdSetMemory>},
    {"NEWCHIP", NewChipTip, NandTools, make<CFrameCmdNandNewChip>},
    {"MFC", UsageMfc, NandTools, make<CFrameCmdNandMFC>},
    {"SMTCPY", SmartCopyTip, NandTools, make<CFrameCmdNandSmartcopy>},
    {"DEVICE", UsageDevice, Always, make<CFrameCmdConfig>},
    {"ABOUT", UsageAbout, Always, make<CFrameCmdAbout>},
    {"CLS", UsageCls, Always, make<CFrameCmdCls>},
    {"ERASE", UsageErase, Erase, make<CFrameCmdErase>},
    {"SPEED", UsageSpeed, Always, make<CFrameCmdSpeed>},
    {"DEVICES", UsageDevices, Always, make<CFrameCmdDevices>},
    {"LOG", UsageLog, Always, make<CFrameCmdLog>},
    {"SCRIPT", UsageScript, Always, make<CFrameCmdScripts>},
    {"COLOR", UsageColor, Always, make<CFrameCmdColor>},
    {"RANDOMFILE", NoUsage, Always, make<CFrameCmdRandomFile>},
    {"D", UsageD, Always, make<CFrameCmdDisplay>},
}};

} // namespace

std::span<const CommandRow> commandTable()
{
    return Table;
}
