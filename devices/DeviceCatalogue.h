#pragma once

#include "CDeviceFamily.h"
#include "DeviceChooser.h"
#include "TextSink.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <vector>

class CDeviceFamilyNand;
class CDeviceFamilySPI;

// The program-wide list of known chips: the NAND family first, the SPI family
// second. Empty until load(); afterwards only the placeholder records change.
// Destroying it destroys the families and all their records.
class DeviceCatalogue
{
public:
    DeviceCatalogue();
    ~DeviceCatalogue();
    DeviceCatalogue(const DeviceCatalogue &) = delete;
    DeviceCatalogue &operator=(const DeviceCatalogue &) = delete;

    // Builds both families from "Nand.txt" and "SPI.txt" in the configuration
    // folder (or `configFolder`, ending in "/"). Loading again starts afresh;
    // pointers to records of the earlier load become invalid.
    void load();
    void load(const QString &configFolder);

    int familyCount() const { return static_cast<int>(m_families.size()); }
    CDeviceFamily *family(int index) const;
    // Null before load().
    CDeviceFamilyNand *nand() const;
    CDeviceFamilySPI *spi() const;

    // First record, in family and record order, whose name equals `name`
    // exactly (placeholders included).
    CDeviceItem *findByName(const QString &name) const;
    // First non-null answer of the families (`kind` 0 NAND, 1 SPI).
    CDeviceItem *findById(int kind, const QByteArray &idBytes, bool collectAll) const;
    void reportDuplicates(const TextSink &sink, int kind, const QByteArray &idBytes) const;
    // For each family its name, then every record's printInfo().
    void printAll(const TextSink &sink, bool brief) const;

    // Asks the user when several NAND records answer one ID (see
    // CDeviceFamily::setChooser). Kept across loads.
    void setChooser(const DeviceChooser &chooser);
    // Where loading reports problems with the files.
    void setLog(const TextSink &log) { m_log = log; }

private:
    std::vector<std::unique_ptr<CDeviceFamily>> m_families;
    DeviceChooser m_chooser;
    TextSink m_log;
};
