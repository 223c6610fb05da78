#pragma once

#include <QFont>

// The fixed-pitch font of the message log and the console: "Lucida Console"
// at 11 pixels; where that family is missing "LucidaTypewriter" at 10 pixels,
// else "B&H LucidaTypewriter"; twice the pixel size on a high-DPI desktop.
QFont consoleFont(bool highDpi);
