#include "MemoryTabs.h"

#include "AnswerKind.h"
#include "CMemoryNode.h"
#include "ChipEngine.h"
#include "HexView.h"

#include <QTabWidget>

MemoryTabs::MemoryTabs(QTabWidget &tabs, QObject *parent) : QObject(parent), m_tabs(tabs) {}

void MemoryTabs::addViews(ChipEngine &engine, const QFont &font,
                          const std::function<void(const QString &)> &rememberFile,
                          QAction *contextAction)
{
    for (int i = 0; i < 2; ++i) {
        CMemoryNode *node = engine.memoryNode(i);
        if (!node)
            continue;
        auto *view = new HexView(node, &m_tabs);
        view->setViewFont(font);
        view->setRememberFile(rememberFile);
        view->setContextAction(contextAction);
        // The engine's main image loads through the engine, which lays it
        // into its block window and forgets a derived image built from the
        // one before.
        if (i == 0 && (engine.capabilities() & EngineCapability::NandTools)) {
            view->setLoader([&engine, node](const QString &path) {
                engine.loadImage(path);
                return node->fileName() == path && node->GetSize() > 0;
            });
        }
        m_tabs.addTab(view, node->name());
        m_views.emplace_back(view);
    }
}

void MemoryTabs::removeViews()
{
    for (const QPointer<HexView> &view : m_views) {
        if (view) {
            m_tabs.removeTab(m_tabs.indexOf(view));
            delete view.data();
        }
    }
    m_views.clear();
}

QList<HexView *> MemoryTabs::views() const
{
    QList<HexView *> views;
    for (const QPointer<HexView> &view : m_views) {
        if (view)
            views.append(view.data());
    }
    return views;
}

void MemoryTabs::refresh(CMemoryNode *node)
{
    for (HexView *view : views()) {
        if (view->node() != node)
            continue;
        view->relayout();
        if (m_tabs.currentWidget() == view)
            view->viewport()->update();
    }
}

bool MemoryTabs::makeAddressVisible(quint64 address, bool bringToFront)
{
    HexView *shown = nullptr;
    for (HexView *view : views()) {
        CMemoryNode *node = view->node();
        if (!node->Contains(address))
            continue;
        const quint64 offset = address - node->GetBase();
        view->makeVisible(offset, offset);
        shown = view;
    }
    if (shown && bringToFront)
        m_tabs.setCurrentWidget(shown);
    return shown != nullptr;
}
