#include "CustomDeviceDialog.h"

#include "CDeviceItem.h"
#include "CustomDeviceLayout.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>

namespace Layout = CustomDeviceLayout;

namespace {
void label(QWidget *parent, const QString &text, const QRect &rect)
{
    auto *result = new QLabel(text, parent);
    result->setGeometry(rect);
}

QComboBox *comboBox(QWidget *parent, const QStringList &items, const QRect &rect)
{
    auto *result = new QComboBox(parent);
    result->addItems(items);
    result->setCurrentIndex(items.isEmpty() ? -1 : 0);
    result->setGeometry(rect);
    return result;
}
} // namespace

CustomDeviceDialog::CustomDeviceDialog(const DeviceCatalogue &catalogue, int mode,
                                       const QString &title, const QStringList &presetIds,
                                       QWidget *parent)
    : QDialog(parent), m_form(mode)
{
    setWindowTitle(title);
    setFixedSize(Layout::dialogSize);

    for (int number = 1; number <= m_form.idFieldCount(); ++number) {
        label(this, CustomDeviceForm::idLabel(number), Layout::idLabel(number));
        QLineEdit *edit = lineEdit(Layout::idEdit(number));
        edit->setText(presetIds.value(number - 1));
        m_idEdits << edit;
    }
    label(this, m_form.nameLabel(), Layout::nameLabel);
    m_nameEdit = lineEdit(Layout::nameEdit);
    label(this, m_form.makerLabel(), Layout::makerLabel);
    m_makerBox = comboBox(this, m_form.makers(catalogue), Layout::makerBox);
    label(this, m_form.sizeLabel(), Layout::sizeLabel);
    m_sizeEdit = lineEdit(Layout::sizeEdit);
    label(this, m_form.firstGeometryLabel(), Layout::firstGeometryLabel);
    m_firstGeometryEdit = lineEdit(Layout::firstGeometryEdit);
    label(this, m_form.secondGeometryLabel(), Layout::secondGeometryLabel);
    m_secondGeometryEdit = lineEdit(Layout::secondGeometryEdit);
    label(this, m_form.pinsLabel(), Layout::pinsLabel);
    m_pinsBox = comboBox(this, CustomDeviceForm::pinChoices(), Layout::pinsBox);

    m_buttonBox =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, Qt::Horizontal, this);
    m_buttonBox->setGeometry(Layout::buttonBox);
    connect(m_buttonBox, &QDialogButtonBox::accepted, this, &CustomDeviceDialog::fillRecord);
    connect(m_buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

CustomDeviceDialog::~CustomDeviceDialog() = default;

QLineEdit *CustomDeviceDialog::lineEdit(const QRect &rect)
{
    auto *edit = new QLineEdit(this);
    edit->setGeometry(rect);
    return edit;
}

QString CustomDeviceDialog::catalogueLine() const
{
    return m_record ? m_record->catalogueLine() : QString();
}

CustomDeviceForm::Entries CustomDeviceDialog::entries() const
{
    CustomDeviceForm::Entries result;
    for (const QLineEdit *edit : m_idEdits)
        result.ids << edit->text();
    result.name = m_nameEdit->text();
    result.maker = m_makerBox->currentText();
    result.size = m_sizeEdit->text();
    result.firstGeometry = m_firstGeometryEdit->text();
    result.secondGeometry = m_secondGeometryEdit->text();
    result.pins = m_pinsBox->currentText();
    return result;
}

void CustomDeviceDialog::fillRecord()
{
    m_record = m_form.fillRecord(entries());
    accept();
}
