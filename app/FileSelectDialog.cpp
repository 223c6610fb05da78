#include "FileSelectDialog.h"

#include <QDialogButtonBox>
#include <QListWidget>
#include <QPushButton>

FileSelectDialog::FileSelectDialog(const QString &excluded, bool highDpi, QWidget *parent)
    : QDialog(parent), m_selection(excluded)
{
    const int scale = highDpi ? 2 : 1;
    const auto place = [scale](QWidget *widget, int x, int y, int right, int bottom) {
        widget->setGeometry(x * scale, y * scale, (right - x + 1) * scale,
                            (bottom - y + 1) * scale);
    };
    setWindowTitle(QStringLiteral("Select Files"));
    resize(500 * scale, 269 * scale);
    m_list = new QListWidget(this);
    place(m_list, 10, 10, 409, 209);
    auto *add = new QPushButton(QStringLiteral("..."), this);
    place(add, 430, 50, 479, 79);
    auto *remove = new QPushButton(QStringLiteral(">>"), this);
    place(remove, 430, 100, 479, 129);
    auto *buttons =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, Qt::Horizontal, this);
    place(buttons, 50, 220, 249, 251);
    connect(add, &QPushButton::clicked, this, &FileSelectDialog::addFile);
    connect(remove, &QPushButton::clicked, this, &FileSelectDialog::removeCurrent);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void FileSelectDialog::addFile()
{
    const QString name = m_chooser ? m_chooser() : QString();
    if (m_selection.add(name))
        m_list->addItem(name);
}

void FileSelectDialog::removeCurrent()
{
    const int row = m_list->currentRow();
    if (row < 0)
        return;
    m_selection.remove(row);
    delete m_list->takeItem(row);
}
