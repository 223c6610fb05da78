#include "DeviceSelection.h"

#include "CDeviceFamily.h"
#include "DeviceCatalogue.h"
#include "Favourites.h"
#include "Settings.h"

#include <QSet>

#include <algorithm>

namespace {
CDeviceItem *g_chosen = nullptr;
CDeviceItem *g_previous = nullptr;

bool validRow(int row, const QStringList &list)
{
    return row >= 0 && row < list.size();
}
} // namespace

CDeviceItem *DeviceSelection::chosenDevice()
{
    return g_chosen;
}

CDeviceItem *DeviceSelection::previousDevice()
{
    return g_previous;
}

void DeviceSelection::setChosenDevice(CDeviceItem *device)
{
    if (device == g_chosen)
        return;
    g_previous = g_chosen;
    g_chosen = device;
}

void DeviceSelection::resetChosenDevices()
{
    g_chosen = nullptr;
    g_previous = nullptr;
}

DeviceSelection::DeviceSelection(const DeviceCatalogue &catalogue, Settings &store)
    : m_catalogue(catalogue), m_store(store)
{
    loadFavourites(m_store.string(Settings::FavoriteDeviceList));
    fillMakers();
    fillDevices();
}

// Each entry is a name followed by a comma; an empty entry ends the list and
// text after the last comma is no entry. Only names the catalogue knows are
// kept, each once.
void DeviceSelection::loadFavourites(const QString &stored)
{
    QStringList admitted;
    qsizetype start = 0;
    for (;;) {
        const qsizetype comma = stored.indexOf(QLatin1Char(','), start);
        if (comma <= start)
            break;
        const QString name = stored.mid(start, comma - start);
        start = comma + 1;
        if (!admitted.contains(name) && m_catalogue.findByName(name))
            admitted << name;
    }
    m_favouritesText.clear();
    for (const QString &name : admitted)
        m_favouritesText = Favourites::added(m_favouritesText, name);
    m_favourites = admitted;
    m_favourites.sort(Qt::CaseSensitive);
}

bool DeviceSelection::admits(int familyIndex) const
{
    return m_familyFilter == AllFamilies || m_familyFilter == familyIndex;
}

void DeviceSelection::fillMakers()
{
    m_makers.clear();
    m_makerRow = -1;
    QSet<QString> listed;
    for (int f = 0; f < m_catalogue.familyCount(); ++f) {
        if (!admits(f))
            continue;
        for (const CDeviceItem *item : m_catalogue.family(f)->records()) {
            if (item->manufacturer.isEmpty() || listed.contains(item->manufacturer))
                continue;
            listed.insert(item->manufacturer);
            m_makers << item->manufacturer;
        }
    }
    m_makers.sort(Qt::CaseSensitive);
}

void DeviceSelection::fillDevices()
{
    m_devices.clear();
    setDeviceRow(-1);
    QSet<QString> listed;
    for (int f = 0; f < m_catalogue.familyCount(); ++f) {
        if (!admits(f))
            continue;
        for (const CDeviceItem *item : m_catalogue.family(f)->records()) {
            if (item->name.isEmpty() || listed.contains(item->name))
                continue;
            if (!m_makerFilter.isEmpty() && item->manufacturer != m_makerFilter)
                continue;
            // As typed: names are upper case, so lower-case text matches nothing.
            if (!m_editText.isEmpty() && !item->name.contains(m_editText))
                continue;
            listed.insert(item->name);
            m_devices << item->name;
        }
    }
    if (!m_devices.isEmpty())
        setDeviceRow(0);
    m_favouriteRow = -1;
}

void DeviceSelection::searchDevices()
{
    m_devices.clear();
    setDeviceRow(-1);
    for (int f = 0; f < m_catalogue.familyCount(); ++f) {
        for (const CDeviceItem *item : m_catalogue.family(f)->records()) {
            if (item->name.contains(m_searchText))
                m_devices << item->name;
        }
    }
}

QString DeviceSelection::currentDevice() const
{
    return validRow(m_deviceRow, m_devices) ? m_devices.at(m_deviceRow) : QString();
}

QString DeviceSelection::currentFavourite() const
{
    return validRow(m_favouriteRow, m_favourites) ? m_favourites.at(m_favouriteRow) : QString();
}

void DeviceSelection::showSelection()
{
    QString name = currentDevice();
    if (name.isEmpty())
        name = currentFavourite();
    if (name.isEmpty())
        return;
    const CDeviceItem *item = m_catalogue.findByName(name);
    if (!item)
        return;
    takeSelection();
    m_deviceShown = true;
    m_makerText = item->manufacturer;
    m_nameText = item->name;
}

CDeviceItem *DeviceSelection::takeSelection()
{
    const QString name =
        m_fromFavourites && m_favouriteRow >= 0 ? currentFavourite() : currentDevice();
    CDeviceItem *item = name.isEmpty() ? nullptr : m_catalogue.findByName(name);
    if (item)
        m_chosenName = name;
    return item;
}

// A change of the device list's current row, as the list reports it.
void DeviceSelection::setDeviceRow(int row)
{
    if (row != m_deviceRow)
        deviceRowChanged(row);
}

void DeviceSelection::typeChanged(int button)
{
    if (button < 0 || button > m_catalogue.familyCount())
        return;
    m_checkedType = button;
    m_familyFilter = button == 0 ? AllFamilies : button - 1;
    m_makerFilter.clear();
    m_editText.clear();
    fillMakers();
    if (m_makers.isEmpty()) {
        m_devices.clear();
        setDeviceRow(-1);
        return;
    }
    fillDevices();
    m_favouriteRow = -1;
}

void DeviceSelection::makerChanged(int row)
{
    if (!validRow(row, m_makers))
        return;
    m_makerRow = row;
    m_makerFilter = m_makers.at(row);
    fillDevices();
    showSelection();
}

void DeviceSelection::deviceRowChanged(int row)
{
    m_deviceRow = validRow(row, m_devices) ? row : -1;
    m_favouriteRow = -1;
    showSelection();
}

void DeviceSelection::searchEdited(const QString &text)
{
    m_editText = text;
    m_searchText = text.toUpper();
    searchDevices();
    if (!m_searchText.isEmpty() && m_familyFilter != AllFamilies)
        m_checkedType = 0;
}

void DeviceSelection::storeFavourites()
{
    m_store.setString(Settings::FavoriteDeviceList, m_favouritesText);
}

QString DeviceSelection::addFavourite()
{
    const QString name = currentDevice();
    // A name with a comma could not be read back from the stored list.
    if (name.isEmpty() || name.contains(QLatin1Char(',')) || m_favourites.contains(name))
        return m_favouritesText;
    const auto at = std::lower_bound(m_favourites.begin(), m_favourites.end(), name);
    const int row = static_cast<int>(at - m_favourites.begin());
    m_favourites.insert(row, name);
    if (m_favouriteRow >= row)
        ++m_favouriteRow;
    m_favouritesText = Favourites::added(m_favouritesText, name);
    storeFavourites();
    return m_favouritesText;
}

QString DeviceSelection::removeFavourite()
{
    if (!validRow(m_favouriteRow, m_favourites))
        return m_favouritesText;
    const int row = m_favouriteRow;
    const QString name = m_favourites.takeAt(row);
    // The whole entry only: removing "W25Q" leaves "W25Q64," alone.
    m_favouritesText = Favourites::removed(m_favouritesText, name);
    storeFavourites();
    m_favouriteRow = row < m_favourites.size() ? row : -1;
    m_deviceRow = -1;
    m_fromFavourites = false;
    return m_favouritesText;
}

void DeviceSelection::setFavouriteRow(int row)
{
    m_favouriteRow = validRow(row, m_favourites) ? row : -1;
}

void DeviceSelection::itemDoubleClicked(const QString &text)
{
    if (CDeviceItem *item = text.isEmpty() ? nullptr : m_catalogue.findByName(text)) {
        m_chosenName = text;
        setChosenDevice(item);
    }
    accept();
}

void DeviceSelection::accept()
{
    const QString name = m_fromFavourites ? currentFavourite() : currentDevice();
    if (!name.isEmpty() && m_catalogue.findByName(name)) {
        if (CDeviceItem *item = takeSelection())
            setChosenDevice(item);
        return;
    }
    // Nothing chosen: the choice from before the dialog stands.
    m_chosenName = chosenDevice() ? chosenDevice()->name : QString();
}
