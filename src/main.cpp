#include "app/KestrovaApp.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    KestrovaApp app;
    return app.exec();
}
