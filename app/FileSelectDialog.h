#pragma once

#include "FileSelection.h"

#include <QDialog>

#include <functional>

class QListWidget;

// "Select Files": the further reads of a chip for multiple read
// correction. "..." adds a file the chooser names, ">>" removes the current
// entry; Ok accepts the list.
class FileSelectDialog : public QDialog
{
    Q_OBJECT
public:
    FileSelectDialog(const QString &excluded, bool highDpi, QWidget *parent = nullptr);

    // What "..." asks: a file name, empty when cancelled.
    void setChooser(std::function<QString()> chooser) { m_chooser = std::move(chooser); }
    QStringList files() const { return m_selection.files(); }
    QListWidget *list() const { return m_list; }

public slots:
    void addFile();
    void removeCurrent();

private:
    FileSelection m_selection;
    std::function<QString()> m_chooser;
    QListWidget *m_list = nullptr;
};
