#pragma once

#include <QDialog>

// The about box: the program's icon, its name and version.
class AboutDialog : public QDialog
{
    Q_OBJECT
public:
    static constexpr int Width = 353;
    static constexpr int Height = 164;

    explicit AboutDialog(QWidget *parent = nullptr);
};
