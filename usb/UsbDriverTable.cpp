#include "UsbDriverTable.h"

#include "ApplicationFolders.h"
#include "FirmwareRecord.h"

#include <QLibrary>

UsbDriverTable::UsbDriverTable()
{
    m_rows[0].hasWrapper = true;
}

UsbDriverTable::~UsbDriverTable()
{
    unbind();
}

UsbDriverTable &UsbDriverTable::instance()
{
    static UsbDriverTable table;
    return table;
}

QString UsbDriverTable::defaultLibraryPath()
{
    return applicationFolder(LibraryFolder) + QStringLiteral("kvusb");
}

void UsbDriverTable::bind(const QString &libraryPath)
{
    if (m_current >= 0)
        return;
    m_library =
        std::make_unique<QLibrary>(libraryPath.isEmpty() ? defaultLibraryPath() : libraryPath);
    Row &bound = m_rows[0];
    bound.open = reinterpret_cast<OpenFunction>(m_library->resolve("func4"));
    bound.close = reinterpret_cast<CloseFunction>(m_library->resolve("func5"));
    m_read = reinterpret_cast<PipeFunction>(m_library->resolve("func1"));
    m_write = reinterpret_cast<PipeFunction>(m_library->resolve("func2"));
    m_download = reinterpret_cast<DownloadFunction>(m_library->resolve("func3"));
    bound.status = reinterpret_cast<StatusFunction>(m_library->resolve("func6"));
    m_current = 0;
}

void UsbDriverTable::unbind()
{
    if (m_library) {
        // Deleting the object leaves the library loaded: threads that ran
        // inside it may still be finishing.
        m_library.reset();
    }
    m_current = -1;
}

bool UsbDriverTable::isResolved() const
{
    const Row *current = row();
    return current && current->open && current->close && current->status && m_read && m_write &&
           m_download;
}

const UsbDriverTable::Row *UsbDriverTable::row() const
{
    return m_current >= 0 && m_current < RowCount ? &m_rows[m_current] : nullptr;
}

int UsbDriverTable::open()
{
    const Row *current = row();
    return current && current->open ? current->open() : 0;
}

void UsbDriverTable::close()
{
    const Row *current = row();
    if (current && current->close)
        current->close();
}

int UsbDriverTable::write(int pipe, unsigned char *buffer, int length)
{
    const Row *current = row();
    if (!current || !current->hasWrapper || !m_write)
        return -1;
    return m_write(pipe, buffer, length);
}

int UsbDriverTable::read(int pipe, unsigned char *buffer, int length)
{
    const Row *current = row();
    if (!current || !current->hasWrapper || !m_read)
        return -1;
    return m_read(pipe, buffer, length);
}

int UsbDriverTable::download(const FirmwareRecord *image, bool force)
{
    const Row *current = row();
    if (!current || !current->hasWrapper || !image || !m_download)
        return 0;
    return m_download(image, force ? 1 : 0);
}

int UsbDriverTable::status()
{
    const Row *current = row();
    return current && current->status ? current->status() : 0;
}
