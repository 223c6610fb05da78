#pragma once

#include <QObject>
#include <QPointer>
#include <QSplitter>

class BadBlockMapView;
class NandEngine;

class QTabWidget;

// The "BadBlock" tab of the main window while a NAND engine is selected: the
// source table's map and the target table's map side by side. A press on a
// block asks for its first address to be shown.
class BadBlockTab : public QObject
{
    Q_OBJECT
public:
    explicit BadBlockTab(QTabWidget &tabs, QObject *parent = nullptr);
    ~BadBlockTab() override;

    // Builds the tab for `engine`'s tables (cells of the large-font layout
    // with `highDpi`).
    void show(NandEngine &engine, bool highDpi);
    // Removes the tab (the engine and its tables go).
    void remove();
    // 0 both maps, only while their tab is in front; 1 the source map, 2
    // the target map.
    void refresh(int which);

    BadBlockMapView *sourceView() const { return m_source; }
    BadBlockMapView *targetView() const { return m_target; }
    QSplitter *page() const { return m_page; }

signals:
    // A block at `address` was pressed; `keepMap`: with the left button, the
    // map stays in front.
    void addressChosen(quint64 address, bool keepMap);

private:
    QTabWidget &m_tabs;
    QPointer<QSplitter> m_page;
    BadBlockMapView *m_source = nullptr;
    BadBlockMapView *m_target = nullptr;
};
