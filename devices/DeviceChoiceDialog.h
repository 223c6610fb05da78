#pragma once

#include "DeviceChooser.h"

#include <QDialog>
#include <QStringList>

class QListWidget;
class QPushButton;

// Lets the user pick one of several devices that answer to the same ID: a
// list of their names, first row selected, with "Select" and "Cancel".
class DeviceChoiceDialog : public QDialog
{
    Q_OBJECT
public:
    explicit DeviceChoiceDialog(const QStringList &names, QWidget *parent = nullptr);

    QListWidget *list() const { return m_list; }
    QPushButton *selectButton() const { return m_select; }
    QPushButton *cancelButton() const { return m_cancel; }
    // The selected row, or -1 when none is selected.
    int selectedRow() const;

    // A chooser for DeviceCatalogue::setChooser() that shows this dialog
    // modally over `parent`; it returns -1 when the user cancels.
    static DeviceChooser chooser(QWidget *parent);

private:
    QListWidget *m_list;
    QPushButton *m_select;
    QPushButton *m_cancel;
};
