#include "MainWindow.h"
#include "ProgramObjects.h"

#include <QApplication>

// Built before the entry runs and destroyed after it returns: the settings
// store (whose opening makes the settings folder current), the UI text table
// and the rest of the program-wide state.
static ProgramObjects programObjects;

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    int result;
    {
        MainWindow window;
        window.show();
        result = application.exec();
    }
    return result;
}
