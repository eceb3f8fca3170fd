#include "view/ctview.h"

#include <QCloseEvent>

CtView::CtView(const QString &dataRoot, QWidget *parent)
    : QFrame(parent), dataRoot(dataRoot)
{
}

CtView::~CtView() = default;

void CtView::closeEvent(QCloseEvent *event)
{
    emit finishing();
    QFrame::closeEvent(event);
}
