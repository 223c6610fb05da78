#include "DeviceSelectDialog.h"

#include "CDeviceFamily.h"
#include "DeviceCatalogue.h"
#include "DeviceSelectLayout.h"
#include "ProgramObjects.h"
#include "UiTextId.h"

#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>

#include <algorithm>

namespace Layout = DeviceSelectLayout;

namespace {
QLabel *label(QWidget *parent, const QString &text, const QRect &rect, int rightLimit = -1)
{
    auto *result = new QLabel(text, parent);
    // A font wider than the one the layout was drawn for: the caption takes
    // the free room up to `rightLimit` rather than losing its end.
    QRect fitted = rect;
    if (rightLimit > rect.right())
        fitted.setRight(
            std::clamp(rect.left() + result->sizeHint().width() - 1, rect.right(), rightLimit));
    result->setGeometry(fitted);
    return result;
}

QListWidget *list(QWidget *parent, const QRect &rect)
{
    auto *result = new QListWidget(parent);
    result->setGeometry(rect);
    return result;
}

QPushButton *button(QWidget *parent, const QString &text, const QRect &rect)
{
    auto *result = new QPushButton(text, parent);
    result->setGeometry(rect);
    return result;
}
} // namespace

DeviceSelectDialog::DeviceSelectDialog(DeviceCatalogue &catalogue, bool largeFont, QWidget *parent)
    : QDialog(parent), m_selection(catalogue, settings())
{
    buildWidgets(catalogue, largeFont);
    connectWidgets();
    showState();
}

void DeviceSelectDialog::buildWidgets(const DeviceCatalogue &catalogue, bool largeFont)
{
    setWindowTitle(uiText().text(UiTextId::DeviceSelectionSearch));
    setWindowIcon(QIcon(QStringLiteral(":/images/usbprog.png")));
    setFixedSize(Layout::dialogSize);

    auto *searchBox = new QGroupBox(this);
    searchBox->setGeometry(Layout::searchBox);
    label(searchBox, uiText().text(UiTextId::SearchDeviceFor), Layout::searchLabel,
          Layout::searchEdit.left() - 4);
    m_searchEdit = new QLineEdit(searchBox);
    m_searchEdit->setGeometry(Layout::searchEdit);

    label(this, uiText().text(UiTextId::Type), Layout::typeLabel);
    auto *typeBox = new QGroupBox(this);
    typeBox->setGeometry(Layout::typeBox);
    QStringList typeNames{QStringLiteral("ALL")};
    for (int i = 0; i < catalogue.familyCount(); ++i)
        typeNames << catalogue.family(i)->name();
    for (int i = 0; i < typeNames.size(); ++i) {
        auto *radio = new QRadioButton(typeNames.at(i), typeBox);
        radio->setGeometry(Layout::typeButton(i));
        m_typeButtons << radio;
    }

    label(this, uiText().text(UiTextId::Manufacture), Layout::makerLabel);
    m_makerList = list(this, Layout::makerList);
    label(this, uiText().text(UiTextId::Device), Layout::deviceLabel);
    m_deviceList = list(this, Layout::deviceList);
    label(this, uiText().text(UiTextId::MyFavoriteDevices), Layout::favouriteLabel,
          Layout::favouriteList.right());
    m_favouriteList = list(this, Layout::favouriteList);
    m_addButton = button(this, QStringLiteral(">>"), Layout::addButton);
    m_removeButton = button(this, QStringLiteral("<<"), Layout::removeButton);

    auto *infoBox = new QGroupBox(this);
    infoBox->setGeometry(Layout::infoBox);
    label(infoBox, uiText().text(UiTextId::Device), Layout::infoNameCaption);
    m_nameLabel = label(infoBox, QString(), Layout::infoName);
    label(infoBox, uiText().text(UiTextId::Manufacture), Layout::infoMakerCaption);
    m_makerLabel = label(infoBox, QString(), Layout::infoMaker);

    m_tipLabel = label(this, uiText().text(UiTextId::DeviceSearchTip), Layout::tipLabel);
    m_tipLabel->setWordWrap(true);
    m_tipLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_tipLabel->setStyleSheet(Layout::tipStyleSheet(largeFont));

    m_selectButton = button(this, uiText().text(UiTextId::Select), Layout::selectButton);
    m_cancelButton = button(this, uiText().text(UiTextId::Cancel), Layout::cancelButton);
    // Return in the search field selects; it never adds or removes a favourite.
    m_addButton->setAutoDefault(false);
    m_removeButton->setAutoDefault(false);
    m_selectButton->setDefault(true);
}

void DeviceSelectDialog::connectWidgets()
{
    for (QRadioButton *radio : std::as_const(m_typeButtons))
        connect(radio, &QRadioButton::released, this, &DeviceSelectDialog::typeChanged);
    connect(m_addButton, &QPushButton::clicked, this, &DeviceSelectDialog::addFavourite);
    connect(m_removeButton, &QPushButton::clicked, this, &DeviceSelectDialog::removeFavourite);
    connect(m_makerList, &QListWidget::currentRowChanged, this, &DeviceSelectDialog::makerChanged);
    connect(m_deviceList, &QListWidget::currentRowChanged, this,
            &DeviceSelectDialog::deviceRowChanged);
    connect(m_favouriteList, &QListWidget::currentRowChanged, this,
            [this](int row) { m_selection.setFavouriteRow(row); });
    connect(m_deviceList, &QListWidget::itemDoubleClicked, this,
            &DeviceSelectDialog::itemDoubleClicked);
    connect(m_favouriteList, &QListWidget::itemDoubleClicked, this,
            &DeviceSelectDialog::itemDoubleClicked);
    connect(m_deviceList, &QListWidget::itemClicked, this, &DeviceSelectDialog::deviceClicked);
    connect(m_favouriteList, &QListWidget::itemClicked, this,
            &DeviceSelectDialog::favouriteClicked);
    connect(m_searchEdit, &QLineEdit::textEdited, this, &DeviceSelectDialog::searchEdited);
    connect(m_selectButton, &QPushButton::clicked, this, &DeviceSelectDialog::accept);
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void DeviceSelectDialog::showList(QListWidget *list, QStringList &shown, const QStringList &wanted,
                                  int currentRow)
{
    const QSignalBlocker blocker(list);
    if (shown != wanted) {
        list->clear();
        list->addItems(wanted);
        shown = wanted;
    }
    if (list->currentRow() != currentRow)
        list->setCurrentRow(currentRow);
}

void DeviceSelectDialog::showState()
{
    const int checked = m_selection.checkedType();
    if (checked >= 0 && checked < m_typeButtons.size())
        m_typeButtons.at(checked)->setChecked(true);
    if (m_searchEdit->text() != m_selection.searchEditText())
        m_searchEdit->setText(m_selection.searchEditText());
    showList(m_makerList, m_shownMakers, m_selection.makers(), m_selection.makerRow());
    showList(m_deviceList, m_shownDevices, m_selection.devices(), m_selection.deviceRow());
    showList(m_favouriteList, m_shownFavourites, m_selection.favourites(),
             m_selection.favouriteRow());
    m_nameLabel->setText(m_selection.nameText());
    m_makerLabel->setText(m_selection.makerText());
    const QString style = m_selection.deviceShown() ? Layout::shownDeviceStyleSheet() : QString();
    if (m_nameLabel->styleSheet() != style) {
        m_nameLabel->setStyleSheet(style);
        m_makerLabel->setStyleSheet(style);
    }
}

void DeviceSelectDialog::typeChanged()
{
    for (int i = 0; i < m_typeButtons.size(); ++i) {
        if (m_typeButtons.at(i)->isChecked()) {
            m_selection.typeChanged(i);
            break;
        }
    }
    showState();
}

void DeviceSelectDialog::makerChanged(int row)
{
    m_selection.makerChanged(row);
    showState();
}

void DeviceSelectDialog::deviceRowChanged(int row)
{
    m_selection.deviceRowChanged(row);
    showState();
}

void DeviceSelectDialog::searchEdited(const QString &text)
{
    m_selection.searchEdited(text);
    showState();
}

void DeviceSelectDialog::addFavourite()
{
    m_selection.addFavourite();
    showState();
}

void DeviceSelectDialog::removeFavourite()
{
    m_selection.removeFavourite();
    showState();
}

void DeviceSelectDialog::itemDoubleClicked(QListWidgetItem *item)
{
    if (!item)
        return;
    m_selection.itemDoubleClicked(item->text());
    QDialog::accept();
}

void DeviceSelectDialog::accept()
{
    m_selection.accept();
    QDialog::accept();
}

void DeviceSelectDialog::favouriteClicked()
{
    m_selection.favouriteClicked();
}

void DeviceSelectDialog::deviceClicked()
{
    m_selection.deviceClicked();
}
