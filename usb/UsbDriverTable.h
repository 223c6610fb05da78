#pragma once

#include <QString>

#include <memory>

class QLibrary;
struct FirmwareRecord;

// The transport operations bound at run time from kvusb. Every operation is
// safe while nothing is bound: open 0, close nothing, write and read -1,
// download 0, status 0.
class UsbDriverTable
{
public:
    using OpenFunction = int (*)();
    using CloseFunction = int (*)();
    using PipeFunction = int (*)(int pipe, unsigned char *buffer, int length);
    using DownloadFunction = int (*)(const void *records, unsigned char force);
    using StatusFunction = int (*)();

    static constexpr int RowCount = 3;

    UsbDriverTable();
    ~UsbDriverTable();
    UsbDriverTable(const UsbDriverTable &) = delete;
    UsbDriverTable &operator=(const UsbDriverTable &) = delete;

    // The table the program uses.
    static UsbDriverTable &instance();

    // Path of the library: the library folder beside the executable + "kvusb".
    static QString defaultLibraryPath();

    // Binds row 0 from the library (the default path when empty). Does
    // nothing when a row is already bound. A missing library or export leaves
    // the affected operations at their fallbacks.
    void bind(const QString &libraryPath = QString());
    // Deletes the library object (the library stays loaded); index -1.
    void unbind();

    int currentDriver() const { return m_current; }
    bool isResolved() const;

    int open();
    void close();
    int write(int pipe, unsigned char *buffer, int length);
    int read(int pipe, unsigned char *buffer, int length);
    int download(const FirmwareRecord *image, bool force);
    int status();

private:
    struct Row
    {
        OpenFunction open = nullptr;
        CloseFunction close = nullptr;
        bool hasWrapper = false; // write, read and download (slots 2-4)
        StatusFunction status = nullptr;
    };

    const Row *row() const;

    Row m_rows[RowCount];
    int m_current = -1;
    PipeFunction m_read = nullptr;  // func1
    PipeFunction m_write = nullptr; // func2
    DownloadFunction m_download = nullptr;
    std::unique_ptr<QLibrary> m_library;
};
