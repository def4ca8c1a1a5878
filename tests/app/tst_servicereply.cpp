// Reading the service's replies: the body conventions and the value
// conversions every handler relies on.
#include "account/servicereply.h"
#include "account/servicerequest.h"

#include <QTest>

#include <cmath>

class TestServiceReply : public QObject
{
    Q_OBJECT

private slots:
    void bodyIsCutAtFirstNul();
    void falseIsOnlyTheExactText_data();
    void falseIsOnlyTheExactText();
    void bodyIsLatin1();
    void nonObjectsReadAsEmpty_data();
    void nonObjectsReadAsEmpty();
    void neverEvaluatesScript();

    void textOfValues_data();
    void textOfValues();
    void numberTextMatchesScriptLanguage_data();
    void numberTextMatchesScriptLanguage();
    void booleanOfValues_data();
    void booleanOfValues();
    void int32OfValues_data();
    void int32OfValues();

    void listsAreWalkedInOrder();
    void objectUsedAsListPutsIndicesFirst();
    void missingPathsStayMissing();

    void formFieldsEncodeEveryReservedCharacter();
    void formBodyAndQueryShapes();
    void urlUsesDeploymentBase();
};

void TestServiceReply::bodyIsCutAtFirstNul()
{
    const ServiceReply reply = ServiceReply::fromBody(QByteArray("{\"Key\":\"abc\"}\0garbage", 22));
    QVERIFY(reply.isObject());
    QCOMPARE(reply["Key"].toText(), QStringLiteral("abc"));

    const ServiceReply falseReply = ServiceReply::fromBody(QByteArray("false\0{\"x\":1}", 13));
    QVERIFY(falseReply.isFalse());
}

void TestServiceReply::falseIsOnlyTheExactText_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("isFalse");
    QTest::newRow("exact") << QByteArray("false") << true;
    QTest::newRow("capital") << QByteArray("False") << false;
    QTest::newRow("trailing space") << QByteArray("false ") << false;
    QTest::newRow("trailing newline") << QByteArray("false\n") << false;
    QTest::newRow("leading space") << QByteArray(" false") << false;
    QTest::newRow("empty") << QByteArray() << false;
}

void TestServiceReply::falseIsOnlyTheExactText()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, isFalse);
    const ServiceReply reply = ServiceReply::fromBody(body);
    QCOMPARE(reply.isFalse(), isFalse);
    QVERIFY(!reply.isObject());
}

void TestServiceReply::bodyIsLatin1()
{
    // 0xE9 is é in Latin-1; as UTF-8 it would be an invalid byte.
    const ServiceReply reply = ServiceReply::fromBody("{\"name\":\"Ren\xe9\"}");
    QVERIFY(reply.isObject());
    QCOMPARE(reply["name"].toText(), QString::fromUtf8("René"));

    const ServiceReply escaped = ServiceReply::fromBody("{\"name\":\"Zo\\u00eb \\u4e2d\"}");
    QCOMPARE(escaped["name"].toText(), QString::fromUtf8("Zoë 中"));
}

void TestServiceReply::nonObjectsReadAsEmpty_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("html") << QByteArray("<html><body>502 Bad Gateway</body></html>");
    QTest::newRow("array") << QByteArray("[1,2,3]");
    QTest::newRow("number") << QByteArray("42");
    QTest::newRow("truncated") << QByteArray("{\"Key\":\"ab");
    QTest::newRow("script literal") << QByteArray("{Key: 'abc'}");
    QTest::newRow("trailing garbage") << QByteArray("{\"Key\":\"abc\"} x");
}

void TestServiceReply::nonObjectsReadAsEmpty()
{
    QFETCH(QByteArray, body);
    const ServiceReply reply = ServiceReply::fromBody(body);
    QVERIFY(!reply.isObject());
    QCOMPARE(reply["Key"].toText(), QString());
    QCOMPARE(reply["Success"].toBoolean(), false);
    QCOMPARE(reply["ContactID"].toInt32(), 0);
    QVERIFY(reply["result"].elements().isEmpty());
}

void TestServiceReply::neverEvaluatesScript()
{
    // A body that would run code if it were evaluated is just unreadable.
    const ServiceReply reply = ServiceReply::fromBody("(function(){ return {Key: 'x'}; })()");
    QVERIFY(!reply.isObject());
    QCOMPARE(reply["Key"].toText(), QString());
}

void TestServiceReply::textOfValues_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("text");
    QTest::newRow("string") << QByteArray("\"12.50\"") << QStringLiteral("12.50");
    QTest::newRow("number with trailing zero") << QByteArray("12.50") << QStringLiteral("12.5");
    QTest::newRow("integer") << QByteArray("10") << QStringLiteral("10");
    QTest::newRow("null") << QByteArray("null") << QStringLiteral("null");
    QTest::newRow("true") << QByteArray("true") << QStringLiteral("true");
    QTest::newRow("false") << QByteArray("false") << QStringLiteral("false");
    QTest::newRow("object") << QByteArray("{}") << QStringLiteral("[object Object]");
    QTest::newRow("array") << QByteArray("[1,null,\"a\"]") << QStringLiteral("1,,a");
}

void TestServiceReply::textOfValues()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, text);
    const ServiceReply reply = ServiceReply::fromBody("{\"v\":" + json + "}");
    QCOMPARE(reply["v"].toText(), text);
    QCOMPARE(reply["missing"].toText(), QString());
}

void TestServiceReply::numberTextMatchesScriptLanguage_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0.0 << QStringLiteral("0");
    QTest::newRow("negative zero") << -0.0 << QStringLiteral("0");
    QTest::newRow("fraction") << 0.1 << QStringLiteral("0.1");
    QTest::newRow("sum rounding") << 0.1 + 0.2 << QStringLiteral("0.30000000000000004");
    QTest::newRow("negative") << -12.5 << QStringLiteral("-12.5");
    QTest::newRow("1e21") << 1e21 << QStringLiteral("1e+21");
    QTest::newRow("just below 1e21") << 123456789012345680000.0 << QStringLiteral("123456789012345680000");
    QTest::newRow("small plain") << 0.000001 << QStringLiteral("0.000001");
    QTest::newRow("small exponent") << 1e-7 << QStringLiteral("1e-7");
    QTest::newRow("small with digits") << 1.5e-7 << QStringLiteral("1.5e-7");
    QTest::newRow("large with digits") << 1.25e25 << QStringLiteral("1.25e+25");
    QTest::newRow("two to the 53") << 9007199254740992.0 << QStringLiteral("9007199254740992");
}

void TestServiceReply::numberTextMatchesScriptLanguage()
{
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(scriptNumberText(value), text);
}

void TestServiceReply::booleanOfValues_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("truth");
    QTest::newRow("true") << QByteArray("true") << true;
    QTest::newRow("false") << QByteArray("false") << false;
    QTest::newRow("one") << QByteArray("1") << true;
    QTest::newRow("zero") << QByteArray("0") << false;
    QTest::newRow("text false") << QByteArray("\"false\"") << true;
    QTest::newRow("text zero") << QByteArray("\"0\"") << true;
    QTest::newRow("empty text") << QByteArray("\"\"") << false;
    QTest::newRow("null") << QByteArray("null") << false;
    QTest::newRow("empty object") << QByteArray("{}") << true;
    QTest::newRow("empty array") << QByteArray("[]") << true;
}

void TestServiceReply::booleanOfValues()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, truth);
    const ServiceReply reply = ServiceReply::fromBody("{\"Success\":" + json + "}");
    QCOMPARE(reply["Success"].toBoolean(), truth);
    QCOMPARE(reply["missing"].toBoolean(), false);
}

void TestServiceReply::int32OfValues_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<int>("value");
    QTest::newRow("integer") << QByteArray("42") << 42;
    QTest::newRow("numeric text") << QByteArray("\"42\"") << 42;
    QTest::newRow("padded text") << QByteArray("\"  42 \"") << 42;
    QTest::newRow("hex text") << QByteArray("\"0x1A\"") << 26;
    QTest::newRow("fraction truncates") << QByteArray("3.9") << 3;
    QTest::newRow("negative fraction") << QByteArray("-3.9") << -3;
    QTest::newRow("wraps past 2^32") << QByteArray("4294967301") << 5;
    QTest::newRow("wraps to negative") << QByteArray("2147483648") << -2147483647 - 1;
    QTest::newRow("not a number") << QByteArray("\"12abc\"") << 0;
    QTest::newRow("empty text") << QByteArray("\"\"") << 0;
    QTest::newRow("true") << QByteArray("true") << 1;
    QTest::newRow("null") << QByteArray("null") << 0;
    QTest::newRow("object") << QByteArray("{}") << 0;
    QTest::newRow("one element array") << QByteArray("[7]") << 7;
    QTest::newRow("huge") << QByteArray("1e300") << 0;
    QTest::newRow("exponent text") << QByteArray("\"1e3\"") << 1000;
}

void TestServiceReply::int32OfValues()
{
    QFETCH(QByteArray, json);
    QFETCH(int, value);
    const ServiceReply reply = ServiceReply::fromBody("{\"ContactID\":" + json + "}");
    QCOMPARE(reply["ContactID"].toInt32(), value);
    QCOMPARE(reply["missing"].toInt32(), 0);
}

void TestServiceReply::listsAreWalkedInOrder()
{
    const ServiceReply reply = ServiceReply::fromBody(
        R"({"result":[{"name":"a"},{"name":"b"},{"name":"c"}]})");
    QStringList names;
    for (const ReplyValue &entry : reply["result"].elements())
        names << entry["name"].toText();
    QCOMPARE(names, QStringList({"a", "b", "c"}));
    QCOMPARE(reply["result"]["1"]["name"].toText(), QStringLiteral("b"));
}

void TestServiceReply::objectUsedAsListPutsIndicesFirst()
{
    const ServiceReply reply = ServiceReply::fromBody(R"({"result":{"10":"ten","2":"two","x":"named","0":"zero"}})");
    QStringList texts;
    for (const ReplyValue &entry : reply["result"].elements())
        texts << entry.toText();
    QCOMPARE(texts, QStringList({"zero", "two", "ten", "named"}));
}

void TestServiceReply::missingPathsStayMissing()
{
    const ServiceReply reply = ServiceReply::fromBody(R"({"a":{"b":1}})");
    QVERIFY(reply["a"]["c"]["d"].isMissing());
    QVERIFY(reply["a"]["b"]["c"].isMissing());
    QCOMPARE(reply["a"]["b"].toInt32(), 1);
}

void TestServiceReply::formFieldsEncodeEveryReservedCharacter()
{
    QCOMPARE(FormFields::encode(QStringLiteral("a&b=c+d#e%f g")), QByteArray("a%26b%3Dc%2Bd%23e%25f%20g"));
    QCOMPARE(FormFields::encode(QString::fromUtf8("é")), QByteArray("%E9"));
    QCOMPARE(FormFields::encode(QString::fromUtf8("中")), QByteArray("%3F")); // outside Latin-1
    QCOMPARE(FormFields::encode(QStringLiteral("user@mail.example-1_~")), QByteArray("user%40mail.example-1_~"));
}

void TestServiceReply::formBodyAndQueryShapes()
{
    FormFields fields;
    fields.add(QStringLiteral("login"), QString()).add(QStringLiteral("ContactID"), 17);
    QCOMPARE(fields.toBody(), QByteArray("login=&ContactID=17&"));
    QCOMPARE(fields.toQuery(), QByteArray("login=&ContactID=17"));
    QCOMPARE(FormFields().add(QStringLiteral("login"), QString()).toBody(), QByteArray("login=&"));
    QCOMPARE(FormFields().toBody(), QByteArray());
}

void TestServiceReply::urlUsesDeploymentBase()
{
    qputenv("ONDAVOX_WEB_BASE", "http://127.0.0.1:9/");
    const QUrl url = ServiceRequest::url(QStringLiteral("/Webservices/login.php"),
                                         FormFields().add(QStringLiteral("email"), QStringLiteral("a+b@x")).add(QStringLiteral("password"), QStringLiteral("p&q")));
    QCOMPARE(url.toEncoded(), QByteArray("http://127.0.0.1:9/Webservices/login.php?email=a%2Bb%40x&password=p%26q"));
    qunsetenv("ONDAVOX_WEB_BASE");
}

QTEST_GUILESS_MAIN(TestServiceReply)
#include "tst_servicereply.moc"
