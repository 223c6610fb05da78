#pragma once

#include "CustomDeviceForm.h"

#include <QDialog>
#include <QList>
#include <QStringList>

#include <memory>

class CDeviceItem;
class DeviceCatalogue;
class QComboBox;
class QDialogButtonBox;
class QLineEdit;

// Lets the user describe a chip the catalogue does not hold, as one NAND or
// SPI record. OK fills the record from the fields (fillRecord) and accepts;
// the caller then takes catalogueLine(). CustomDeviceForm decides the texts
// and the record.
class CustomDeviceDialog : public QDialog
{
    Q_OBJECT
public:
    // `mode` 0 NAND, 1 SPI; `presetIds` fill the ID fields from the first on.
    CustomDeviceDialog(const DeviceCatalogue &catalogue, int mode, const QString &title,
                       const QStringList &presetIds = {}, QWidget *parent = nullptr);
    ~CustomDeviceDialog() override;

    const CustomDeviceForm &form() const { return m_form; }
    // The record of the last OK, or null.
    const CDeviceItem *record() const { return m_record.get(); }
    // Its catalogue line; empty before OK.
    QString catalogueLine() const;
    // What the fields hold now.
    CustomDeviceForm::Entries entries() const;

    const QList<QLineEdit *> &idEdits() const { return m_idEdits; }
    QLineEdit *nameEdit() const { return m_nameEdit; }
    QComboBox *makerBox() const { return m_makerBox; }
    QLineEdit *sizeEdit() const { return m_sizeEdit; }
    QLineEdit *firstGeometryEdit() const { return m_firstGeometryEdit; }
    QLineEdit *secondGeometryEdit() const { return m_secondGeometryEdit; }
    QComboBox *pinsBox() const { return m_pinsBox; }
    QDialogButtonBox *buttonBox() const { return m_buttonBox; }

public slots:
    // Builds the record from the fields and closes the dialog as accepted.
    void fillRecord();

private:
    QLineEdit *lineEdit(const QRect &rect);

    CustomDeviceForm m_form;
    std::unique_ptr<CDeviceItem> m_record;
    QList<QLineEdit *> m_idEdits;
    QLineEdit *m_nameEdit = nullptr;
    QComboBox *m_makerBox = nullptr;
    QLineEdit *m_sizeEdit = nullptr;
    QLineEdit *m_firstGeometryEdit = nullptr;
    QLineEdit *m_secondGeometryEdit = nullptr;
    QComboBox *m_pinsBox = nullptr;
    QDialogButtonBox *m_buttonBox = nullptr;
};
