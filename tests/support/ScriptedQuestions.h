#pragma once

#include "QuestionHost.h"

#include <QStringList>

// Answers the program's questions without a dialog: each answer is set
// beforehand, and every question is written down in order.
class ScriptedQuestions : public QuestionHost
{
public:
    bool confirm(const QString &title, const QString &text) override
    {
        asked << QStringLiteral("confirm ") + title + QStringLiteral(" | ") + text;
        return confirmAnswer;
    }
    void warn(const QString &title, const QString &text) override
    {
        asked << QStringLiteral("warn ") + title + QStringLiteral(" | ") + text;
    }
    QString chooseFolder(const QString &title, const QString &) override
    {
        asked << QStringLiteral("folder ") + title;
        return folderAnswer;
    }
    QString chooseOpenFile(const QString &title, const QString &, const QString &) override
    {
        asked << QStringLiteral("open ") + title;
        return openAnswer;
    }
    QString chooseSaveFile(const QString &title, const QString &, const QString &) override
    {
        asked << QStringLiteral("save ") + title;
        return saveAnswer;
    }
    QString chooseDevice() override
    {
        asked << QStringLiteral("device");
        return deviceAnswer;
    }
    int chooseAmong(const QStringList &names) override
    {
        asked << QStringLiteral("among ") + names.join(QLatin1Char(','));
        return amongAnswer;
    }
    // Records "define <mode> <title> | <presets>"; answers defineAnswer, a
    // catalogue line (CustomDeviceForm::catalogueLine builds one from field
    // texts).
    QString defineDevice(int mode, const QString &title, const QStringList &presetIds) override
    {
        asked << QStringLiteral("define %1 %2 | %3")
                     .arg(QString::number(mode), title, presetIds.join(QLatin1Char(',')));
        return defineAnswer;
    }
    // Records "files <excluded>"; answers filesAnswer unless
    // filesAccepted is false.
    bool selectFiles(const QString &excluded, const QString &, QStringList &files) override
    {
        asked << QStringLiteral("files ") + excluded;
        if (filesAccepted)
            files = filesAnswer;
        return filesAccepted;
    }
    void showAbout() override { asked << QStringLiteral("about"); }

    bool confirmAnswer = false;
    QString folderAnswer;
    QString openAnswer;
    QString saveAnswer;
    QString deviceAnswer;
    int amongAnswer = -1;
    QString defineAnswer;
    bool filesAccepted = false;
    QStringList filesAnswer;
    QStringList asked;
};
