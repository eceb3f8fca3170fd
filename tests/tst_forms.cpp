#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTranslator>

#include "ui_ctview.h"
#include "ui_slicesctrl.h"

// Both forms, set up on plain frames. Built against each core library: the
// lite one must pick up the lite forms.
class tst_Forms : public QObject
{
    Q_OBJECT

private slots:
    void widgetsAndCells_data();
    void widgetsAndCells();
    void creationOrder_data();
    void creationOrder();
    void objectNameKept();
    void ctViewInitialState();
    void slicesCtrlInitialState();
    void japanese_data();
    void japanese();

private:
    static QString helpText();
};

namespace {

struct Forms
{
    Forms()
    {
        ctViewUi.setupUi(&ctView);
        slicesCtrlUi.setupUi(&slicesCtrl);
    }
    QObject *find(const QString &form, const QString &name)
    {
        QFrame &top = form == "CtView" ? ctView : slicesCtrl;
        return name == form ? &top : top.findChild<QObject *>(name);
    }
    QFrame ctView;
    QFrame slicesCtrl;
    Ui_CtView ctViewUi;
    Ui_SlicesCtrl slicesCtrlUi;
};

QList<int> gridCell(QWidget *w)
{
    auto *grid = qobject_cast<QGridLayout *>(w->parentWidget()->layout());
    if (!grid || grid->indexOf(w) < 0)
        return {};
    int row, column, rowSpan, columnSpan;
    grid->getItemPosition(grid->indexOf(w), &row, &column, &rowSpan, &columnSpan);
    return {row, column, rowSpan, columnSpan};
}

} // namespace

QString tst_Forms::helpText()
{
    return "<html><head/><body><p>The size of screen. Firstly, they should be so small as 256 "
           "to work quickly. When the settings, like obserbing direction, position of "
           "closs-section, and color range, are decided, it should be set larger as 1024 or "
           "so to get high resolution results.</p></body></html>";
}

void tst_Forms::widgetsAndCells_data()
{
    QTest::addColumn<QString>("form");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QList<int>>("cell"); // row, column, row span, column span

    auto row = [](const char *form, const char *name, const char *className, QList<int> cell) {
        QTest::addRow("%s %s", form, name) << QString(form) << QString(name)
                                           << QString(className) << cell;
    };
    row("CtView", "dispA_", "DispA", {0, 0, 1, 1});
    row("CtView", "imageCtrl_", "QFrame", {1, 0, 1, 1});
    row("CtView", "slicesCtrls_", "QFrame", {2, 0, 1, 1});
    row("CtView", "label", "QLabel", {0, 0, 1, 1});
    row("CtView", "imgPixWidth_", "QLineEdit", {0, 1, 1, 1});
    row("CtView", "imgPixHeight_", "QLineEdit", {0, 2, 1, 1});
    row("CtView", "addSliceSet_", "QPushButton", {0, 4, 1, 1});
#ifndef CTSLAB_LITE
    row("CtView", "linkCSection_", "QCheckBox", {0, 5, 1, 1});
#endif

    row("SlicesCtrl", "showB_", "QCheckBox", {0, 0, 1, 1});
    row("SlicesCtrl", "slicesCtrlFrame_", "QFrame", {0, 1, 1, 1});
    row("SlicesCtrl", "frame_2", "QFrame", {0, 0, 1, 1});
    row("SlicesCtrl", "frame", "QFrame", {1, 0, 1, 1});
    row("SlicesCtrl", "frame_5", "QFrame", {2, 0, 1, 1});
    row("SlicesCtrl", "frame_3", "QFrame", {0, 0, 1, 1});
    row("SlicesCtrl", "frame_4", "QFrame", {1, 0, 1, 1});
    row("SlicesCtrl", "dispH_", "ExLabel", {0, 1, 2, 1});
    row("SlicesCtrl", "label_7", "QLabel", {0, 0, 1, 1});
    row("SlicesCtrl", "label_2", "QLabel", {0, 1, 1, 1});
    row("SlicesCtrl", "minV_", "QLineEdit", {0, 2, 1, 1});
    row("SlicesCtrl", "label_4", "QLabel", {0, 3, 1, 1});
    row("SlicesCtrl", "minThPC_", "QLineEdit", {0, 4, 1, 1});
    row("SlicesCtrl", "label_5", "QLabel", {0, 5, 1, 1});
    row("SlicesCtrl", "maxThPC_", "QLineEdit", {0, 6, 1, 1});
    row("SlicesCtrl", "label_6", "QLabel", {0, 7, 1, 1});
    row("SlicesCtrl", "maxV_", "QLineEdit", {0, 8, 1, 1});
    row("SlicesCtrl", "label_3", "QLabel", {0, 9, 1, 1});
    row("SlicesCtrl", "showB2_", "QCheckBox", {0, 0, 1, 1});
    row("SlicesCtrl", "showVolume_", "QCheckBox", {0, 1, 1, 1});
    row("SlicesCtrl", "showCSection_", "QCheckBox", {0, 2, 1, 1});
    row("SlicesCtrl", "showFrame_", "QCheckBox", {0, 3, 1, 1});
    row("SlicesCtrl", "label", "QLabel", {0, 0, 1, 1});
    row("SlicesCtrl", "cSlider_", "QSlider", {0, 1, 1, 1});
    row("SlicesCtrl", "csFixDir_", "QCheckBox", {0, 2, 1, 1});
    row("SlicesCtrl", "selectB_", "QPushButton", {0, 0, 1, 1});
    row("SlicesCtrl", "nameList_", "QComboBox", {0, 1, 1, 1});
    row("SlicesCtrl", "selVColor_", "QPushButton", {0, 2, 1, 1});
#ifndef CTSLAB_LITE
    row("SlicesCtrl", "dispVColor_", "QLabel", {0, 3, 1, 1});
    row("SlicesCtrl", "selSColor_", "QPushButton", {0, 4, 1, 1});
    row("SlicesCtrl", "dispSColor_", "QLabel", {0, 5, 1, 1});
#else
    row("SlicesCtrl", "selSColor_", "QPushButton", {0, 3, 1, 1});
#endif
}

void tst_Forms::widgetsAndCells()
{
    QFETCH(QString, form);
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QList<int>, cell);

    Forms forms;
    auto *w = qobject_cast<QWidget *>(forms.find(form, name));
    QVERIFY(w);
    QCOMPARE(QString(w->metaObject()->className()), className);
    QCOMPARE(gridCell(w), cell);
}

void tst_Forms::creationOrder_data()
{
    QTest::addColumn<QString>("form");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QStringList>("children");

    QTest::newRow("CtView form") << "CtView" << "CtView"
        << QStringList{"gridLayout", "imageCtrl_", "dispA_", "slicesCtrls_"};
    QTest::newRow("CtView imageCtrl_") << "CtView" << "imageCtrl_"
        << QStringList{"gridLayout_7", "label", "addSliceSet_", "imgPixHeight_", "imgPixWidth_",
#ifndef CTSLAB_LITE
                       "linkCSection_"
#endif
           };
    QTest::newRow("CtView slicesCtrls_") << "CtView" << "slicesCtrls_"
                                         << QStringList{"gridLayout_3"};
    QTest::newRow("CtView gridLayout_3") << "CtView" << "gridLayout_3"
                                         << QStringList{"slicesCtrlsLayout_"};
    QTest::newRow("SlicesCtrl form") << "SlicesCtrl" << "SlicesCtrl"
        << QStringList{"gridLayout", "slicesCtrlFrame_", "showB_"};
    QTest::newRow("SlicesCtrl slicesCtrlFrame_") << "SlicesCtrl" << "slicesCtrlFrame_"
        << QStringList{"gridLayout_2", "frame_2", "frame", "frame_5"};
    QTest::newRow("SlicesCtrl frame_2") << "SlicesCtrl" << "frame_2"
        << QStringList{"gridLayout_3", "frame_4", "frame_3", "dispH_"};
    QTest::newRow("SlicesCtrl frame_4") << "SlicesCtrl" << "frame_4"
        << QStringList{"gridLayout_5", "label_2", "label_6", "label_4", "minV_", "minThPC_",
                       "label_7", "maxThPC_", "maxV_", "label_5", "label_3"};
    QTest::newRow("SlicesCtrl frame_3") << "SlicesCtrl" << "frame_3"
        << QStringList{"gridLayout_4", "showFrame_", "showVolume_", "showB2_", "showCSection_"};
    QTest::newRow("SlicesCtrl frame") << "SlicesCtrl" << "frame"
        << QStringList{"gridLayout_6", "cSlider_", "csFixDir_", "label"};
    QTest::newRow("SlicesCtrl frame_5") << "SlicesCtrl" << "frame_5"
#ifndef CTSLAB_LITE
        << QStringList{"gridLayout_7", "dispVColor_", "selVColor_", "nameList_", "selSColor_",
                       "selectB_", "dispSColor_"};
#else
        << QStringList{"gridLayout_7", "selVColor_", "nameList_", "selSColor_", "selectB_"};
#endif
}

// The form classes create their widgets in the order they declare them;
// the children of each container show that order.
void tst_Forms::creationOrder()
{
    QFETCH(QString, form);
    QFETCH(QString, container);
    QFETCH(QStringList, children);

    Forms forms;
    QObject *parent = forms.find(form, container);
    QVERIFY(parent);
    QStringList names;
    for (QObject *child : parent->children()) {
        if (!child->objectName().isEmpty())
            names << child->objectName();
    }
    QCOMPARE(names, children);
}

void tst_Forms::objectNameKept()
{
    QFrame named;
    named.setObjectName("mainWindow");
    Ui_CtView ctViewUi;
    ctViewUi.setupUi(&named);
    QCOMPARE(named.objectName(), QString("mainWindow"));

    QFrame panel;
    panel.setObjectName("panel");
    Ui_SlicesCtrl slicesCtrlUi;
    slicesCtrlUi.setupUi(&panel);
    QCOMPARE(panel.objectName(), QString("panel"));
}

void tst_Forms::ctViewInitialState()
{
    Forms forms;
    Ui_CtView &ui = forms.ctViewUi;
    QCOMPARE(forms.ctView.objectName(), QString("CtView"));
    QCOMPARE(forms.ctView.size(), QSize(856, 934));
    QCOMPARE(forms.ctView.windowTitle(), QString("ctView"));
    QCOMPARE(forms.ctView.findChild<DispA *>("dispA_"), ui.dispA_);

    QCOMPARE(ui.label->text(), QString("Img Size in Pix"));
    QCOMPARE(ui.addSliceSet_->text(), QString("Add Slice Set"));
    QCOMPARE(ui.imgPixWidth_->text(), QString("256"));
    QCOMPARE(ui.imgPixHeight_->text(), QString("256"));
    for (QWidget *w : {static_cast<QWidget *>(ui.label), static_cast<QWidget *>(ui.imgPixWidth_),
                       static_cast<QWidget *>(ui.imgPixHeight_)})
        QCOMPARE(w->whatsThis(), helpText());
#ifndef CTSLAB_LITE
    QCOMPARE(ui.linkCSection_->text(), QString("Link C. Section"));
    QVERIFY(ui.linkCSection_->isChecked());
#else
    QVERIFY(!forms.ctView.findChild<QCheckBox *>("linkCSection_"));
#endif

    // The form's frame settings override those of the display's own
    // constructor.
    QCOMPARE(ui.dispA_->frameShape(), QFrame::NoFrame);
    QCOMPARE(ui.dispA_->sizePolicy().verticalPolicy(), QSizePolicy::Expanding);

    // The panel area starts empty, its inner grid flush with the frame.
    QCOMPARE(ui.slicesCtrlsLayout_->count(), 0);
    QCOMPARE(ui.slicesCtrlsLayout_->parent(), ui.gridLayout_3);
    QCOMPARE(ui.gridLayout_3->contentsMargins(), QMargins(0, 0, 0, 0));
}

void tst_Forms::slicesCtrlInitialState()
{
    Forms forms;
    Ui_SlicesCtrl &ui = forms.slicesCtrlUi;
    QCOMPARE(forms.slicesCtrl.objectName(), QString("SlicesCtrl"));
    QCOMPARE(forms.slicesCtrl.size(), QSize(856, 142));
    QCOMPARE(forms.slicesCtrl.windowTitle(), QString("Load Slices"));
    QCOMPARE(forms.slicesCtrl.frameShape(), QFrame::StyledPanel);
    QCOMPARE(forms.slicesCtrl.findChild<ExLabel *>("dispH_"), ui.dispH_);

    QVERIFY(ui.showFrame_->isChecked());
    QVERIFY(ui.showVolume_->isChecked());
    QVERIFY(ui.showB2_->isChecked());
    QVERIFY(ui.showB_->isChecked());
    QVERIFY(!ui.showCSection_->isChecked());
    QVERIFY(!ui.csFixDir_->isChecked());
    QCOMPARE(ui.cSlider_->minimum(), -100);
    QCOMPARE(ui.cSlider_->maximum(), 100);
    QCOMPARE(ui.cSlider_->value(), 0);
    QCOMPARE(ui.cSlider_->orientation(), Qt::Horizontal);
    QCOMPARE(ui.nameList_->count(), 0);

    QCOMPARE(ui.minV_->text(), QString("0.0"));
    QCOMPARE(ui.minThPC_->text(), QString("0.0"));
    QCOMPARE(ui.maxThPC_->text(), QString("100.0"));
    QCOMPARE(ui.maxV_->text(), QString("0.0"));
    QCOMPARE(ui.label_7->text(), QString("Color Scale: "));
    QCOMPARE(ui.label_5->text(), QString(" :"));
    QCOMPARE(ui.dispH_->text(), QString());
    QCOMPARE(ui.showB_->text(), QString("Show"));
    QCOMPARE(ui.showB2_->text(), QString("Show"));

    QCOMPARE(ui.gridLayout->contentsMargins(), QMargins(5, 0, 0, 0));
    QCOMPARE(ui.gridLayout_2->contentsMargins(), QMargins(8, 8, 8, 8));
#ifdef CTSLAB_LITE
    QVERIFY(!forms.slicesCtrl.findChild<QLabel *>("dispVColor_"));
    QVERIFY(!forms.slicesCtrl.findChild<QLabel *>("dispSColor_"));
#else
    QCOMPARE(ui.dispVColor_->text(), QString());
#endif
}

void tst_Forms::japanese_data()
{
    QTest::addColumn<QString>("form");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QString>("text");

    auto row = [](const char *form, const char *name, const char *property, const char *text) {
        QTest::addRow("%s %s %s", form, name, property)
            << QString(form) << QString(name) << QByteArray(property) << QString(text);
    };
    row("CtView", "CtView", "windowTitle", "ctView");
    row("CtView", "label", "text", "生成画像サイズ");
    row("CtView", "label", "whatsThis",
        "生成する画像のピクセルサイズ。最初は 256 程度の小さな値にしておき、諸条件(観察方向、"
        "断面位置、描画値の閾値等)が決まった時点で、高解像度の画像にするため 1024 程度の値に"
        "するのが良い。");
    row("CtView", "addSliceSet_", "text", "スライスセット追加");
#ifndef CTSLAB_LITE
    row("CtView", "linkCSection_", "text", "断面連動");
#endif
    row("SlicesCtrl", "SlicesCtrl", "windowTitle", "Load Slices");
    row("SlicesCtrl", "label_7", "text", "色スケール");
    row("SlicesCtrl", "label_2", "text", "最小値");
    row("SlicesCtrl", "label_5", "text", " :");
    row("SlicesCtrl", "maxThPC_", "text", "100.0");
    row("SlicesCtrl", "showFrame_", "text", "枠表示");
    row("SlicesCtrl", "showVolume_", "text", "体積表示");
    row("SlicesCtrl", "showB2_", "text", "設定表示");
    row("SlicesCtrl", "label", "text", "断面位置");
    row("SlicesCtrl", "csFixDir_", "text", "断面方向固定");
    row("SlicesCtrl", "selectB_", "text", "選択");
    row("SlicesCtrl", "selVColor_", "text", "体積色");
    row("SlicesCtrl", "selSColor_", "text", "断面色");
}

// The forms translate while they are set up, so the catalogue must be
// installed first.
void tst_Forms::japanese()
{
    QFETCH(QString, form);
    QFETCH(QString, name);
    QFETCH(QByteArray, property);
    QFETCH(QString, text);

    QTranslator translator;
    if (!translator.load(":/Mek_ja_JP.qm"))
        QSKIP("the Japanese catalogue is not embedded in this build");
    QVERIFY(QCoreApplication::installTranslator(&translator));
    Forms forms;
    QCoreApplication::removeTranslator(&translator);

    QObject *object = forms.find(form, name);
    QVERIFY(object);
    QCOMPARE(object->property(property.constData()).toString(), text);
}

QTEST_MAIN(tst_Forms)
#include "tst_forms.moc"
