#pragma once

#include "FileListState.h"

#include <QAbstractScrollArea>
#include <QFileInfoList>
#include <QString>

#include <memory>

class QMimeData;

// The working folder's files, drawn one name per row. Keys, presses and
// scrolling go through a FileListState; this widget draws, keeps the scroll
// bar in step and starts drags.
class FileListView : public QAbstractScrollArea
{
    Q_OBJECT
public:
    // Says again what the selected file is, as it is on disk now.
    void refreshInformation();
    explicit FileListView(QWidget *parent = nullptr);

    // Lists `folder` (nothing when it does not exist).
    void setFolder(const QString &folder);
    QString folder() const { return m_folder; }
    const QFileInfoList &entries() const { return m_entries; }
    const FileListState &state() const { return m_state; }

    // What a drag of the selected entry carries; null when no entry is
    // selected (an empty list) or its path cannot be carried.
    std::unique_ptr<QMimeData> dragData() const;

signals:
    // The selected entry's size and date, after a selection change or scroll.
    void informationChanged(const QString &text);
    // A file was opened (double-click, or a press on the selected row).
    void fileOpened(const QString &absolutePath);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    QRect textRect() const;
    void relayout();
    void applyMetrics();
    void apply(FileListState::Change change);
    void applyMouse(FileListState::MouseResult result);

    QString m_folder;
    QFileInfoList m_entries;
    FileListState m_state;
    bool m_relayoutPending = true;
    bool m_syncingScrollBar = false; // the scroll bar follows the state, not the other way
    quint64 m_lastPressTime = 0;
    bool m_pressedBefore = false;
};
