#pragma once

#include "CDeviceItem.h"
#include "DeviceChooser.h"
#include "TextSink.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>
#include <vector>

// The records of one chip technology, in catalogue file order after the
// family's placeholder record. The family owns its records; everyone else
// holds plain pointers, which stay valid until the family is destroyed.
class CDeviceFamily
{
public:
    // Largest catalogue file that is read; a bigger one is left unread.
    static constexpr qint64 MaxFileSize = 16 * 1024 * 1024;

    CDeviceFamily(const QString &familyName, int familyKind,
                  std::unique_ptr<CDeviceItem> placeholder);
    virtual ~CDeviceFamily();
    CDeviceFamily(const CDeviceFamily &) = delete;
    CDeviceFamily &operator=(const CDeviceFamily &) = delete;

    // Builds a record from one catalogue line; true when the family keeps it.
    virtual bool addLine(const QString &text) = 0;
    // The record that answers to `idBytes`, or null; only for the family's own
    // `kind`.
    virtual CDeviceItem *findById(int kind, const QByteArray &idBytes, bool collectAll) const = 0;
    // Writes UI text 149 and the names of all records matching `idBytes` when
    // there are at least two; only for the family's own `kind`.
    virtual void reportDuplicates(const TextSink &sink, int kind,
                                  const QByteArray &idBytes) const = 0;

    // "Nand" or "SPI"; also the base name of the catalogue file.
    QString name() const { return m_name; }
    int kind() const { return m_kind; }
    // Records including the placeholder, which is record 0.
    int count() const { return static_cast<int>(m_records.size()); }
    CDeviceItem *record(int index) const;
    CDeviceItem *placeholder() const { return record(0); }
    QList<CDeviceItem *> records() const;
    // First record whose name equals `name` exactly.
    CDeviceItem *findByName(const QString &name) const;

    // Path of the family's catalogue file in `configFolder` (which ends in "/").
    QString filePath(const QString &configFolder) const;
    // Reads the family's catalogue file from `configFolder`. A file that cannot
    // be opened leaves the family as it is; one beyond MaxFileSize is reported
    // to `log` and left unread. Returns the number of records added.
    int readFile(const QString &configFolder, const TextSink &log = TextSink());
    // Cuts catalogue text into lines (ended by CR or LF; runs of line ends are
    // one break; a zero byte ends the text) and hands each to addLine().
    // Returns the number of records added.
    int addText(const QByteArray &text);

    // Writes the family name, then printInfo() of every record.
    void printAll(const TextSink &sink, bool brief) const;

    // Asks the user when findById() with `collectAll` finds several records.
    // Without one, the first match is taken.
    void setChooser(const DeviceChooser &chooser) { m_chooser = chooser; }

    // Lines addLine() dropped since the family was made: rejected by the
    // record, or (NAND) a name the family already holds.
    int rejectedLines() const { return m_rejected; }
    int duplicateLines() const { return m_duplicates; }

protected:
    void append(std::unique_ptr<CDeviceItem> item);
    // Records matching `idBytes` in order, without the placeholder when
    // `skipPlaceholder`.
    QList<CDeviceItem *> matches(const QByteArray &idBytes, bool skipPlaceholder) const;
    void writeDuplicates(const TextSink &sink, const QList<CDeviceItem *> &found) const;
    int choose(const QList<CDeviceItem *> &found) const;

    int m_rejected = 0;
    int m_duplicates = 0;

private:
    QString m_name;
    int m_kind;
    std::vector<std::unique_ptr<CDeviceItem>> m_records;
    DeviceChooser m_chooser;
};
