#include "DeviceChoiceDialog.h"

#include "ProgramObjects.h"

#include <QListWidget>
#include <QPointer>
#include <QPushButton>

namespace {
constexpr int TitleText = 10;
constexpr int SelectText = 130;
constexpr int CancelText = 131;
} // namespace

DeviceChoiceDialog::DeviceChoiceDialog(const QStringList &names, QWidget *parent)
    : QDialog(parent), m_list(new QListWidget(this)),
      m_select(new QPushButton(uiText().text(SelectText), this)),
      m_cancel(new QPushButton(uiText().text(CancelText), this))
{
    setWindowTitle(uiText().text(TitleText));
    setFixedSize(200, 400);

    // Corners as left, top, right, bottom (inclusive).
    m_list->setGeometry(QRect(QPoint(20, 10), QPoint(179, 359)));
    m_select->setGeometry(QRect(QPoint(20, 370), QPoint(94, 392)));
    m_cancel->setGeometry(QRect(QPoint(110, 370), QPoint(184, 392)));

    m_list->addItems(names);
    if (m_list->count() > 0)
        m_list->setCurrentRow(0);
    m_select->setDefault(true);

    connect(m_select, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
}

int DeviceChoiceDialog::selectedRow() const
{
    const QListWidgetItem *item = m_list->currentItem();
    if (!item || !item->isSelected())
        return -1;
    return m_list->row(item);
}

DeviceChooser DeviceChoiceDialog::chooser(QWidget *parent)
{
    QPointer<QWidget> owner(parent);
    return [owner](const QStringList &names) {
        DeviceChoiceDialog dialog(names, owner.data());
        if (dialog.exec() != QDialog::Accepted)
            return -1;
        return dialog.selectedRow();
    };
}
