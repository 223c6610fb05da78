#pragma once

#include "QuestionHost.h"

#include <functional>

// The answers of a run that nobody watches (the offscreen platform): every
// question gets its safe answer - No, Cancel, or OK for a message box - and
// the message log says which question was answered how.
class UnattendedQuestions : public QuestionHost
{
public:
    using Log = std::function<void(const QString &line)>;
    explicit UnattendedQuestions(Log log) : m_log(std::move(log)) {}

    bool confirm(const QString &title, const QString &text) override;
    void warn(const QString &title, const QString &text) override;
    QString chooseFolder(const QString &title, const QString &start) override;
    QString chooseOpenFile(const QString &title, const QString &start,
                           const QString &filter) override;
    QString chooseSaveFile(const QString &title, const QString &start,
                           const QString &filter) override;
    QString chooseDevice() override;
    int chooseAmong(const QStringList &names) override;
    QString defineDevice(int mode, const QString &title, const QStringList &presetIds) override;
    bool selectFiles(const QString &excluded, const QString &start, QStringList &files) override;
    void showAbout() override;

private:
    void answered(const QString &question, const QString &answer);

    Log m_log;
};
