// The audio device settings: the dialog's form and lists, what Save stores
// and hands to the engine, and the devices applied after login.
#include "base/settings.h"
#include "engine_double.h"
#include "telephony/audiodevices.h"
#include "views/tsettings.h"
#include "testsupport.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTest>

namespace {

using Args = std::vector<std::string>;

Args lastDevicesSet()
{
    const auto calls = EngineDouble::callsOf("iaxc_audio_devices_set");
    return calls.empty() ? Args{} : calls.back().args;
}

void storeDevices(const QVariant &input, const QVariant &output)
{
    auto settings = Settings::open();
    if (input.isValid())
        settings->setValue(QLatin1String(Settings::InputDevice), input);
    if (output.isValid())
        settings->setValue(QLatin1String(Settings::OutputDevice), output);
    Settings::sync(*settings);
}

QVariant stored(const char *key)
{
    return Settings::open()->value(QLatin1String(key));
}

QStringList items(const QComboBox *box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void formHasItsWidgets();
    void applyLeavesEngineDevicesWhenNothingIsStored();
    void applyUsesStoredDevices();
    void applyIgnoresSpoiltValues();
    void listsFollowCapabilities();
    void storedDevicesArePreselected();
    void saveStoresBothAndAppliesOutputAsRing();
    void cancelWritesNothingButOpeningApplied();
    void saveWithoutInputDevicesKeepsStoredInput();
    void saveWithNoDevicesAtAllWritesNothing();

private:
    SettingsSandbox *sandbox = nullptr;
};

void TestSettings::init()
{
    EngineDouble::reset();
    sandbox = new SettingsSandbox;
    // Latin-1 names, a device that can do both, one that can only ring.
    EngineDouble::setDevices({{"Built-in microphone", IAXC_AD_INPUT, 10},
                              {"Speakers", IAXC_AD_OUTPUT, 11},
                              {"Headset \xe9", IAXC_AD_INPUT | IAXC_AD_OUTPUT, 12},
                              {"Bell", IAXC_AD_RING, 13}},
                             10, 11, 11);
}

void TestSettings::cleanup()
{
    delete sandbox;
}

void TestSettings::formHasItsWidgets()
{
    TSettings dialog;
    QCOMPARE(dialog.objectName(), QStringLiteral("TSettings"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Settings"));
    QCOMPARE(dialog.size(), QSize(440, 360));
    QVERIFY(dialog.styleSheet().contains(QLatin1String(".footer")));
    QCOMPARE(dialog.findChild<QWidget *>(QStringLiteral("widget"))->property("class").toString(), QStringLiteral("header"));
    QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("label_3"))->text(), QStringLiteral("Settings"));
    QCOMPARE(dialog.findChild<QGroupBox *>(QStringLiteral("groupBox"))->title(), QStringLiteral("Devices"));
    for (const char *name : {"label", "label_2"}) {
        auto *icon = dialog.findChild<QLabel *>(QString::fromLatin1(name));
        QCOMPARE(icon->property("class").toString(), QStringLiteral("icon"));
        QVERIFY(!icon->pixmap().isNull());
    }
    QCOMPARE(dialog.findChild<QWidget *>(QStringLiteral("widget_2"))->property("class").toString(), QStringLiteral("footer"));
    QCOMPARE(dialog.findChild<QPushButton *>(QStringLiteral("pbCancel"))->text(), QStringLiteral("Cancel"));
    QCOMPARE(dialog.findChild<QPushButton *>(QStringLiteral("pbSave"))->text(), QStringLiteral("Save"));
}

void TestSettings::applyLeavesEngineDevicesWhenNothingIsStored()
{
    applyStoredDevices();
    // Each side as the engine has it (the default, or a card it is still looking for).
    QCOMPARE(lastDevicesSet(), (Args{"-1", "-1", "-1"}));
    QCOMPARE(EngineDouble::functions(), (std::vector<std::string>{"iaxc_audio_devices_set"}));
    QVERIFY(!stored(Settings::InputDevice).isValid()); // nothing written
}

void TestSettings::applyUsesStoredDevices()
{
    storeDevices(12, 12);
    applyStoredDevices();
    QCOMPARE(lastDevicesSet(), (Args{"12", "12", "12"}));
    // A device that has gone away is still handed over as stored.
    storeDevices(42, QVariant());
    applyStoredDevices();
    QCOMPARE(lastDevicesSet(), (Args{"42", "12", "12"}));
}

void TestSettings::applyIgnoresSpoiltValues()
{
    storeDevices(QStringLiteral("microphone"), 12);
    applyStoredDevices();
    QCOMPARE(lastDevicesSet(), (Args{"-1", "12", "12"}));
}

void TestSettings::listsFollowCapabilities()
{
    TSettings dialog;
    auto *input = dialog.findChild<QComboBox *>(QStringLiteral("cbInputDevice"));
    auto *output = dialog.findChild<QComboBox *>(QStringLiteral("cbOutputDevice"));
    QCOMPARE(items(input), (QStringList{QStringLiteral("Built-in microphone"), QStringLiteral("Headset \u00e9")}));
    QCOMPARE(items(output), (QStringList{QStringLiteral("Speakers"), QStringLiteral("Headset \u00e9")}));
    // Nothing stored: the first of each list, not the engine's current one.
    QCOMPARE(input->currentIndex(), 0);
    QCOMPARE(output->currentIndex(), 0);
    // Opening re-applies the devices.
    QCOMPARE(lastDevicesSet(), (Args{"-1", "-1", "-1"}));
}

void TestSettings::storedDevicesArePreselected()
{
    storeDevices(12, 12);
    TSettings dialog;
    QCOMPARE(dialog.findChild<QComboBox *>(QStringLiteral("cbInputDevice"))->currentIndex(), 1);
    QCOMPARE(dialog.findChild<QComboBox *>(QStringLiteral("cbOutputDevice"))->currentIndex(), 1);
}

void TestSettings::saveStoresBothAndAppliesOutputAsRing()
{
    storeDevices(10, 11);
    TSettings dialog;
    dialog.show();
    // Only the output is changed; both keys are written.
    dialog.findChild<QComboBox *>(QStringLiteral("cbOutputDevice"))->setCurrentIndex(1);
    EngineDouble::clearCalls();
    QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("pbSave")), Qt::LeftButton);
    QCOMPARE(stored(Settings::InputDevice).toInt(), 10);
    QCOMPARE(stored(Settings::OutputDevice).toInt(), 12);
    QCOMPARE(EngineDouble::functions(), (std::vector<std::string>{"iaxc_audio_devices_set"}));
    QCOMPARE(lastDevicesSet(), (Args{"10", "12", "12"}));
    QVERIFY(!dialog.isVisible());
}

void TestSettings::cancelWritesNothingButOpeningApplied()
{
    storeDevices(12, 11);
    TSettings dialog;
    QCOMPARE(lastDevicesSet(), (Args{"12", "11", "11"}));
    dialog.show();
    dialog.findChild<QComboBox *>(QStringLiteral("cbInputDevice"))->setCurrentIndex(0);
    EngineDouble::clearCalls();
    QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("pbCancel")), Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(stored(Settings::InputDevice).toInt(), 12);
    QVERIFY(EngineDouble::calls().empty());
}

void TestSettings::saveWithoutInputDevicesKeepsStoredInput()
{
    EngineDouble::setDevices({{"Speakers", IAXC_AD_OUTPUT, 11}, {"Line out", IAXC_AD_OUTPUT, 14}}, -1, 11, 11);
    storeDevices(10, 11);
    TSettings dialog;
    QCOMPARE(dialog.findChild<QComboBox *>(QStringLiteral("cbInputDevice"))->count(), 0);
    dialog.findChild<QComboBox *>(QStringLiteral("cbOutputDevice"))->setCurrentIndex(1);
    EngineDouble::clearCalls();
    dialog.findChild<QPushButton *>(QStringLiteral("pbSave"))->click();
    QCOMPARE(stored(Settings::InputDevice).toInt(), 10);
    QCOMPARE(stored(Settings::OutputDevice).toInt(), 14);
    QCOMPARE(lastDevicesSet(), (Args{"10", "14", "14"}));
}

void TestSettings::saveWithNoDevicesAtAllWritesNothing()
{
    EngineDouble::setDevices({}, 0, 0, 0);
    TSettings dialog;
    dialog.findChild<QPushButton *>(QStringLiteral("pbSave"))->click();
    QVERIFY(!stored(Settings::InputDevice).isValid());
    QVERIFY(!stored(Settings::OutputDevice).isValid());
    QCOMPARE(lastDevicesSet(), (Args{"-1", "-1", "-1"}));
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
