#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>
#include <vector>

class ChipEngine;
class CMemoryNode;
class HexView;
class QAction;
class QFont;
class QTabWidget;

// The memory tabs of the main window: one HexView per node of the current
// engine, each on a tab named after its node, after the "Message Log" tab.
class MemoryTabs : public QObject
{
    Q_OBJECT
public:
    explicit MemoryTabs(QTabWidget &tabs, QObject *parent = nullptr);

    // A view for each node of `engine`: `font`, the remember-file entry of
    // drops, `contextAction` in the views' context menus.
    void addViews(ChipEngine &engine, const QFont &font,
                  const std::function<void(const QString &)> &rememberFile, QAction *contextAction);
    // Removes every view; before their engine (and its nodes) goes.
    void removeViews();
    QList<HexView *> views() const;

    // The views of `node` recompute their extent; the current one repaints.
    void refresh(CMemoryNode *node);
    // Scrolls every view whose node holds `address` to it and, with
    // `bringToFront`, brings the last such view's tab to the front; false
    // when no node holds it.
    bool makeAddressVisible(quint64 address, bool bringToFront = true);

private:
    QTabWidget &m_tabs;
    std::vector<QPointer<HexView>> m_views;
};
