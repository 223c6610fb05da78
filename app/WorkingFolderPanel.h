#pragma once

#include <QFrame>
#include <QString>

class FileListView;
class QLineEdit;
class QPushButton;
class QuestionHost;

// The left pane of the main window: the working folder's name, a button to
// choose another folder, the folder's files and the size and date of the
// selected one. Opening a file and choosing a folder are reported by signal;
// the main window keeps the recent list and the working folder.
class WorkingFolderPanel : public QFrame
{
    Q_OBJECT
public:
    WorkingFolderPanel(QuestionHost *questions, bool highDpi, QWidget *parent = nullptr);

    // Shows `path`'s last component and lists its files.
    void setFolder(const QString &path);
    // The selected file's size and time as they are now.
    void refreshInformation();
    QString information() const;
    QString folder() const { return m_folder; }

    FileListView *fileList() const { return m_fileList; }
    QLineEdit *folderNameEdit() const { return m_folderName; }
    QLineEdit *informationEdit() const { return m_information; }
    QPushButton *browseButton() const { return m_browse; }

signals:
    // The user chose `folder` (ending in "/") with the browse button.
    void folderChosen(const QString &folder);
    // The user opened the file at `absolutePath` from the list.
    void fileOpened(const QString &absolutePath);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void browse();
    void layoutChildren();

    QuestionHost *m_questions;
    bool m_highDpi;
    QString m_folder;
    QLineEdit *m_folderName;
    QPushButton *m_browse;
    FileListView *m_fileList;
    QLineEdit *m_information;
};
