#pragma once

#include "DeviceSelection.h"

#include <QDialog>
#include <QList>
#include <QStringList>

class DeviceCatalogue;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QRadioButton;

// The dialog in which the user picks the target device: by family, by maker,
// by part of the name or from the favourite devices kept in the settings.
// DeviceSelection decides; this class shows its state and passes the user's
// actions on. The caller runs it modally; once accepted,
// DeviceSelection::chosenDevice() holds the choice.
class DeviceSelectDialog : public QDialog
{
    Q_OBJECT
public:
    // `largeFont`: the main window's large-font layout is in use.
    DeviceSelectDialog(DeviceCatalogue &catalogue, bool largeFont, QWidget *parent = nullptr);

    const DeviceSelection &selection() const { return m_selection; }
    QString chosenName() const { return m_selection.chosenName(); }

    QLineEdit *searchEdit() const { return m_searchEdit; }
    const QList<QRadioButton *> &typeButtons() const { return m_typeButtons; }
    QListWidget *makerList() const { return m_makerList; }
    QListWidget *deviceList() const { return m_deviceList; }
    QListWidget *favouriteList() const { return m_favouriteList; }
    QLabel *nameLabel() const { return m_nameLabel; }
    QLabel *makerLabel() const { return m_makerLabel; }
    QLabel *tipLabel() const { return m_tipLabel; }
    QPushButton *addButton() const { return m_addButton; }
    QPushButton *removeButton() const { return m_removeButton; }
    QPushButton *selectButton() const { return m_selectButton; }
    QPushButton *cancelButton() const { return m_cancelButton; }

public slots:
    void typeChanged();
    void makerChanged(int row);
    void deviceRowChanged(int row);
    void searchEdited(const QString &text);
    void addFavourite();
    void removeFavourite();
    void itemDoubleClicked(QListWidgetItem *item);
    void accept() override;
    void favouriteClicked();
    void deviceClicked();

private:
    void buildWidgets(const DeviceCatalogue &catalogue, bool largeFont);
    void connectWidgets();
    // Brings every widget in line with m_selection, without feeding the
    // changes back as user actions.
    void showState();
    static void showList(QListWidget *list, QStringList &shown, const QStringList &wanted,
                         int currentRow);

    DeviceSelection m_selection;

    QLineEdit *m_searchEdit = nullptr;
    QList<QRadioButton *> m_typeButtons;
    QListWidget *m_makerList = nullptr;
    QListWidget *m_deviceList = nullptr;
    QListWidget *m_favouriteList = nullptr;
    QLabel *m_nameLabel = nullptr;
    QLabel *m_makerLabel = nullptr;
    QLabel *m_tipLabel = nullptr;
    QPushButton *m_addButton = nullptr;
    QPushButton *m_removeButton = nullptr;
    QPushButton *m_selectButton = nullptr;
    QPushButton *m_cancelButton = nullptr;

    QStringList m_shownMakers;
    QStringList m_shownDevices;
    QStringList m_shownFavourites;
};
