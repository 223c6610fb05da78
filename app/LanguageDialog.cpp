#include "LanguageDialog.h"

#include "LanguageFiles.h"
#include "ProgramObjects.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

LanguageDialog::LanguageDialog(QWidget *parent) : QDialog(parent), m_list(new QListWidget(this))
{
    setFixedSize(291, 340);
    setWindowTitle(uiText().text(110));

    auto *group = new QGroupBox(this);
    auto *groupLayout = new QVBoxLayout(group);
    auto *label = new QLabel(uiText().text(111), group);
    label->setAlignment(Qt::AlignCenter);
    groupLayout->addWidget(label);

    m_list->setFixedSize(250, 235);
    m_list->setSortingEnabled(true);
    m_list->addItem(defaultEntry());
    for (const LanguageFiles::Entry &entry : LanguageFiles::available())
        m_list->addItem(entry.displayName);
    m_list->sortItems();
    groupLayout->addWidget(m_list, 0, Qt::AlignHCenter);

    auto *buttons =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, Qt::Horizontal, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_list, &QListWidget::itemDoubleClicked, this, &QDialog::accept);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(buttons);
}

QString LanguageDialog::selectedPath() const
{
    const QListWidgetItem *item = m_list->currentItem();
    if (!item || !item->isSelected())
        return QString();
    return LanguageFiles::pathFor(item->text());
}
