#include "StatusBarWidgets.h"

#include "WindowTexts.h"

#include <QLabel>
#include <QProgressBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QStatusBar>

namespace {

const QString LabelStyle =
    QStringLiteral("QLabel {border: 1px solid grey; border-radius: 0px;height: 12px;}");
const QString ProgressStyle =
    QStringLiteral("QProgressBar {border: 1px solid grey; border-radius: 0px;height: 12px;}"
                   "QProgressBar::chunk {background-color: #05B8CC;width: 8px}");
constexpr int SliderWidth = 100;

} // namespace

StatusBarWidgets::StatusBarWidgets(QStatusBar &bar) : QObject(&bar)
{
    usbStatus = new QLabel(WindowTexts::usbStatus().first(), &bar);
    usbStatus->setStyleSheet(LabelStyle);
    speedLabel = new QLabel(&bar);
    speedLabel->setStyleSheet(LabelStyle);
    speed = new QSlider(Qt::Horizontal, &bar);
    speed->setRange(SpeedMinimum, SpeedMaximum);
    speed->setValue(SpeedMaximum);
    speed->setPageStep(1);
    speed->setMaximumWidth(SliderWidth);
    progress = new QProgressBar(&bar);
    progress->setStyleSheet(ProgressStyle);
    progress->setRange(0, 1);
    progress->setValue(0);
    progress->setTextVisible(false);
    bar.addPermanentWidget(usbStatus);
    bar.addPermanentWidget(speedLabel);
    bar.addPermanentWidget(speed);
    bar.addPermanentWidget(progress, 1);
    updateSpeedLabel();
    connect(speed, &QSlider::valueChanged, this, &StatusBarWidgets::updateSpeedLabel);
}

void StatusBarWidgets::showUsbState(int state)
{
    usbStatus->setText(WindowTexts::usbStatus().value(state));
}

void StatusBarWidgets::setSpeedQuietly(int value)
{
    const QSignalBlocker block(speed);
    speed->setValue(value);
    updateSpeedLabel();
}

void StatusBarWidgets::updateSpeedLabel()
{
    speedLabel->setText(WindowTexts::speedLabel(speed->value()));
}
