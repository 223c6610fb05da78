// Paints a hex view the way scrolling does and prints the time per paint:
//  - a 1 MiB resident node (the bytes in memory);
//  - an 8 GiB file node over a sparse file (no disk space is used).
// Each node is painted 1000 times with the view at its start, middle and
// end. Goal: the 8 GiB node within 2x of the 1 MiB node, under 2 ms a paint.
// Optional argument: the number of paints per position (default 1000).
#include "CFileMemoryNode.h"
#include "CMemoryNode.h"
#include "HexView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryFile>

#include <cstdio>
#include <vector>

namespace {

constexpr quint64 SparseSize = quint64(8) << 30;

// Milliseconds per paint at the start, middle and end of the node.
std::vector<double> timePaints(CMemoryNode &node, int paints)
{
    HexView view(&node);
    view.resize(900, 800);
    view.show();
    QApplication::processEvents();
    const quint64 rows = view.layout().maxFirstRow();
    std::vector<double> perPaint;
    for (const quint64 row : {quint64(0), rows / 2, rows}) {
        view.setFirstRow(row);
        view.viewport()->repaint(); // settle caches before timing
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < paints; ++i)
            view.viewport()->repaint();
        perPaint.push_back(double(timer.nsecsElapsed()) / 1e6 / paints);
    }
    std::printf("  %s: %d rows painted, %d address digits\n", qPrintable(node.name()),
                view.layout().paintedRows(), view.addressDigits());
    return perPaint;
}

// A file of `size` bytes that holds data only in three small stretches.
bool makeSparseFile(QTemporaryFile &file, quint64 size)
{
    if (!file.open() || !file.resize(qint64(size)))
        return false;
    QByteArray chunk(4096, Qt::Uninitialized);
    for (int i = 0; i < chunk.size(); ++i)
        chunk[i] = char(i * 7 + 3);
    for (const quint64 at : {quint64(0), size / 2, size - quint64(chunk.size())}) {
        if (!file.seek(qint64(at)) || file.write(chunk) != chunk.size())
            return false;
    }
    file.close();
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int paints = argc > 1 ? QByteArray(argv[1]).toInt() : 1000;
    if (paints <= 0) {
        std::fprintf(stderr, "usage: bench_hex_view [paints]\n");
        return 2;
    }

    CMemoryNode resident(QStringLiteral("SPI"), 0, quint64(1) << 20, 0xFF);
    QByteArray bytes(1 << 20, Qt::Uninitialized);
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i % 251);
    resident.Write(reinterpret_cast<const quint8 *>(bytes.constData()), 0, quint32(bytes.size()));

    QTemporaryFile sparse;
    if (!makeSparseFile(sparse, SparseSize)) {
        std::fprintf(stderr, "cannot create an 8 GiB sparse file in the temporary folder\n");
        return 1;
    }
    CFileMemoryNode file(QStringLiteral("Nand"), 0, SparseSize);
    if (!file.Load(sparse.fileName(), false)) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(sparse.fileName()));
        return 1;
    }

    std::printf("%d paints per position\n", paints);
    const std::vector<double> small = timePaints(resident, paints);
    const std::vector<double> large = timePaints(file, paints);
    const char *where[] = {"start", "middle", "end"};
    double worstRatio = 0;
    double worstLarge = 0;
    for (std::size_t i = 0; i < small.size(); ++i) {
        std::printf("%-7s 1 MiB resident %7.3f ms/paint   8 GiB file %7.3f ms/paint   ratio %.2f\n",
                    where[i], small[i], large[i], large[i] / small[i]);
        worstRatio = std::max(worstRatio, large[i] / small[i]);
        worstLarge = std::max(worstLarge, large[i]);
    }
    std::printf("worst ratio %.2f (goal <= 2), worst 8 GiB paint %.3f ms (goal < 2)\n", worstRatio,
                worstLarge);
    return 0;
}
