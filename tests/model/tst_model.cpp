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
    void keyCodesFollowTheAnsiLayout_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("code");
        QTest::newRow("A") << "A" << 0;
        QTest::newRow("lower a") << "a" << 0;
        QTest::newRow("S") << "S" << 1;
        QTest::newRow("D") << "D" << 2;
        QTest::newRow("Z") << "Z" << 6;
        QTest::newRow("B") << "B" << 11;
        QTest::newRow("Q") << "Q" << 12;
        QTest::newRow("M") << "M" << 46;
        QTest::newRow("1") << "1" << 18;
        QTest::newRow("5") << "5" << 23;
        QTest::newRow("6") << "6" << 22;
        QTest::newRow("9") << "9" << 25;
        QTest::newRow("0") << "0" << 29;
        QTest::newRow("F1") << "F1" << -1;
        QTest::newRow("a umlaut") << QString::fromUtf8("ä") << -1;
        QTest::newRow("AB") << "AB" << -1;
        QTest::newRow("leading blank") << " A" << -1;
        QTest::newRow("empty") << "" << -1;
        QTest::newRow("sharp s upper-cases to two letters") << QString::fromUtf8("ß") << -1;
        QTest::newRow("Enter") << "Enter" << -1;
    }
    void keyCodesFollowTheAnsiLayout() {
        QFETCH(QString, key);
        QFETCH(int, code);
        const auto result = Hotkey{key, {}}.keyCode();
        if (code < 0)
            QVERIFY(!result.has_value());
        else
            QCOMPARE(result, std::optional<quint32>(quint32(code)));
    }

    void everySupportedKeyHasADistinctCode() {
        QCOMPARE(supportedKeys().size(), 36);
        QCOMPARE(supportedKeys().first(), QStringLiteral("1"));
        QCOMPARE(supportedKeys().at(9), QStringLiteral("0"));
        QCOMPARE(supportedKeys().at(10), QStringLiteral("A"));
        QCOMPARE(supportedKeys().last(), QStringLiteral("Z"));
        QSet<quint32> codes;
        for (const QString& key : supportedKeys()) {
            const auto code = Hotkey{key.toLower(), {}}.keyCode();
            QVERIFY2(code.has_value(), qPrintable(key));
            codes.insert(*code);
        }
        QCOMPARE(codes.size(), 36);
    }

    void displayStringSortsModifiersIntoMenuOrder() {
        using M = HotkeyModifier;
        const auto mac = [](const Hotkey& hotkey) {
            return hotkey.displayString(TextPlatform::macOS);
        };
        QCOMPARE(mac(Hotkey{"1", {M::command, M::option}}), QString::fromUtf8("⌥⌘1"));
        QCOMPARE(mac(Hotkey{"z", {M::shift, M::command, M::control, M::option}}),
                 QString::fromUtf8("⌃⌥⇧⌘Z"));
        QCOMPARE(mac(Hotkey{"k", {M::shift, M::control}}), QString::fromUtf8("⌃⇧K"));
        QCOMPARE(mac(Hotkey{"f1", {}}), QStringLiteral("F1"));
        QCOMPARE(mac(Hotkey{"1", {M::shift, M::shift}}), QString::fromUtf8("⇧⇧1"));
        QCOMPARE(mac(Hotkey{QString::fromUtf8("ß"), {}}), QStringLiteral("SS"));
    }

    void displayStringNamesTheKeysAsLinuxDesktopsDo() {
        using M = HotkeyModifier;
        // Command is the shortcut key (Ctrl), Option is Alt, Control is Super.
        QCOMPARE((Hotkey{"1", {M::command, M::option}}.displayString()),
                 QStringLiteral("Ctrl+Alt+1"));
        QCOMPARE((Hotkey{"1", {M::option, M::command}}.displayString()),
                 QStringLiteral("Ctrl+Alt+1"));
        QCOMPARE((Hotkey{"k", {M::control, M::shift}}.displayString()),
                 QStringLiteral("Shift+Super+K"));
        QCOMPARE((Hotkey{"z", {M::shift, M::control, M::option, M::command}}.displayString()),
                 QStringLiteral("Ctrl+Alt+Shift+Super+Z"));
        QCOMPARE((Hotkey{"f1", {}}.displayString()), QStringLiteral("F1"));
        QCOMPARE((Hotkey{"1", {M::shift, M::shift}}.displayString()),
                 QStringLiteral("Shift+Shift+1"));
        // The editor offers them in the same order, named the same way.
        QStringList offered;
        for (HotkeyModifier modifier : offeredHotkeyModifiers())
            offered.append(displayName(modifier));
        QCOMPARE(offered, (QStringList{"Ctrl", "Alt", "Shift", "Super"}));
        QCOMPARE(offeredHotkeyModifiers(),
                 (std::array{M::command, M::option, M::shift, M::control}));
        QCOMPARE(offeredHotkeyModifiers(TextPlatform::macOS), allHotkeyModifiers);
    }

    void modifierMaskIsTheUnionOfTheListedModifiers() {
        using M = HotkeyModifier;
        QCOMPARE((Hotkey{"1", {M::command, M::option}}.carbonModifierMask()), 0x900u);
        QCOMPARE((Hotkey{"1", {}}.carbonModifierMask()), 0u);
        QCOMPARE((Hotkey{"1", {M::shift, M::shift}}.carbonModifierMask()), 0x200u);
        QCOMPARE((Hotkey{"1", {M::control, M::shift}}.carbonModifierMask()), 0x1200u);
        QCOMPARE(hotkeySignature, 0x5453524Bu);
    }

    void modifierTableColumns() {
        QCOMPARE(hotkeyModifierFromRawValue("option"), std::optional(HotkeyModifier::option));
        QVERIFY(!hotkeyModifierFromRawValue("Command").has_value());
        for (HotkeyModifier modifier : allHotkeyModifiers)
            QCOMPARE(hotkeyModifierFromRawValue(rawValue(modifier)), std::optional(modifier));
        QCOMPARE(displayName(HotkeyModifier::control, TextPlatform::macOS),
                 QStringLiteral("Control"));
        QCOMPARE(symbol(HotkeyModifier::shift), QString(QChar(0x21E7)));
    }

    void iconSourceRawValues() {
        QCOMPARE(rawValue(DockIconSource::systemSymbol), QStringLiteral("systemSymbol"));
        QCOMPARE(rawValue(DockIconSource::customImage), QStringLiteral("customImage"));
        QCOMPARE(allDockIconSources.front(), DockIconSource::systemSymbol);
        for (DockIconSource source : allDockIconSources)
            QCOMPARE(dockIconSourceFromRawValue(rawValue(source)), std::optional(source));
        QVERIFY(!dockIconSourceFromRawValue("CustomImage").has_value());
        QVERIFY(!dockIconSourceFromRawValue("").has_value());
    }

    void hotkeyEqualityRespectsModifierOrder() {
        using M = HotkeyModifier;
        QVERIFY((Hotkey{"1", {M::command, M::option}}) != (Hotkey{"1", {M::option, M::command}}));
        QVERIFY((Hotkey{"1", {M::command}}) == (Hotkey{"1", {M::command}}));
    }

    void hotkeyDecoding() {
        const auto empty = Hotkey::fromJson(parse(R"({"key": "q", "modifiers": []})"));
        QVERIFY(empty.has_value());
        QCOMPARE(empty->key, QStringLiteral("q"));
        QVERIFY(empty->modifiers.isEmpty());

        const auto ordered =
            Hotkey::fromJson(parse(R"({"key": "1", "modifiers": ["option", "command"], "x": 1})"));
        QVERIFY(ordered.has_value());
        QCOMPARE(ordered->modifiers,
                 (QList<HotkeyModifier>{HotkeyModifier::option, HotkeyModifier::command}));
        QCOMPARE(Hotkey::fromJson(ordered->toJson()), ordered);

        QVERIFY(!Hotkey::fromJson(parse(R"({"key": "1", "modifiers": ["Command"]})")));
        QVERIFY(!Hotkey::fromJson(parse(R"({"key": 1, "modifiers": []})")));
        QVERIFY(!Hotkey::fromJson(parse(R"({"modifiers": []})")));
        QVERIFY(!Hotkey::fromJson(parse(R"({"key": "1"})")));
        QVERIFY(!Hotkey::fromJson(parse(R"({"key": "1", "modifiers": [1]})")));
    }

    void resolvedSymbolAndCustomIcon() {
        DockItem item{QUuid::createUuid(), "n", "p", "   ", std::nullopt, {}};
        QCOMPARE(item.resolvedSymbolName(), QStringLiteral("square.grid.2x2"));
        item.icon = QString::fromUtf8("\u2028\t\n");
        QCOMPARE(item.resolvedSymbolName(), QStringLiteral("square.grid.2x2"));
        item.icon = " star ";
        QCOMPARE(item.resolvedSymbolName(), QStringLiteral(" star "));

        QVERIFY(!item.hasCustomIcon());
        item.customIconPath = QStringLiteral(" \u00a0 ");
        QVERIFY(!item.hasCustomIcon());
        const DockItemDraft blank(item);
        QCOMPARE(blank.iconSource, DockIconSource::systemSymbol);
        QCOMPARE(blank.customIconPath, item.customIconPath);
        item.customIconPath = "/tmp/a.png";
        QVERIFY(item.hasCustomIcon());
        const DockItemDraft custom(item);
        QCOMPARE(custom.iconSource, DockIconSource::customImage);
        QCOMPARE(custom.id, std::optional(item.id));
        QCOMPARE(custom.icon, item.icon);
    }

    void newDraftDefaults() {
        const DockItemDraft draft;
        QVERIFY(!draft.id.has_value());
        QVERIFY(draft.name.isEmpty());
        QCOMPARE(draft.iconSource, DockIconSource::systemSymbol);
        QCOMPARE(draft.icon, QStringLiteral("square.grid.2x2"));
        QCOMPARE(draft.hotkey.displayString(), QStringLiteral("Ctrl+Alt+1"));
        QVERIFY(!draft.canSave());
    }

    void canSaveNeedsNamesKeyAndModifier_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("pluginName");
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("withModifier");
        QTest::addColumn<bool>("expected");
        QTest::newRow("valid lower-case key") << "N"
                                              << "P"
                                              << "k" << true << true;
        QTest::newRow("name of spaces") << "   "
                                        << "P"
                                        << "k" << true << false;
        QTest::newRow("name of a newline") << "\n"
                                           << "P"
                                           << "k" << true << false;
        QTest::newRow("empty plugin") << "N"
                                      << ""
                                      << "k" << true << false;
        QTest::newRow("empty key") << "N"
                                   << "P"
                                   << "" << true << false;
        QTest::newRow("F1") << "N"
                            << "P"
                            << "F1" << true << false;
        QTest::newRow("ab") << "N"
                            << "P"
                            << "ab" << true << false;
        QTest::newRow("no modifier") << "N"
                                     << "P"
                                     << "k" << false << false;
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
            draft.hotkey.modifiers = {HotkeyModifier::control};
        QCOMPARE(draft.canSave(), expected);
    }

    void clampingForcesEachFieldIntoItsRange() {
        const LauncherTimingSettings wild{-5, 5000, 500, 1000};
        QCOMPARE(wild.clamped(), (LauncherTimingSettings{0, 1500, 120, 1000}));
        QCOMPARE(LauncherTimingSettings::defaults.clamped(), LauncherTimingSettings::defaults);
        QCOMPARE(LauncherTimingSettings::defaults, (LauncherTimingSettings{180, 80, 18, 60}));
        const LauncherTimingSettings extreme{std::numeric_limits<qint64>::max(), -1, 121,
                                             std::numeric_limits<qint64>::min()};
        QCOMPARE(extreme.clamped(), (LauncherTimingSettings{2000, 0, 120, 0}));
    }

    void itemDecodingAndEncoding() {
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

        const auto nullPath = DockItem::fromJson(validItemWith("customIconPath", QJsonValue()));
        QVERIFY(nullPath.has_value());
        QVERIFY(!nullPath->customIconPath.has_value());

        const auto emptyPath = DockItem::fromJson(validItemWith("customIconPath", ""));
        QVERIFY(emptyPath.has_value());
        QCOMPARE(emptyPath->customIconPath, std::optional<QString>(QString()));
        QCOMPARE(emptyPath->toJson().value("customIconPath"), QJsonValue(""));

        QVERIFY(DockItem::fromJson(validItemWith("unknown", 3)).has_value());
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
        const QByteArray expected = "{\n"
                                    "  \"Beta\" : {\n"
                                    "    \"x\" : null,\n"
                                    "    \"y\" : true\n"
                                    "  },\n"
                                    "  \"alpha\" : {\n"
                                    "\n"
                                    "  },\n"
                                    "  \"n\" : -42,\n"
                                    "  \"text\" : \"q\\\"\\\\\\n\\t\\u0001\\u001f \xc3\xa9\",\n"
                                    "  \"zeta\" : [\n"
                                    "    1,\n"
                                    "    \"a\\/b\",\n"
                                    "    [\n"
                                    "\n"
                                    "    ]\n"
                                    "  ]\n"
                                    "}";
        const QByteArray written = prettySortedJson(value);
        QCOMPARE(written, expected);
        QCOMPARE(QJsonDocument::fromJson(written).object(), value);
    }
};

int runModelTests(int argc, char** argv) {
    ModelTests tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "tst_model.moc"
