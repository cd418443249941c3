#include <QApplication>
#include <QTextCodec>

#include "mainwindow.h"

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    MainWindow window;
    window.initiate();
    window.show();
    return application.exec();
}
