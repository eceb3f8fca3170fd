#ifndef VIEW_CTVIEW_H
#define VIEW_CTVIEW_H

#include <QFrame>
#include <QList>
#include <QString>

class SlicesCtrl;

class CtView : public QFrame
{
    Q_OBJECT

public:
    explicit CtView(const QString &dataRoot = QString(), QWidget *parent = nullptr);
    ~CtView() override;

    QString dataRoot;
    QList<SlicesCtrl *> sCtrls;

signals:
    void finishing();

protected:
    void closeEvent(QCloseEvent *event) override;
};

#endif // VIEW_CTVIEW_H
