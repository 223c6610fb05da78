#include "CDeviceFamily.h"

#include "ProgramObjects.h"

#include <QFile>

namespace {
constexpr int DuplicateFoundText = 149;

QString duplicateFoundText()
{
    return ProgramObjects::current() ? uiText().text(DuplicateFoundText)
                                     : UiText::builtInText(DuplicateFoundText);
}
} // namespace

CDeviceFamily::CDeviceFamily(const QString &familyName, int familyKind,
                             std::unique_ptr<CDeviceItem> placeholder)
    : m_name(familyName), m_kind(familyKind)
{
    m_records.push_back(std::move(placeholder));
}

CDeviceFamily::~CDeviceFamily() = default;

CDeviceItem *CDeviceFamily::record(int index) const
{
    if (index < 0 || index >= count())
        return nullptr;
    return m_records[static_cast<size_t>(index)].get();
}

QList<CDeviceItem *> CDeviceFamily::records() const
{
    QList<CDeviceItem *> list;
    list.reserve(count());
    for (const auto &item : m_records)
        list.append(item.get());
    return list;
}

CDeviceItem *CDeviceFamily::findByName(const QString &wanted) const
{
    for (const auto &item : m_records) {
        if (item->name == wanted)
            return item.get();
    }
    return nullptr;
}

QString CDeviceFamily::filePath(const QString &configFolder) const
{
    return configFolder + m_name + QStringLiteral(".txt");
}

int CDeviceFamily::readFile(const QString &configFolder, const TextSink &log)
{
    QFile file(filePath(configFolder));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    // Read at most one byte past the limit: the size a file reports need not
    // be what it delivers.
    const QByteArray text = file.size() > MaxFileSize ? QByteArray() : file.read(MaxFileSize + 1);
    if (file.size() > MaxFileSize || text.size() > MaxFileSize) {
        if (log)
            log(QStringLiteral("%1 is larger than %2 bytes and was not read")
                    .arg(file.fileName())
                    .arg(MaxFileSize));
        return 0;
    }
    return addText(text);
}

int CDeviceFamily::addText(const QByteArray &text)
{
    int added = 0;
    const char *data = text.constData();
    const qsizetype size = text.size();
    qsizetype at = 0;
    while (at < size && data[at] != '\0') {
        qsizetype end = at;
        while (end < size && data[end] != '\0' && data[end] != '\r' && data[end] != '\n')
            ++end;
        if (end > at && addLine(QString::fromLocal8Bit(data + at, end - at)))
            ++added;
        at = end;
        while (at < size && (data[at] == '\r' || data[at] == '\n'))
            ++at;
    }
    return added;
}

void CDeviceFamily::printAll(const TextSink &sink, bool brief) const
{
    sink(m_name);
    for (const auto &item : m_records)
        item->printInfo(sink, brief);
}

void CDeviceFamily::append(std::unique_ptr<CDeviceItem> item)
{
    m_records.push_back(std::move(item));
}

QList<CDeviceItem *> CDeviceFamily::matches(const QByteArray &idBytes, bool skipPlaceholder) const
{
    QList<CDeviceItem *> found;
    for (size_t i = skipPlaceholder ? 1 : 0; i < m_records.size(); ++i) {
        if (m_records[i]->matchId(idBytes))
            found.append(m_records[i].get());
    }
    return found;
}

void CDeviceFamily::writeDuplicates(const TextSink &sink, const QList<CDeviceItem *> &found) const
{
    if (found.size() < 2)
        return;
    sink(duplicateFoundText());
    for (const CDeviceItem *item : found)
        sink(item->displayName());
}

int CDeviceFamily::choose(const QList<CDeviceItem *> &found) const
{
    if (!m_chooser)
        return 0;
    QStringList names;
    names.reserve(found.size());
    for (const CDeviceItem *item : found)
        names.append(item->name);
    return m_chooser(names);
}
