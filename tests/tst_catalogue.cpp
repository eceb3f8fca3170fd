#include <QCoreApplication>
#include <QFile>
#include <QResource>
#include <QTest>
#include <QTranslator>

// Built twice: against the full core with the full catalogue embedded and
// against the lite core with the lite catalogue.
class tst_Catalogue : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void embedded();
    void embeddedInProgram();
    void translations_data();
    void translations();
    void installed_data();
    void installed();

private:
    QTranslator translator;
};

#ifdef CTSLAB_LITE
static const bool fullCatalogue = false;
#else
static const bool fullCatalogue = true;
#endif

static const char helpText[] =
        "<html><head/><body><p>The size of screen. Firstly, they should be so small as 256 to "
        "work quickly. When the settings, like obserbing direction, position of closs-section, "
        "and color range, are decided, it should be set larger as 1024 or so to get high "
        "resolution results.</p></body></html>";

void tst_Catalogue::initTestCase()
{
    // The same call the program makes.
    QVERIFY(translator.load(":Mek_ja_JP", QCoreApplication::applicationDirPath()));
}

void tst_Catalogue::embedded()
{
    const QResource resource(":/Mek_ja_JP.qm");
    QVERIFY(resource.isValid());
    QCOMPARE(resource.compressionAlgorithm(), QResource::NoCompression);
    QVERIFY(!translator.isEmpty());
    QCOMPARE(translator.language(), QString("ja_JP"));
}

void tst_Catalogue::embeddedInProgram()
{
    // Stored uncompressed, the compiled catalogue appears byte for byte in
    // the program of the same variant.
    QFile catalogue(CTSLAB_QM_FILE);
    QFile program(CTSLAB_PROGRAM);
    QVERIFY(catalogue.open(QIODevice::ReadOnly));
    QVERIFY(program.open(QIODevice::ReadOnly));
    const QByteArray catalogueBytes = catalogue.readAll();
    QVERIFY(catalogueBytes.size() > 100);
    QVERIFY(program.readAll().contains(catalogueBytes));

    const QResource resource(":/Mek_ja_JP.qm");
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(resource.data()), resource.size()),
             catalogueBytes);
}

void tst_Catalogue::translations_data()
{
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("translation"); // empty: no entry

    const struct
    {
        const char *context;
        const char *source;
        const char *translation;
        bool inLite;
    } entries[] = {
        {"CtView", "256", "256", true},
        {"CtView", helpText,
         "生成する画像のピクセルサイズ。最初は 256 程度の小さな値にしておき、諸条件(観察方向、"
         "断面位置、描画値の閾値等)が決まった時点で、高解像度の画像にするため 1024 "
         "程度の値にするのが良い。",
         true},
        {"CtView", "Add Slice Set", "スライスセット追加", true},
        {"CtView", "Img Size in Pix", "生成画像サイズ", true},
        {"CtView", "Pictures (%1)", "画像 (%1)", true},
        {"CtView", "Save Picture", "画像を保存", true},
        {"CtView", "Link C. Section", "断面連動", false},
        {"CtView", "ctView", "ctView", true},
        {"LoadSlices", "Load Slices", "Load Slices", true},
        {"LoadSlices", "Select", "選択", true},
        {"SlicesCtrl", " :", " :", true},
        {"SlicesCtrl", "%1 beyond the memory budget", "メモリ上限超過 %1", true},
        {"SlicesCtrl", "%1 flat", "平坦 %1", true},
        {"SlicesCtrl", "%1 of %2 files loaded", "%2 ファイル中 %1 ファイルを読み込み", true},
        {"SlicesCtrl", "%1 of another size", "サイズ違い %1", true},
        {"SlicesCtrl", "%1 damaged or unreadable", "破損または読めない %1", true},
        {"SlicesCtrl", "%]", "%]", true},
        {"SlicesCtrl", "0.0", "0.0", true},
        {"SlicesCtrl", "100.0", "100.0", true},
        {"SlicesCtrl", "Any Files (* *.*)", "Any Files (* *.*)", true},
        {"SlicesCtrl", "Color Scale: ", "色スケール", true},
        {"SlicesCtrl", "Cross Section", "断面位置", true},
        {"SlicesCtrl", "Data Files (*.dat *.png)", "Data Files (*.dat *.png)", true},
        {"SlicesCtrl", "Fix Dir.", "断面方向固定", true},
        {"SlicesCtrl", "Load Slices", "Load Slices", true},
        {"SlicesCtrl", "S Color", "断面色", true},
        {"SlicesCtrl",
         "Scanner Files (*.dcm *.dicom *.ima *.tif *.tiff *.webp *.nii *.nii.gz *.hdr *.nrrd "
         "*.nhdr *.mha *.mhd)",
         "スキャナファイル (*.dcm *.dicom *.ima *.tif *.tiff *.webp *.nii *.nii.gz *.hdr *.nrrd "
         "*.nhdr *.mha *.mhd)",
         true},
        {"SlicesCtrl", "Select", "選択", true},
        {"SlicesCtrl", "Select Data Files", "データファイル選択", false},
        {"SlicesCtrl", "Select Section Color", "断面色選択", false},
        {"SlicesCtrl", "Select Volume Color", "体積色選択", false},
        {"SlicesCtrl", "Show", "設定表示", true},
        {"SlicesCtrl", "Show C. Section", "断面表示", true},
        {"SlicesCtrl", "Show Frame", "枠表示", true},
        {"SlicesCtrl", "Show Setup %1", "設定%1表示", true},
        {"SlicesCtrl", "Show Volume", "体積表示", true},
        {"SlicesCtrl", "V Color", "体積色", true},
        {"SlicesCtrl", "[", "[", true},
        {"SlicesCtrl", "max", "最大値", true},
        {"SlicesCtrl", "min", "最小値", true},
        // Texts whose blanks differ, or which sit in another context, have none.
        {"SlicesCtrl", "Color Scale:", "", false},
        {"SlicesCtrl", ":", "", false},
        {"CtView", "Select", "", false},
        {"SlicesCtrl", "Add Slice Set", "", false},
        {"LoadSlices", "Show", "", false},
    };
    for (const auto &entry : entries) {
        const bool present = fullCatalogue ? entry.translation[0] != '\0' : entry.inLite;
        const QByteArray tag = QByteArray(entry.context) + " / "
                + QByteArray(entry.source).left(30) + (present ? "" : " (absent)");
        QTest::newRow(tag.constData())
                << entry.context << QString::fromUtf8(entry.source)
                << (present ? QString::fromUtf8(entry.translation) : QString());
    }
}

void tst_Catalogue::translations()
{
    QFETCH(QString, context);
    QFETCH(QString, source);
    QFETCH(QString, translation);

    const QByteArray contextBytes = context.toUtf8();
    const QByteArray sourceBytes = source.toUtf8();
    QCOMPARE(translator.translate(contextBytes.constData(), sourceBytes.constData()),
             translation);
}

void tst_Catalogue::installed_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("shown");

    QTest::newRow("translated text") << "Add Slice Set" << "スライスセット追加";
    QTest::newRow("identical translation") << "256" << "256";
    QTest::newRow("absent in lite falls back to the source")
            << "Link C. Section" << (fullCatalogue ? "断面連動" : "Link C. Section");
    QTest::newRow("unknown text shown unchanged") << "Quit" << "Quit";
}

void tst_Catalogue::installed()
{
    QFETCH(QString, source);
    QFETCH(QString, shown);

    QVERIFY(QCoreApplication::installTranslator(&translator));
    const QByteArray sourceBytes = source.toUtf8();
    const QString text = QCoreApplication::translate("CtView", sourceBytes.constData());
    QCoreApplication::removeTranslator(&translator);
    QCOMPARE(text, shown);
}

QTEST_GUILESS_MAIN(tst_Catalogue)
#include "tst_catalogue.moc"
