#pragma once

#include "CDeviceItem.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

class DeviceCatalogue;

// What the custom device dialog decides: its labels and maker list for a
// mode, and the record (or catalogue line) the entered texts describe. The
// user pastes that line into the family's catalogue file; the record itself
// never joins the catalogue.
class CustomDeviceForm
{
public:
    enum Mode { NandMode = 0, SpiMode = 1 };
    static constexpr int NandIdFields = 6;
    static constexpr int SpiIdFields = 3;

    // The texts of the dialog's fields, as typed or chosen.
    struct Entries
    {
        QStringList ids; // ID1, ID2, ...; missing ones count as empty
        QString name;
        QString maker;
        QString size;
        QString firstGeometry;  // NAND page size, SPI sector size
        QString secondGeometry; // NAND block size, SPI sector count
        QString pins = QStringLiteral("1");
    };

    // `mode` 1 is SPI; anything else is NAND.
    explicit CustomDeviceForm(int mode);

    // The mode a "New Flash" menu text asks for: "Nand" in the text gives
    // NAND, otherwise "SPI" gives SPI, otherwise NAND.
    static int modeForText(const QString &text);
    // The ID field texts for bytes read from a chip: "%02xh" of each of the
    // first `count` bytes (fewer when fewer were read).
    static QStringList presetIds(const QByteArray &bytes, int count);

    int mode() const { return m_mode; }
    // 6 for NAND, 3 for SPI.
    int idFieldCount() const;
    // "ID1", "ID2", ... (`number` is 1-based).
    static QString idLabel(int number);
    QString nameLabel() const;
    QString makerLabel() const;
    QString sizeLabel() const;
    QString firstGeometryLabel() const;
    QString secondGeometryLabel() const;
    QString pinsLabel() const;
    // The pins box's items; the first is current.
    static QStringList pinChoices();

    // Every maker of the mode's catalogue family once, in record order; the
    // placeholder record comes first, so an empty maker usually heads the
    // list. Empty before the catalogue is loaded.
    QStringList makers(const DeviceCatalogue &catalogue) const;

    // A record of the mode's kind with the defaults, filled from `entries`.
    // Numbers are hexadecimal with one optional trailing h (pins decimal);
    // invalid ones read as 0. A NAND ID text of fewer than two characters
    // leaves that byte unknown. Double quotes and line ends are dropped from
    // the name and maker, so the line reads back as one record.
    std::unique_ptr<CDeviceItem> fillRecord(const Entries &entries) const;
    // catalogueLine() of that record.
    QString catalogueLine(const Entries &entries) const;

private:
    int m_mode;
};
