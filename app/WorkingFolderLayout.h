#pragma once

#include <QRect>
#include <QSize>

// Where the working-folder panel puts its children for the panel's size, in
// the normal layout or the one for high-DPI screens. A panel too small for a
// child gives it an empty rectangle, never a negative one.
struct WorkingFolderLayout
{
    QRect folderName;
    QRect browseButton;
    QRect fileList;
    QRect information;

    static WorkingFolderLayout forSize(QSize panel, bool highDpi);
};
