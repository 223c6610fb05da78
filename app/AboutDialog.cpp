#include "AboutDialog.h"

#include "ProgramObjects.h"
#include "UiTextId.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>

AboutDialog::AboutDialog(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(uiText().text(UiTextId::AboutTitle));
    setFixedSize(Width, Height);
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    auto *icon = new QLabel(this);
    icon->setPixmap(QPixmap(QStringLiteral(":/images/usbicon.png")));
    auto *name = new QLabel(
        ProgramObjects::productName() + QLatin1Char(' ') + ProgramObjects::version(), this);
    name->setObjectName(QStringLiteral("productLabel"));
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(icon);
    layout->addWidget(name, 1);
}
