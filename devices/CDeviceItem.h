#pragma once

#include "TextSink.h"

#include <QByteArray>
#include <QString>

class CatalogueKeys;

// One flash chip the programmer can handle: name, maker, size and what the
// chip engines need to drive it. Built from a catalogue line, the custom
// device dialog or the chip's own parameter page; owned by its family.
class CDeviceItem
{
public:
    enum Kind { NandKind = 0, SpiKind = 1 };

    explicit CDeviceItem(int itemKind);
    virtual ~CDeviceItem();

    // Writes " name", the size and maker line and, unless `brief`, the ID line.
    virtual void printInfo(const TextSink &sink, bool brief) const;
    // Fills the record from one catalogue line; false when the line does not
    // give a usable record. The base accepts nothing.
    virtual bool parseLine(const QString &text);
    virtual QString displayName() const;
    virtual QString shortName() const;
    // True when the identification bytes read from a chip belong to this record.
    virtual bool matchId(const QByteArray &bytes) const = 0;
    // The catalogue line that parseLine() reads back.
    virtual QString catalogueLine() const = 0;

    QString name;
    QString model; // from an ONFI parameter page only
    QString manufacturer;
    quint64 size = 0;
    int speed = 10;
    int kind;
    int algo = 0;

protected:
    // The part of parseLine() both families run first: "Name" (required),
    // "size", "MFG", "Algo" and "Speed".
    bool parseCommon(const CatalogueKeys &keys);
    // `Name="…",MFG="…",`
    QString catalogueLineStart() const;
};
