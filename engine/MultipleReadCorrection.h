#pragma once

#include "MemoryNodeHooks.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>

class CFileMemoryNode;

// Multiple read correction: an image read from a NAND chip and two or more
// further reads of the same chip (files) give a corrected image, block by
// block, in which every byte on which the reads disagree by one bit is
// decided by a vote (ReadVote). Runs on the GUI thread and needs no
// programmer: it reads the files and writes one new file, which the user
// names through the output node's save question. Nothing holds an image in
// memory: one block of each read at a time.
class MultipleReadCorrection
{
public:
    using Log = std::function<void(const QString &line)>;

    struct Output
    {
        quint64 base = 0;
        quint64 size = 0;
        // The output node's hooks: its save question names the new file.
        MemoryNodeHooks hooks;
    };

    // Corrects `image` with the reads in `files` (at least two), `blockBytes`
    // at a time over `length` bytes. Logs "Error" when a file's size is not
    // the image's (nothing is written beyond the empty output file). Returns
    // the output file's name, empty when none was created.
    static QString run(CFileMemoryNode &image, const QStringList &files, quint64 length,
                       quint64 blockBytes, const Output &output, const Log &log);
};
