#include "BadBlockTab.h"

#include "BadBlockMapView.h"
#include "NandEngine.h"

#include <QSplitter>
#include <QTabWidget>

BadBlockTab::BadBlockTab(QTabWidget &tabs, QObject *parent) : QObject(parent), m_tabs(tabs) {}

BadBlockTab::~BadBlockTab()
{
    remove();
}

void BadBlockTab::show(NandEngine &engine, bool highDpi)
{
    remove();
    m_page = new QSplitter(Qt::Horizontal);
    m_source = new BadBlockMapView(m_page);
    m_target = new BadBlockMapView(m_page);
    const quint64 blockBytes = engine.blockBytes();
    for (BadBlockMapView *view : {m_source, m_target}) {
        view->setCellSize(highDpi ? BadBlockMapView::LargeCell : BadBlockMapView::DefaultCell);
        connect(view, &BadBlockMapView::blockClicked, this,
                [this, blockBytes](quint32 block, Qt::MouseButton button) {
                    emit addressChosen(quint64(block) * blockBytes, button == Qt::LeftButton);
                });
    }
    m_source->setTable(&engine.sourceTable());
    m_target->setTable(&engine.targetTable());
    m_tabs.addTab(m_page, QStringLiteral("BadBlock"));
}

void BadBlockTab::remove()
{
    if (m_page) {
        m_tabs.removeTab(m_tabs.indexOf(m_page));
        delete m_page;
    }
    m_source = nullptr;
    m_target = nullptr;
}

void BadBlockTab::refresh(int which)
{
    if (!m_page)
        return;
    if (which == 0 && m_tabs.currentWidget() != m_page)
        return;
    if (which != 2)
        m_source->refresh();
    if (which != 1)
        m_target->refresh();
}
