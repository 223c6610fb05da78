#pragma once

#include "CDeviceFamily.h"

#include <QSet>

// The NAND flash family, file "Nand.txt". Its placeholder "NAND OFNI" is
// filled from an ONFI parameter page. The first definition of a name wins.
class CDeviceFamilyNand : public CDeviceFamily
{
public:
    CDeviceFamilyNand();

    bool addLine(const QString &text) override;
    // Skips "NAND OFNI". With `collectAll` and several matches, the chooser
    // picks one (cancel: null).
    CDeviceItem *findById(int kind, const QByteArray &idBytes, bool collectAll) const override;
    void reportDuplicates(const TextSink &sink, int kind, const QByteArray &idBytes) const override;

private:
    QSet<QString> m_names;
};
