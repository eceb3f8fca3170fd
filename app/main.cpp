#include <QApplication>

#include "view/ctview.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    CtView view;
    view.show();
    return app.exec();
}
