#include "model/DockItem.h"
#include "model/Hotkey.h"
#include "model/JsonText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace brevlin;

namespace {

QJsonValue parse(const char* text) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray(text), &error);
    if (error.error != QJsonParseError::NoError)
        qFatal("test JSON does not parse: %s", text);
    return document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object());
}

const char* const validItem = R"({
    "id": "804c3570-6354-4ab9-a688-fc0b0ec026b9",
    "name": " Content Reel ",
    "pluginName": "Content Reel",
    "icon": "",
    "hotkey": {"key": "1", "modifiers": ["command", "option"]}
})";

QJsonObject validItemWith(const QString& key, const QJsonValue& value) {
    QJsonObject object = parse(validItem).toObject();
    if (value.isUndefined())
        object.remove(key);
    else
        object.insert(key, value);
    return object;
}

} // namespace

class ModelTests : public QObject {
    Q_OBJECT
private slots:
    void hotkeysArePositionsNamedAsLinuxDesktopsDoAndStoredAsOnAMac() {
        QCOMPARE(supportedKeys().size(), keyPositionCount);
        QCOMPARE((Hotkey{"1", {}}.position()), std::optional(KeyPosition::digit1));
        QCOMPARE((Hotkey{"0", {}}.position()), std::optional(KeyPosition::digit0));
        QCOMPARE((Hotkey{"m", {}}.position()), std::optional(KeyPosition::m));
        for (qsizetype i = 0; i < supportedKeys().size(); ++i) {
            const QString key = supportedKeys().at(i);
            QCOMPARE((Hotkey{key.toLower(), {}}.position()), std::optional(KeyPosition(i)));
        }
        for (const char* unsupported : {"F1", "ä", "AB", " A", "", "ß", "Enter"}) {
            const Hotkey hotkey{QString::fromUtf8(unsupported), {}};
            QVERIFY2(!hotkey.position(), unsupported);
        }

        using M = KeyModifier;
        // Command is the shortcut key (Ctrl), Option is Alt, Control is Super.
        QCOMPARE((Hotkey{"1", {M::primary, M::alternate}}.displayString()),
                 QStringLiteral("Ctrl+Alt+1"));
        QCOMPARE((Hotkey{"1", {M::alternate, M::primary}}.displayString()),
                 QStringLiteral("Ctrl+Alt+1"));
        QCOMPARE((Hotkey{"z", {M::shift, M::system, M::alternate, M::primary}}.displayString()),
                 QStringLiteral("Ctrl+Alt+Shift+Super+Z"));
        QCOMPARE((Hotkey{"f1", {}}.displayString()), QStringLiteral("F1"));
        QCOMPARE((Hotkey{"1", {M::shift, M::shift}}.displayString()),
                 QStringLiteral("Shift+Shift+1"));
        QCOMPARE((Hotkey{"1", {M::shift, M::primary}}.modifierSet()), M::shift | M::primary);

        // In JSON the Mac names stay, in their order.
        QCOMPARE(Hotkey::fromJson(parse(R"({"key": "q", "modifiers": []})")),
                 std::optional(Hotkey{"q", {}}));
        const QJsonValue json =
            parse(R"({"key": "1", "modifiers": ["option", "command", "control", "shift"]})");
        const Hotkey ordered{"1", {M::alternate, M::primary, M::system, M::shift}};
        QCOMPARE(Hotkey::fromJson(json), std::optional(ordered));
        QCOMPARE(prettySortedJson(ordered.toJson()), prettySortedJson(json.toObject()));
        // Order is part of the value: it is what the file says.
        QVERIFY((Hotkey{"1", {M::primary, M::alternate}}) !=
                (Hotkey{"1", {M::alternate, M::primary}}));

        for (const char* bad :
             {R"({"key": "1", "modifiers": ["Command"]})",
              R"({"key": "1", "modifiers": ["primary"]})", R"({"key": 1, "modifiers": []})",
              R"({"modifiers": []})", R"({"key": "1"})", R"({"key": "1", "modifiers": [1]})"})
            QVERIFY2(!Hotkey::fromJson(parse(bad)), bad);
    }

    void canSaveNeedsNamesKeyAndModifier_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("pluginName");
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("withModifier");
        QTest::addColumn<bool>("expected");
        const auto row = [](const char* tag, const char* name, const char* plugin, const char* key,
                            bool withModifier, bool expected) {
            QTest::newRow(tag) << QString::fromUtf8(name) << QString::fromUtf8(plugin)
                               << QString::fromUtf8(key) << withModifier << expected;
        };
        row("valid lower-case key", "N", "P", "k", true, true);
        row("name of spaces", "   ", "P", "k", true, false);
        row("empty plugin", "N", "", "k", true, false);
        row("empty key", "N", "P", "", true, false);
        row("F1", "N", "P", "F1", true, false);
        row("no modifier", "N", "P", "k", false, false);
    }
    void canSaveNeedsNamesKeyAndModifier() {
        QFETCH(QString, name);
        QFETCH(QString, pluginName);
        QFETCH(QString, key);
        QFETCH(bool, withModifier);
        QFETCH(bool, expected);
        DockItemDraft draft;
        draft.name = name;
        draft.pluginName = pluginName;
        draft.hotkey = Hotkey{key, {}};
        if (withModifier)
            draft.hotkey.modifiers = {KeyModifier::system};
        QCOMPARE(draft.canSave(), expected);
    }

    void itemDecodingEncodingAndResolvedIcon() {
        const auto item = DockItem::fromJson(parse(validItem));
        QVERIFY(item.has_value());
        QCOMPARE(item->id, QUuid("{804C3570-6354-4AB9-A688-FC0B0EC026B9}"));
        QCOMPARE(item->name, QStringLiteral(" Content Reel ")); // never trimmed
        QVERIFY(!item->customIconPath.has_value());

        const QJsonObject encoded = item->toJson();
        QCOMPARE(encoded.value("id").toString(),
                 QStringLiteral("804C3570-6354-4AB9-A688-FC0B0EC026B9"));
        QVERIFY(!encoded.contains("customIconPath"));
        QCOMPARE(DockItem::fromJson(encoded), item);

        QCOMPARE(DockItem::fromJson(validItemWith("customIconPath", QJsonValue())), item);
        // An empty path is kept as one, both ways.
        const auto emptyPath = DockItem::fromJson(validItemWith("customIconPath", ""));
        QCOMPARE(emptyPath.value_or(*item).toJson().value("customIconPath"), QJsonValue(""));

        QVERIFY(DockItem::fromJson(validItemWith("unknown", 3)).has_value());

        // A blank symbol resolves to the grid; a blank path is no custom icon.
        DockItem plain{QUuid::createUuid(), "n", "p", "   ", std::nullopt, {}};
        QCOMPARE(plain.resolvedSymbolName(), QStringLiteral("square.grid.2x2"));
        plain.icon = QString::fromUtf8("\u2028\t\n");
        QCOMPARE(plain.resolvedSymbolName(), QStringLiteral("square.grid.2x2"));
        plain.icon = " star ";
        QCOMPARE(plain.resolvedSymbolName(), QStringLiteral(" star "));

        QVERIFY(!plain.hasCustomIcon());
        plain.customIconPath = QStringLiteral(" \u00a0 ");
        QVERIFY(!plain.hasCustomIcon());
        const DockItemDraft blank(plain);
        QCOMPARE(blank.iconSource, DockIconSource::systemSymbol);
        QCOMPARE(blank.customIconPath, plain.customIconPath);
        plain.customIconPath = "/tmp/a.png";
        QVERIFY(plain.hasCustomIcon());
        const DockItemDraft custom(plain);
        QCOMPARE(custom.iconSource, DockIconSource::customImage);
        QCOMPARE(custom.id, std::optional(plain.id));
        QCOMPARE(custom.icon, plain.icon);
    }

    void itemDecodingFailures_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QJsonValue>("value");
        for (const char* key : {"id", "name", "pluginName", "icon", "hotkey"})
            QTest::newRow(qPrintable(QStringLiteral("missing %1").arg(key)))
                << key << QJsonValue(QJsonValue::Undefined);
        QTest::newRow("number name") << "name" << QJsonValue(3);
        QTest::newRow("null icon") << "icon" << QJsonValue();
        QTest::newRow("numeric path") << "customIconPath" << QJsonValue(1);
        QTest::newRow("not a uuid") << "id" << QJsonValue("hello");
        QTest::newRow("braced uuid")
            << "id" << QJsonValue("{804C3570-6354-4AB9-A688-FC0B0EC026B9}");
        QTest::newRow("short uuid") << "id" << QJsonValue("804C3570-6354-4AB9-A688-FC0B0EC026B");
        QTest::newRow("non-hex uuid") << "id" << QJsonValue("804C3570-6354-4AB9-A688-FC0B0EC026BG");
        QTest::newRow("bad hotkey") << "hotkey" << QJsonValue(QJsonObject{{"key", "1"}});
    }
    void itemDecodingFailures() {
        QFETCH(QString, key);
        QFETCH(QJsonValue, value);
        QVERIFY(!DockItem::fromJson(validItemWith(key, value)).has_value());
    }

    void timingDecoding() {
        const auto timing = LauncherTimingSettings::fromJson(parse(
            R"({"focusDelayMilliseconds": 5000, "actionsOpenDelayMilliseconds": -3,
                "typingCharacterDelayMilliseconds": 9223372036854775807,
                "postSearchDelayMilliseconds": 0})"));
        QVERIFY(timing.has_value());
        QCOMPARE(*timing,
                 (LauncherTimingSettings{5000, -3, std::numeric_limits<qint64>::max(), 0}));
        // Each field is forced into its range only when clamped.
        QCOMPARE(timing->clamped(), (LauncherTimingSettings{2000, 0, 120, 0}));
        QCOMPARE((LauncherTimingSettings{-5, 5000, 121, 1000}.clamped()),
                 (LauncherTimingSettings{0, 1500, 120, 1000}));
        QCOMPARE((LauncherTimingSettings{0, 0, 0, std::numeric_limits<qint64>::min()}.clamped()),
                 (LauncherTimingSettings{0, 0, 0, 0}));
        QCOMPARE(LauncherTimingSettings::fromJson(LauncherTimingSettings::defaults.toJson()),
                 std::optional(LauncherTimingSettings::defaults));
        // The optional switch: missing (above) or not a boolean means on; false is kept.
        QVERIFY(timing->adaptiveWaits);
        QJsonObject off = LauncherTimingSettings::defaults.toJson();
        off.insert("adaptiveWaits", false);
        QCOMPARE(LauncherTimingSettings::fromJson(off)->adaptiveWaits, false);
        QCOMPARE(LauncherTimingSettings::fromJson(off)->toJson(), off);
        off.insert("adaptiveWaits", "no");
        QCOMPARE(LauncherTimingSettings::fromJson(off)->adaptiveWaits, true);

        for (const char* bad : {
                 R"({"focusDelayMilliseconds": 1, "actionsOpenDelayMilliseconds": 1,
                     "typingCharacterDelayMilliseconds": 1})",
                 R"({"focusDelayMilliseconds": 12.5, "actionsOpenDelayMilliseconds": 1,
                     "typingCharacterDelayMilliseconds": 1, "postSearchDelayMilliseconds": 1})",
                 R"({"focusDelayMilliseconds": "1", "actionsOpenDelayMilliseconds": 1,
                     "typingCharacterDelayMilliseconds": 1, "postSearchDelayMilliseconds": 1})",
                 R"({"focusDelayMilliseconds": 9223372036854775808,
                     "actionsOpenDelayMilliseconds": 1, "typingCharacterDelayMilliseconds": 1,
                     "postSearchDelayMilliseconds": 1})",
                 R"([1, 2, 3, 4])",
             })
            QVERIFY2(!LauncherTimingSettings::fromJson(parse(bad)).has_value(), bad);
    }

    void writerMatchesThePrettySortedForm() {
        const QJsonObject value{
            {"zeta", QJsonArray{1, "a/b", QJsonArray{}}},
            {"alpha", QJsonObject{}},
            {"Beta", QJsonObject{{"y", true}, {"x", QJsonValue()}}},
            {"text", QString::fromUtf8("q\"\\\n\t\x01\x1f é")},
            {"n", -42},
        };
        // Keys sort by their bytes, so upper-case letters come before lower-case ones.
        const QByteArray expected =
            "{\n  \"Beta\" : {\n    \"x\" : null,\n    \"y\" : true\n  },\n"
            "  \"alpha\" : {\n\n  },\n  \"n\" : -42,\n"
            "  \"text\" : \"q\\\"\\\\\\n\\t\\u0001\\u001f \xc3\xa9\",\n"
            "  \"zeta\" : [\n    1,\n    \"a\\/b\",\n    [\n\n    ]\n  ]\n}";
        const QByteArray written = prettySortedJson(value);
        QCOMPARE(written, expected);
        QCOMPARE(QJsonDocument::fromJson(written).object(), value);
    }
};

QTEST_GUILESS_MAIN(ModelTests)
#include "tst_model.moc"
