#include "DeviceCatalogue.h"

#include "ApplicationFolders.h"
#include "CDeviceFamilyNand.h"
#include "CDeviceFamilySPI.h"

DeviceCatalogue::DeviceCatalogue() = default;

DeviceCatalogue::~DeviceCatalogue() = default;

void DeviceCatalogue::load()
{
    load(applicationFolder(ConfigFolder));
}

void DeviceCatalogue::load(const QString &configFolder)
{
    m_families.clear();
    std::unique_ptr<CDeviceFamily> families[] = {std::make_unique<CDeviceFamilyNand>(),
                                                 std::make_unique<CDeviceFamilySPI>()};
    for (auto &loaded : families) {
        loaded->setChooser(m_chooser);
        loaded->readFile(configFolder, m_log);
        m_families.push_back(std::move(loaded));
    }
}

CDeviceFamily *DeviceCatalogue::family(int index) const
{
    if (index < 0 || index >= familyCount())
        return nullptr;
    return m_families[static_cast<size_t>(index)].get();
}

CDeviceFamilyNand *DeviceCatalogue::nand() const
{
    return static_cast<CDeviceFamilyNand *>(family(0));
}

CDeviceFamilySPI *DeviceCatalogue::spi() const
{
    return static_cast<CDeviceFamilySPI *>(family(1));
}

CDeviceItem *DeviceCatalogue::findByName(const QString &name) const
{
    for (const auto &loaded : m_families) {
        if (CDeviceItem *item = loaded->findByName(name))
            return item;
    }
    return nullptr;
}

CDeviceItem *DeviceCatalogue::findById(int kind, const QByteArray &idBytes, bool collectAll) const
{
    for (const auto &loaded : m_families) {
        if (CDeviceItem *item = loaded->findById(kind, idBytes, collectAll))
            return item;
    }
    return nullptr;
}

void DeviceCatalogue::reportDuplicates(const TextSink &sink, int kind,
                                       const QByteArray &idBytes) const
{
    for (const auto &loaded : m_families)
        loaded->reportDuplicates(sink, kind, idBytes);
}

void DeviceCatalogue::printAll(const TextSink &sink, bool brief) const
{
    for (const auto &loaded : m_families)
        loaded->printAll(sink, brief);
}

void DeviceCatalogue::setChooser(const DeviceChooser &chooser)
{
    m_chooser = chooser;
    for (const auto &loaded : m_families)
        loaded->setChooser(chooser);
}
