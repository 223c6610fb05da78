#pragma once

#include "QuestionHost.h"

class DeviceCatalogue;
class QWidget;

// The program's answers to its questions: modal dialogs over the main window.
class DialogQuestions : public QuestionHost
{
public:
    DialogQuestions(QWidget *parent, DeviceCatalogue &catalogue, bool highDpi);

    bool confirm(const QString &title, const QString &text) override;
    void warn(const QString &title, const QString &text) override;
    QString chooseFolder(const QString &title, const QString &start) override;
    bool selectFiles(const QString &excluded, const QString &start, QStringList &files) override;
    QString chooseOpenFile(const QString &title, const QString &start,
                           const QString &filter) override;
    QString chooseSaveFile(const QString &title, const QString &start,
                           const QString &filter) override;
    QString chooseDevice() override;
    int chooseAmong(const QStringList &names) override;
    QString defineDevice(int mode, const QString &title, const QStringList &presetIds) override;
    void showAbout() override;

private:
    QWidget *m_parent;
    DeviceCatalogue &m_catalogue;
    bool m_highDpi;
};
