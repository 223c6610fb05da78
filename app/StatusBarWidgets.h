#pragma once

#include <QObject>

class QLabel;
class QProgressBar;
class QSlider;
class QStatusBar;

// The main window's status bar, left to right: the USB status label, the
// speed label and slider (1 to 10), the progress bar, with their style
// sheets.
class StatusBarWidgets : public QObject
{
    Q_OBJECT
public:
    static constexpr int SpeedMinimum = 1;
    static constexpr int SpeedMaximum = 10;

    explicit StatusBarWidgets(QStatusBar &bar);

    // One of WindowTexts::UsbState.
    void showUsbState(int state);
    // Moves the slider without announcing it; the label follows.
    void setSpeedQuietly(int value);
    // The label of the slider's value (after a change of language too).
    void updateSpeedLabel();

    QLabel *usbStatus = nullptr;
    QLabel *speedLabel = nullptr;
    QSlider *speed = nullptr;
    QProgressBar *progress = nullptr;
};
