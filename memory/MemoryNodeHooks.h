#pragma once

#include <QString>

#include <functional>

class CMemoryNode;

// Where a memory node talks to the rest of the program. The owner installs
// them (the main window's message log, view refresh, save dialog and recent
// file list); a hook left empty does nothing, so nodes work headless and
// before any window exists.
//
// `log` may be called from whichever thread runs Compare or Append, so the
// installed function must be safe to call from the engine's worker thread.
// The other hooks are called from the thread that runs the operation that
// reports (in the program, the GUI thread). No hook is called while the node
// holds its busy lock, so a hook may read the node.
struct MemoryNodeHooks
{
    // One line for the message log.
    std::function<void(const QString &line)> log;
    // The node's whole contents changed: repaint the views that show it.
    std::function<void(CMemoryNode *node)> contentsChanged;
    // The save-file question of CreateBackingFile, with the node's caption and
    // filter. Returns the chosen path, or an empty string when cancelled.
    std::function<QString(const QString &caption, const QString &filter)> askSaveFileName;
    // A file name the user chose, for the recent-file list.
    std::function<void(const QString &fileName)> rememberFile;
};
