#include "NandDetection.h"

#include "AnswerKind.h"
#include "CDeviceFamilyNand.h"
#include "CDeviceItemNand.h"
#include "DeviceCatalogue.h"
#include "EngineMessage.h"
#include "NandEngine.h"
#include "NandPackets.h"
#include "OperationHost.h"
#include "ProgramObjects.h"
#include "QuestionHost.h"
#include "UiTextId.h"

#include <QStringList>

namespace {

constexpr uint IdAnswerLength = 6;
constexpr uint ParameterPageLength = 512;

QByteArray bytesOf(const NandDetection::Id &id)
{
    return QByteArray(reinterpret_cast<const char *>(id.data()), qsizetype(id.size()));
}

bool allFF(const NandDetection::Id &id)
{
    for (quint8 byte : id) {
        if (byte != 0xFF)
            return false;
    }
    return true;
}

} // namespace

void NandDetection::resetProgramState()
{
    s_chipCount = 1;
    s_lastUnknownId = {};
}

NandDetection::Id NandDetection::idOf(const EngineMessage &message)
{
    Id id;
    for (uint i = 0; i < id.size(); ++i)
        id[i] = i < message.size() ? message.byteAt(i) : 0xFF;
    return id;
}

void NandDetection::start(NandEngine &engine)
{
    m_idDone = false;
    m_secondChipProbe = false;
    engine.selectChip(0);
    s_chipCount = 1;
    engine.enqueue(NandPackets::readId().bytes.data(), NandPackets::readId().length, -1,
                   AnswerKind::ChipId, IdAnswerLength);
}

void NandDetection::idAnswer(NandEngine &engine, const EngineMessage &message)
{
    Id id = idOf(message);
    if (!m_idDone) {
        if (m_secondChipProbe) {
            // Chip enable 1 answered: a second chip when it is the same one.
            if (id == m_firstChipId)
                s_chipCount = 2;
            m_idDone = true;
            engine.selectChip(0);
            id = m_firstChipId;
        } else {
            m_firstChipId = id;
            s_chipCount = 1;
            if (allFF(id)) {
                m_idDone = true;
            } else {
                m_secondChipProbe = true;
                engine.selectChip(1);
                engine.selectChip(1);
                engine.enqueue(NandPackets::readId().bytes.data(), NandPackets::readId().length, -1,
                               AnswerKind::ChipId, IdAnswerLength);
                return;
            }
        }
    }
    match(engine, id);
}

void NandDetection::match(NandEngine &engine, const Id &id)
{
    OperationHost *host = engine.host();
    if (!host)
        return;
    const QByteArray bytes = bytesOf(id);
    CDeviceItemNand &current = engine.device();
    CDeviceItem *found = nullptr;
    // An ID of 00 or FF bytes is what a bus without a chip reads.
    const bool blank = allFF(id) || id == Id{};
    if (current.matchId(bytes) || (id == s_lastUnknownId && !blank))
        found = &current;
    else
        found = host->deviceCatalogue().findById(CDeviceItem::NandKind, bytes, true);

    if (found) {
        auto *record = static_cast<CDeviceItemNand *>(found);
        // A record describes one chip enable's worth per `ce`: the device
        // grows or shrinks with the chip enables that answered.
        const int chips = s_chipCount;
        const bool resized = record->ce != chips && record->ce > 0;
        if (resized)
            record->size = record->size / quint64(record->ce) * quint64(chips);
        record->ce = chips;
        if (found == &current && !resized) {
            engine.initTarget();
            engine.log(record->displayName());
            engine.reportChipEnables();
            host->jobEnded(JobCode::Detect);
            return;
        }
        if (found != &current || resized) {
            if (record->name == host->currentTargetName() && !resized) {
                engine.log(record->displayName());
                host->jobEnded(JobCode::Detect);
                return;
            }
            host->setTarget(record->name, true);
            host->endJobWhenReady(JobCode::Detect);
        }
        return;
    }
    if (host->deviceCatalogue().findById(CDeviceItem::NandKind, bytes, false)) {
        // The user cancelled the choice among several records.
        host->jobFailed(JobCode::Detect);
        return;
    }
    s_lastUnknownId = id;
    engine.setChunkSize(NandEngine::ParameterPageChunk);
    engine.enqueue(NandPackets::readParameterPage().bytes.data(),
                   NandPackets::readParameterPage().length, 0, AnswerKind::ChipTable,
                   ParameterPageLength);
}

void NandDetection::parameterPage(NandEngine &engine, const EngineMessage &message)
{
    OperationHost *host = engine.host();
    if (!host)
        return;
    if (!message.hasData()) {
        engine.log(QStringLiteral("Parameter page not answered"));
        host->jobFailed(JobCode::Detect);
        return;
    }
    if (message.size() < ParameterPageLength)
        return;
    const OnfiParameters parameters = CDeviceItemNand::parseOnfi(message.bytes(), s_chipCount);
    CDeviceFamily *family = host->deviceCatalogue().nand();
    auto *placeholder = family ? static_cast<CDeviceItemNand *>(family->placeholder()) : nullptr;
    if (parameters.valid && placeholder) {
        placeholder->id = s_lastUnknownId;
        placeholder->fillFromOnfi(parameters);
        host->setTarget(placeholder->name, true);
        host->endJobWhenReady(JobCode::Detect);
        return;
    }
    unknownChip(engine, s_lastUnknownId);
    s_lastUnknownId = {};
}

void NandDetection::unknownChip(NandEngine &engine, const Id &id)
{
    OperationHost *host = engine.host();
    engine.log(uiText().text(UiTextId::UnknownDevice));
    QStringList hex;
    for (quint8 byte : id)
        hex << QString::number(byte, 16);
    engine.log(hex.join(QLatin1Char(',')));
    if (id[0] == 0xFF) {
        engine.log(QStringLiteral(" "));
        engine.log(uiText().text(UiTextId::IdDetectionError));
        host->jobFailed(JobCode::Detect);
        return;
    }
    QStringList preset;
    for (quint8 byte : id)
        preset << QString::asprintf("%02xh", byte);
    const QString line =
        host->questions().defineDevice(CDeviceItem::NandKind, QStringLiteral("New Nand"), preset);
    if (!line.isEmpty()) {
        engine.log(line);
        host->openCatalogueFile(CDeviceItem::NandKind);
    }
    host->jobFailed(JobCode::Detect);
}
