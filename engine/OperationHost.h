#pragma once

#include <QString>
#include <QtGlobal>

class CMemoryNode;
class DeviceCatalogue;
class QuestionHost;
struct BadBlockSkip;

// What the chip engines need from the main window while an operation runs:
// the progress entries (values count link packets, erase values pages or
// sectors), the message log, the views of their memory nodes, and the user's
// answers. The main window implements it; tests replace it.
class OperationHost
{
public:
    virtual ~OperationHost();

    // An operation starts at progress value `start` and ends at start +
    // count (start + 1 for a count of 0).
    virtual void beginProgress(uint start, uint count) = 0;
    // True while an operation runs (between beginProgress and its end, a
    // Stop or a lost connection).
    virtual bool operationRunning() const = 0;
    virtual void showReadProgress(uint value) = 0;
    // A read chunk of `count` packets at `position` went into `node`.
    virtual void showChunkProgress(uint position, uint count, CMemoryNode *node) = 0;
    // A verify chunk: `size` bytes read from the chip at node address
    // `address`, compared with `node`; a mismatch stops the operation.
    virtual void showVerifyProgress(uint position, uint count, CMemoryNode *node, quint64 address,
                                    const quint8 *chipData, quint64 size,
                                    const BadBlockSkip *badBlocks) = 0;
    // A blank-check chunk and the engine's verdict on it.
    virtual void showBlankProgress(uint position, uint count, bool blank) = 0;
    // Erase progress at `value`, counted like the start given to
    // beginProgress.
    virtual void showEraseProgress(uint value) = 0;
    virtual void appendLog(const QString &line) = 0;
    // The job `job` (a JobCode) has ended as it should, or has failed; the
    // engines report the ends that are theirs (a detection settled, an erase
    // with its scan done, a read whose file could not be written).
    virtual void jobEnded(int job) = 0;
    virtual void jobFailed(int job) = 0;
    // The node's contents or size changed: its views recompute and repaint.
    virtual void refreshNodeView(CMemoryNode *node) = 0;
    // Selects the target named `name` shortly (after the current event);
    // with `always` also when it is the current target, so that the engine
    // is re-created for a record that changed.
    virtual void setTarget(const QString &name, bool always = false) = 0;
    virtual QString currentTargetName() const = 0;
    // The job `job` ends once the programmer of the next engine is ready
    // (a detection that switched the target).
    virtual void endJobWhenReady(int job) = 0;
    // Stops the running operation as the Stop action does.
    virtual void stopOperation() = 0;
    // A bad-block table build or scan: the progress bar shows `value` of
    // `maximum` without an operation running; a maximum of 0 resets it.
    virtual void showTableProgress(uint value, uint maximum) = 0;
    // Repaints the bad-block views: 0 both (when their tab is in front), 1
    // the source view, 2 the target view.
    virtual void refreshBadBlocks(int which) = 0;
    // The program's device catalogue.
    virtual DeviceCatalogue &deviceCatalogue() = 0;
    // Opens the catalogue file of the family `kind` (0 NAND, 1 SPI) with the
    // desktop's default handler.
    virtual void openCatalogueFile(int kind) = 0;
    virtual QuestionHost &questions() = 0;
    // The folder the user last worked in (file choosers start there).
    virtual QString lastUsedFolder() const = 0;
    // The speed display and control show `step` without sending it again.
    virtual void setSpeedDisplay(int step) = 0;
};
