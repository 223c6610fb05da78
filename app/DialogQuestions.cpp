#include "DialogQuestions.h"

#include "AboutDialog.h"
#include "CDeviceItem.h"
#include "CustomDeviceDialog.h"
#include "DeviceChoiceDialog.h"
#include "DeviceSelectDialog.h"
#include "DeviceSelection.h"
#include "FileSelectDialog.h"
#include "ProgramObjects.h"
#include "UiTextId.h"

#include <QFileDialog>
#include <QMessageBox>

DialogQuestions::DialogQuestions(QWidget *parent, DeviceCatalogue &catalogue, bool highDpi)
    : m_parent(parent), m_catalogue(catalogue), m_highDpi(highDpi)
{}

bool DialogQuestions::confirm(const QString &title, const QString &text)
{
    return QMessageBox::warning(m_parent, title, text, QMessageBox::Yes | QMessageBox::No,
                                QMessageBox::No) == QMessageBox::Yes;
}

void DialogQuestions::warn(const QString &title, const QString &text)
{
    QMessageBox::warning(m_parent, title, text);
}

QString DialogQuestions::chooseFolder(const QString &title, const QString &start)
{
    return QFileDialog::getExistingDirectory(m_parent, title, start);
}

QString DialogQuestions::chooseOpenFile(const QString &title, const QString &start,
                                        const QString &filter)
{
    return QFileDialog::getOpenFileName(m_parent, title, start, filter);
}

QString DialogQuestions::chooseSaveFile(const QString &title, const QString &start,
                                        const QString &filter)
{
    return QFileDialog::getSaveFileName(m_parent, title, start, filter);
}

QString DialogQuestions::chooseDevice()
{
    DeviceSelectDialog dialog(m_catalogue, m_highDpi, m_parent);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    const CDeviceItem *chosen = DeviceSelection::chosenDevice();
    return chosen ? chosen->name : QString();
}

int DialogQuestions::chooseAmong(const QStringList &names)
{
    return DeviceChoiceDialog::chooser(m_parent)(names);
}

QString DialogQuestions::defineDevice(int mode, const QString &title, const QStringList &presetIds)
{
    CustomDeviceDialog dialog(m_catalogue, mode, title, presetIds, m_parent);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.catalogueLine();
}

bool DialogQuestions::selectFiles(const QString &excluded, const QString &start, QStringList &files)
{
    FileSelectDialog dialog(excluded, m_highDpi, m_parent);
    dialog.setChooser([this, start] {
        return QFileDialog::getOpenFileName(
            m_parent, uiText().text(UiTextId::OpenTip), start,
            QStringLiteral("Binary files (*.bin);;All files (*.*)"));
    });
    if (dialog.exec() != QDialog::Accepted)
        return false;
    files = dialog.files();
    return true;
}

void DialogQuestions::showAbout()
{
    AboutDialog dialog(m_parent);
    dialog.exec();
}
