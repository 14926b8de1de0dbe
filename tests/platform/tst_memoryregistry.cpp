#include "platform/MemoryRegistry.h"

#include <QtTest>

using qm::MemoryRegistry;
using qm::RegistryError;
using qm::RegistryValue;

Q_DECLARE_METATYPE(RegistryValue::Type)

namespace {

RegistryValue value(RegistryValue::Type type, const QString &text = QString(),
                    const QByteArray &data = QByteArray())
{
    RegistryValue made;
    made.type = type;
    made.text = text;
    made.data = data;
    return made;
}

} // namespace

class TestMemoryRegistry : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void openMissingKey_data();
    void openMissingKey();
    void readString_data();
    void readString();
    void textEndsAtNul();
    void subkeysInInsertionOrder();
    void openedKeySeesLaterChanges();
    void keyOutlivesRegistry();
    void pathsAndCase();
};

void TestMemoryRegistry::openMissingKey_data()
{
    QTest::addColumn<bool>("canCreate");
    QTest::newRow("may create") << true;
    QTest::newRow("may not create") << false;
}

void TestMemoryRegistry::openMissingKey()
{
    QFETCH(bool, canCreate);
    MemoryRegistry registry(canCreate);
    registry.addKey("Software");

    const auto key = registry.openKey("\\Software\\QuenmarOnline");
    QCOMPARE(bool(key), canCreate);
    QCOMPARE(registry.hasKey("Software\\QuenmarOnline"), canCreate);
    if (key) {
        QCOMPARE(key->readString("Directory"), QString());
        QCOMPARE(key->subkeyNames(), QStringList());
    }
    // A key that stands opens either way.
    QVERIFY(registry.openKey("Software"));
}

void TestMemoryRegistry::readString_data()
{
    QTest::addColumn<RegistryValue::Type>("type");
    QTest::addColumn<bool>("isText");

    using T = RegistryValue::Type;
    QTest::newRow("text") << T::String << true;
    QTest::newRow("expandable text") << T::ExpandString << true;
    QTest::newRow("multi-string") << T::MultiString << false;
    QTest::newRow("number") << T::DWord << false;
    QTest::newRow("large number") << T::QWord << false;
    QTest::newRow("bytes") << T::Binary << false;
    QTest::newRow("other") << T::Other << false;
}

void TestMemoryRegistry::readString()
{
    QFETCH(RegistryValue::Type, type);
    QFETCH(bool, isText);

    MemoryRegistry registry(false);
    registry.setValue("Software\\QuenmarOnline", "Directory",
                      value(type, "%ProgramFiles%\\Q", QByteArray("\x2a\0\0\0", 4)));
    const auto key = registry.openKey("Software\\QuenmarOnline");
    QVERIFY(key);
    try {
        QCOMPARE(key->readString("dIRECTORY"), "%ProgramFiles%\\Q");
        QVERIFY2(isText, "no error raised");
    } catch (const RegistryError &e) {
        QVERIFY(!isText);
        QCOMPARE(QString::fromUtf8(e.what()), "Invalid data type for 'dIRECTORY'");
    }
    QCOMPARE(key->readString("Version"), QString());
}

void TestMemoryRegistry::textEndsAtNul()
{
    MemoryRegistry registry;
    registry.setValue("K", "v", value(RegistryValue::Type::String, QString::fromLatin1("ab\0cd", 5)));
    QCOMPARE(registry.openKey("K")->readString("v"), "ab");
}

void TestMemoryRegistry::subkeysInInsertionOrder()
{
    MemoryRegistry registry;
    registry.addKey("Software\\QuenmarOnline\\zed");
    registry.setValue("Software\\QuenmarOnline\\Alice", "", value(RegistryValue::Type::String));
    registry.addKey("Software\\QuenmarOnline\\bob\\characters");
    registry.addKey("Software\\QuenmarOnline\\ALICE"); // the same key again
    const auto key = registry.openKey("Software\\QuenmarOnline");
    QVERIFY(key);
    QCOMPARE(key->subkeyNames(), (QStringList{"zed", "Alice", "bob"}));
}

void TestMemoryRegistry::openedKeySeesLaterChanges()
{
    MemoryRegistry registry;
    const auto key = registry.openKey("Software\\QuenmarOnline");
    QVERIFY(key);
    registry.setValue("software\\quenmaronline", "Version", value(RegistryValue::Type::String, "7.4"));
    registry.addKey("Software\\QuenmarOnline\\carol");
    QCOMPARE(key->readString("version"), "7.4");
    QCOMPARE(key->subkeyNames(), QStringList{"carol"});
    registry.setValue("Software\\QuenmarOnline", "VERSION", value(RegistryValue::Type::DWord));
    QVERIFY_THROWS_EXCEPTION(RegistryError, key->readString("Version"));
}

void TestMemoryRegistry::keyOutlivesRegistry()
{
    std::unique_ptr<qm::RegistryKey> key;
    {
        MemoryRegistry registry;
        registry.setValue("Software\\QuenmarOnline", "Version", value(RegistryValue::Type::String, "7.4"));
        key = registry.openKey("Software\\QuenmarOnline");
    }
    QVERIFY(key);
    QCOMPARE(key->readString("Version"), "7.4");
}

void TestMemoryRegistry::pathsAndCase()
{
    MemoryRegistry registry(false);
    registry.addKey("\\Software\\\\QuenmarOnline\\");
    QVERIFY(registry.hasKey("Software"));
    QVERIFY(registry.hasKey("SOFTWARE\\quenmaronline"));
    QVERIFY(!registry.hasKey("Software\\Quenmar"));
    QVERIFY(registry.openKey("software\\QUENMARONLINE\\"));
    QVERIFY(registry.openKey("\\"));
    const auto root = registry.openKey("");
    QVERIFY(root);
    QCOMPARE(root->subkeyNames(), QStringList{"Software"});
}

QTEST_GUILESS_MAIN(TestMemoryRegistry)
#include "tst_memoryregistry.moc"
