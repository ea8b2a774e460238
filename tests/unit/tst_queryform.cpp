// The query-form helpers: value search, percent-decoding, integers.
#include "QueryForm.h"

#include <QtTest>

class TestQueryForm : public QObject {
    Q_OBJECT

private slots:
    void findValue_data() {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("middle") << "a=1&data=AbC+/=&sequence=7" << "&data=" << "AbC+/=";
        QTest::newRow("last") << "x=1&sequence=7" << "&sequence=" << "7";
        QTest::newRow("first without ampersand is not found") << "data=abc&sequence=1" << "&data=" << "";
        QTest::newRow("absent") << "&sequence=1" << "&data=" << "";
        QTest::newRow("empty value") << "&data=&sequence=1" << "&data=" << "";
        QTest::newRow("first occurrence wins") << "&data=one&data=two" << "&data=" << "one";
        QTest::newRow("key is matched exactly, not as a suffix") << "&mydata=x&data=y" << "&data=" << "y";
        QTest::newRow("empty query") << "" << "&user=" << "";
    }
    void findValue() {
        QFETCH(QString, query);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QCOMPARE(QueryForm::findValue(query, key), value);
    }

    void isLastPiece_data() {
        QTest::addColumn<QString>("query");
        QTest::addColumn<bool>("last");
        QTest::newRow("flag") << "&data=a&sequence=1&isLast=true" << true;
        QTest::newRow("false") << "&data=a&isLast=false" << false;
        QTest::newRow("case matters") << "&data=a&isLast=True" << false;
        QTest::newRow("first without ampersand") << "isLast=true&data=a" << false;
    }
    void isLastPiece() {
        QFETCH(QString, query);
        QFETCH(bool, last);
        QCOMPARE(QueryForm::isLastPiece(query), last);
    }

    void percentDecode_data() {
        QTest::addColumn<QString>("encoded");
        QTest::addColumn<QString>("decoded");
        QTest::newRow("at sign") << "admin%40example.com" << "admin@example.com";
        QTest::newRow("lower-case hex") << "a%2fb" << "a/b";
        QTest::newRow("utf-8") << "%C3%A9t%C3%A9" << QString::fromUtf8("\xC3\xA9t\xC3\xA9");
        QTest::newRow("plain") << "admin" << "admin";
        QTest::newRow("broken escape kept") << "50%" << "50%";
    }
    void percentDecode() {
        QFETCH(QString, encoded);
        QFETCH(QString, decoded);
        QCOMPARE(QueryForm::percentDecode(encoded), decoded);
    }

    void toInt_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("positive") << "1234" << 1234;
        QTest::newRow("negative") << "-17" << -17;
        QTest::newRow("leading zero is decimal") << "010" << 10;
        QTest::newRow("hex is not a number") << "0x10" << 0;
        QTest::newRow("junk") << "12ab" << 0;
        QTest::newRow("overflow") << "4294967296" << 0;
        QTest::newRow("empty") << "" << 0;
    }
    void toInt() {
        QFETCH(QString, text);
        QFETCH(int, value);
        QCOMPARE(QueryForm::toInt(text), value);
    }
};

QTEST_GUILESS_MAIN(TestQueryForm)
#include "tst_queryform.moc"
