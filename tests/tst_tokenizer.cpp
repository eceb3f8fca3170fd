#include "app/tokenizer.h"

#include <QTest>

class tst_Tokenizer : public QObject
{
    Q_OBJECT

private slots:
    void splitComment_data();
    void splitComment();
    void isBlankLine_data();
    void isBlankLine();
    void takeItem_data();
    void takeItem();
    void takeItemRepeated();
};

void tst_Tokenizer::splitComment_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("content");
    QTest::addColumn<QString>("comment");

    QTest::newRow("empty line") << "" << "" << "";
    QTest::newRow("no hash: all content") << "key value" << "key value" << "";
    QTest::newRow("hash first: all comment") << "#abc" << "" << "abc";
    QTest::newRow("comment after value") << "key value # note" << "key value " << " note";
    QTest::newRow("second hash is comment text") << "a#b#c" << "a" << "b#c";
    QTest::newRow("hash inside double quotes") << "key \"a#b\" # c" << "key \"a#b\" " << " c";
    QTest::newRow("hash inside apostrophes") << "key 'a#b'" << "key 'a#b'" << "";
    QTest::newRow("unmatched apostrophe hides the hash")
            << "it's # here" << "it's # here" << "";
    QTest::newRow("apostrophe closes a double quote")
            << "\"a' # b" << "\"a' " << " b";
    QTest::newRow("quote pairs before hash") << "\"\"'' #x" << "\"\"'' " << "x";
}

void tst_Tokenizer::splitComment()
{
    QFETCH(QString, line);
    QFETCH(QString, content);
    QFETCH(QString, comment);

    const CommentSplit split = ::splitComment(line);
    QCOMPARE(split.content, content);
    QCOMPARE(split.comment, comment);
    QCOMPARE(removeComment(line), content);
}

void tst_Tokenizer::isBlankLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("blank");

    QTest::newRow("empty") << "" << true;
    QTest::newRow("spaces and tab") << "  \t " << true;
    QTest::newRow("hash and text only") << "# just a remark" << true;
    QTest::newRow("indented comment") << "   # remark" << true;
    QTest::newRow("no-break spaces only") << QString(3, QChar(0x00A0)) << true;
    QTest::newRow("ideographic space only") << QString(QChar(0x3000)) << true;
    QTest::newRow("word") << "a" << false;
    QTest::newRow("quoted hash is content") << "\"#\"" << false;
    QTest::newRow("apostrophe then hash is content") << "'#" << false;
}

void tst_Tokenizer::isBlankLine()
{
    QFETCH(QString, line);
    QFETCH(bool, blank);

    QCOMPARE(::isBlankLine(line), blank);
}

void tst_Tokenizer::takeItem_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("rest");
    QTest::addColumn<QString>("message");

    QTest::newRow("empty line") << "" << "" << "" << "";
    QTest::newRow("white space only") << " \t\r " << "" << "" << "";
    QTest::newRow("word and rest keeps its space") << "key value" << "key" << " value" << "";
    QTest::newRow("leading spaces skipped") << "   key" << "key" << "" << "";
    QTest::newRow("tab separates") << "key\tvalue" << "key" << "\tvalue" << "";
    QTest::newRow("quoted text with space and hash")
            << "\"a b # c\" rest" << "a b # c" << " rest" << "";
    QTest::newRow("two quotes: empty item") << "\"\" x" << "" << " x" << "";
    QTest::newRow("letters right after the closing quote")
            << "\"ab\"cd ef" << "ab" << "cd ef" << "";
    QTest::newRow("only quotes") << "\"\"\"\"" << "" << "\"\"" << "";
    QTest::newRow("no-break space stays inside the item")
            << QString("a") + QChar(0x00A0) + "b c" << QString("a") + QChar(0x00A0) + "b"
            << " c" << "";
    QTest::newRow("unclosed quote takes the rest")
            << "\"abc def" << "abc def" << ""
            << "\"In a line [\\\"abc def] item is started from quote but not ended by quote\"";
    QTest::newRow("lone quote at the end")
            << " \"" << "" << ""
            << "\"In a line [ \\\"] item is started from quote but not ended by quote\"";
    QTest::newRow("word ending in quote, middle")
            << "ab\" cd" << "ab\"" << " cd"
            << "\"In a line [ab\\\" cd] item is started from not quote but ended by quote\"";
    QTest::newRow("word ending in quote, end of line")
            << "C:\\dir\"" << "C:\\dir\"" << ""
            << "\"In a line [C:\\\\dir\\\"] item is started from not quote but ended by quote\"";
    QTest::newRow("percent signs pass into the message")
            << "%1%2\"" << "%1%2\"" << ""
            << "\"In a line [%1%2\\\"] item is started from not quote but ended by quote\"";

    const QString longWord(1 << 20, u'x');
    QTest::newRow("one-mebichar word") << longWord + " v" << longWord << " v" << "";
    const QString quotes(200001, u'"');
    QTest::newRow("long run of quotes") << quotes << "" << quotes.mid(2) << "";
}

void tst_Tokenizer::takeItem()
{
    QFETCH(QString, line);
    QFETCH(QString, item);
    QFETCH(QString, rest);
    QFETCH(QString, message);

    if (!message.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, qPrintable(message));
    const TakenItem taken = ::takeItem(line);
    QCOMPARE(taken.item, item);
    QCOMPARE(taken.rest, rest);
}

void tst_Tokenizer::takeItemRepeated()
{
    // The value's message shows the rest after the key, not the whole line.
    const TakenItem key = ::takeItem("key  val\" more");
    QCOMPARE(key.item, QString("key"));
    QTest::ignoreMessage(QtDebugMsg,
            "\"In a line [  val\\\" more] item is started from not quote but ended by quote\"");
    const TakenItem value = ::takeItem(key.rest);
    QCOMPARE(value.item, QString("val\""));
    const TakenItem last = ::takeItem(value.rest);
    QCOMPARE(last.item, QString("more"));
    QVERIFY(last.rest.isEmpty());
}

QTEST_GUILESS_MAIN(tst_Tokenizer)
#include "tst_tokenizer.moc"
