#pragma once

#include <QStringList>

#include <functional>

// Asks the user to pick one of several devices that answer to the same ID.
// Gets the device names in catalogue order and returns the chosen row, or -1
// when the user cancels. The GUI installs one that shows the device choice
// dialog; tests install their own.
using DeviceChooser = std::function<int(const QStringList &names)>;
