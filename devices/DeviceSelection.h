#pragma once

#include <QString>
#include <QStringList>

class CDeviceItem;
class DeviceCatalogue;
class Settings;

// Everything the device selection dialog decides, without widgets: the
// filters, the three lists with their current rows, the search field's text,
// the checked type button, the two info labels and the favourites as stored
// in the settings. DeviceSelectDialog shows this state and forwards the
// user's actions to the methods named after its slots.
//
// Rows are -1 when a list has no current row. The maker and favourite lists
// are kept sorted (case-sensitive); the device list keeps insertion order.
class DeviceSelection
{
public:
    // familyFilter() value that admits every family; also the index of the
    // "ALL" type button is 0, family i has button i + 1.
    static constexpr int AllFamilies = 2;

    // Reads the favourites from `store` and fills the lists. `catalogue` and
    // `store` must outlive the selection.
    DeviceSelection(const DeviceCatalogue &catalogue, Settings &store);

    // The device the user chose last in an accepted dialog, and the one
    // chosen before it. Process-wide; pointers into the catalogue, not owned.
    static CDeviceItem *chosenDevice();
    static CDeviceItem *previousDevice();
    // Makes `device` the chosen one; the current one becomes the previous.
    static void setChosenDevice(CDeviceItem *device);
    // Forgets both (for a new catalogue).
    static void resetChosenDevices();

    // Decisions of the dialog.
    int familyFilter() const { return m_familyFilter; }
    QString makerFilter() const { return m_makerFilter; }
    QString searchText() const { return m_searchText; }
    QString favouritesText() const { return m_favouritesText; }
    bool fromFavourites() const { return m_fromFavourites; }
    QString chosenName() const { return m_chosenName; }

    // What the widgets show.
    int checkedType() const { return m_checkedType; }
    QString searchEditText() const { return m_editText; }
    const QStringList &makers() const { return m_makers; }
    const QStringList &devices() const { return m_devices; }
    const QStringList &favourites() const { return m_favourites; }
    int makerRow() const { return m_makerRow; }
    int deviceRow() const { return m_deviceRow; }
    int favouriteRow() const { return m_favouriteRow; }
    // Name and maker of the device under the cursor; "-" until one is shown.
    QString nameText() const { return m_nameText; }
    QString makerText() const { return m_makerText; }
    // True once a device was shown in the labels (they change colour).
    bool deviceShown() const { return m_deviceShown; }

    // The user's actions.
    // Type button `button` was checked (0 "ALL", i + 1 family i).
    void typeChanged(int button);
    void makerChanged(int row);
    void deviceRowChanged(int row);
    // The user edited the search field (not a change made by the program).
    void searchEdited(const QString &text);
    // Both return the favourites as now stored in the settings.
    QString addFavourite();
    QString removeFavourite();
    // Chooses the device named `text` and accepts.
    void itemDoubleClicked(const QString &text);
    // The dialog closes as accepted: the current device, if any, becomes
    // chosenDevice(); with none it stays as it was.
    void accept();
    void favouriteClicked() { m_fromFavourites = true; }
    void deviceClicked() { m_fromFavourites = false; }
    // The current row of the favourite list moved (a click or a key).
    void setFavouriteRow(int row);

    // Steps the actions are made of.
    void fillMakers();
    void fillDevices();
    void searchDevices();
    void showSelection();
    // The current favourite (after a click there) or device becomes the
    // dialog's choice; returns it, or null when the catalogue does not know it.
    CDeviceItem *takeSelection();

private:
    void loadFavourites(const QString &stored);
    bool admits(int familyIndex) const;
    void setDeviceRow(int row);
    void storeFavourites();
    QString currentDevice() const;
    QString currentFavourite() const;

    const DeviceCatalogue &m_catalogue;
    Settings &m_store;

    int m_familyFilter = AllFamilies;
    QString m_makerFilter;
    QString m_searchText;
    QString m_favouritesText;
    bool m_fromFavourites = false;
    QString m_chosenName;

    int m_checkedType = 0;
    QString m_editText;
    QStringList m_makers;
    QStringList m_devices;
    QStringList m_favourites;
    int m_makerRow = -1;
    int m_deviceRow = -1;
    int m_favouriteRow = -1;
    QString m_nameText = QStringLiteral("-");
    QString m_makerText = QStringLiteral("-");
    bool m_deviceShown = false;
};
