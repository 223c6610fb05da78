#include "MultipleReadCorrection.h"

#include "CFileMemoryNode.h"
#include "ProgramObjects.h"
#include "ReadVote.h"
#include "UiTextId.h"

#include <memory>
#include <vector>

QString MultipleReadCorrection::run(CFileMemoryNode &image, const QStringList &files,
                                    quint64 length, quint64 blockBytes, const Output &output,
                                    const Log &log)
{
    if (blockBytes == 0)
        return {};
    const QString name = QStringLiteral("Nand");
    CFileMemoryNode corrected(name, output.base, output.size);
    corrected.setHooks(output.hooks);
    if (!corrected.CreateBackingFile())
        return {};
    const QString outputName = corrected.backingFileName();

    std::vector<std::unique_ptr<CFileMemoryNode>> reads;
    for (const QString &file : files) {
        auto node = std::make_unique<CFileMemoryNode>(name, output.base, output.size);
        node->Load(file, false);
        if (node->GetSize() != image.GetSize()) {
            log(uiText().text(UiTextId::Error));
            return outputName;
        }
        reads.push_back(std::move(node));
    }

    std::vector<quint8> block(blockBytes);
    std::vector<std::vector<quint8>> readBlocks(reads.size(), std::vector<quint8>(blockBytes));
    std::vector<const quint8 *> readData;
    for (const auto &readBlock : readBlocks)
        readData.push_back(readBlock.data());
    for (quint64 offset = 0; offset < length; offset += blockBytes) {
        const quint64 size = std::min(blockBytes, length - offset);
        image.Read(offset, block.data(), size);
        for (size_t i = 0; i < reads.size(); ++i)
            reads[i]->Read(offset, readBlocks[i].data(), size);
        const bool stop = ReadVote::decideBlock(block.data(), readData, size, offset, log);
        // Append logs a failed write (a full disk) itself.
        if (!corrected.Append(block.data(), size) || stop)
            break;
    }
    return outputName;
}
