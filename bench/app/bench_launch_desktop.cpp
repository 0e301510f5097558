// Launch latency of the real `brevlin`: from the hotkey press to the target's own record of the
// run, with the target already running, default timing, adaptive waits on and off, into the
// stand-in and into the small Chromium palette page. With fixed waits the launch cannot beat the
// sum of its waits (the floor); what comes on top is Brevlin's own cost, reported step by step
// from the stand-in's time-stamped record. Then fifty launches into each target beside two busy
// loops, adaptive waits on, and the share of them that lost a key or ran anything but a press of
// the exact result with the exact name in the field. A third argument names the rows of a large
// Chromium page measured as well. Runs inside a desktop session (scripts/run-benchmarks).

#include "../common/LaunchFloor.h"
#include "BrevlinProcess.h"
#include "DesktopTestSupport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <xkbcommon/xkbcommon-keysyms.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

using namespace brevlin::testing;

namespace {

const QString wmClass = QStringLiteral("brevlin-bench-target");
// The samples: Ctrl+Alt+1, 2 and 3.
const QStringList plugins = {"Content Reel", "Autoflow", "Unsplash"};
const quint32 digitKeysyms[] = {XKB_KEY_1, XKB_KEY_2, XKB_KEY_3};

double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double monotonicMs() {
    return double(QDeadlineTimer::current().deadlineNSecs()) / 1e6;
}

// The clock a web page's performance.timeOrigin + performance.now() follows.
double epochMs() {
    return double(std::chrono::duration_cast<std::chrono::microseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count()) /
           1e3;
}

double msOf(const QJsonObject& e) {
    return e.value("ns").toDouble() / 1e6;
}

// Returns when the hotkey was pressed by `clock`: as its last key went down. Each key sent here
// takes a round trip to the display.
double pressHotkey(int index, double (*clock)()) {
    pressKeysym(XKB_KEY_Control_L, true);
    pressKeysym(XKB_KEY_Alt_L, true);
    const double pressed = clock();
    pressKeysym(digitKeysyms[index], true);
    pressKeysym(digitKeysyms[index], false);
    pressKeysym(XKB_KEY_Alt_L, false);
    pressKeysym(XKB_KEY_Control_L, false);
    return pressed;
}

QByteArray configWith(bool adaptiveWaits) {
    QJsonArray items;
    const char* ids[] = {"804C3570-6354-4AB9-A688-FC0B0EC026B9",
                         "0E514F0F-52D1-441D-8F54-B7A4D9B7C6F9",
                         "4E642431-C6D9-4AD0-8291-31A70041CA48"};
    for (int i = 0; i < 3; ++i) {
        items.append(
            QJsonObject{{"id", ids[i]},
                        {"name", plugins[i]},
                        {"pluginName", plugins[i]},
                        {"icon", "star"},
                        {"hotkey", QJsonObject{{"key", QString::number(i + 1)},
                                               {"modifiers", QJsonArray{"command", "option"}}}}});
    }
    brevlin::LauncherTimingSettings timing = brevlin::LauncherTimingSettings::defaults;
    timing.adaptiveWaits = adaptiveWaits;
    return QJsonDocument(QJsonObject{{"items", items}, {"launcherTiming", timing.toJson()}})
        .toJson();
}

// One launch as its target recorded it.
struct Launch {
    bool ran = false;
    bool exact = false; // pressed, with exactly the name in the field
    double latency = 0; // hotkey press -> run, by the target's clock
    // The stand-in's steps: press -> Command-K handled, -> first character, typing, -> run.
    double toPalette = 0, toFirst = 0, typing = 0, toRun = 0;
};

// The target: the stand-in, or the palette page in Chromium, started by the first launch through
// its desktop entry and kept running.
class Target {
public:
    // `rows`: of the Chromium page's own list beside the palette (with five inputs of its own
    // and a clock changing every frame, as the Chromium bench's pages).
    explicit Target(bool chromium, int rows = 0)
        : m_chromium(chromium)
        , m_name(!chromium  ? QByteArray("stand-in")
                 : rows > 0 ? QStringLiteral("Chromium, %1 rows").arg(rows).toUtf8()
                            : QByteArray("Chromium palette page")) {
        if (m_chromium)
            installChromiumPaletteEntry(
                rows > 0 ? QStringLiteral("clear=1&inputs=5&rows=%1&churn=1").arg(rows)
                         : QStringLiteral("clear=1"),
                wmClass, m_profile.path());
        else
            // As in Figma, the palette opens with an empty search field: no old text to clear.
            installStandinEntry({"--record", m_record.path(), "--clear-search"}, wmClass);
    }
    ~Target() {
        terminateProcess(m_chromium ? paletteState().pid : m_standinPid);
        removeStandinEntries();
    }
    const char* name() const { return m_name.constData(); }

    Launch launch(int index) {
        const QString plugin = plugins[index];
        Launch l;
        if (m_chromium) {
            const int before = int(paletteState().runs.size());
            const double pressed = pressHotkey(index, epochMs);
            if (!waitForPalette([&](const PaletteState& s) { return s.runs.size() > before; }, 0,
                                20000))
                return l;
            // The palette closes at the run; the launch ends with a look at it after that.
            QTest::qWait(300);
            const PaletteState s = paletteState();
            l.ran = true;
            l.exact = s.runs.size() == before + 1 && s.runs.last() == plugin + "/press" &&
                      s.text == plugin;
            l.latency = s.runAt - pressed;
            return l;
        }
        m_record.clear();
        const double pressed = pressHotkey(index, monotonicMs);
        if (!m_record.waitFor([](const QJsonObject& e) { return e.value("event") == "run"; },
                              20000))
            return l;
        QTest::qWait(300);
        for (const QJsonObject& ready : m_record.events("ready"))
            m_standinPid = ready.value("pid").toInteger();
        double palette = 0, first = 0, last = 0, run = 0;
        QString text, atRun;
        for (const QJsonObject& e : m_record.events()) {
            const QString kind = e.value("event").toString();
            if (kind == "palette" && e.value("open").toBool() && !palette)
                palette = msOf(e);
            else if (kind == "text") {
                text = e.value("text").toString();
                if (!text.isEmpty()) {
                    first = first ? first : msOf(e);
                    last = msOf(e);
                }
            } else if (kind == "run" && !run) {
                run = msOf(e);
                atRun = text;
            }
        }
        l.ran = true;
        l.exact = m_record.runs() == QStringList{plugin + "/press"} && atRun == plugin;
        l.latency = run - pressed;
        l.toPalette = palette - pressed;
        l.toFirst = first - palette;
        l.typing = last - first;
        l.toRun = run - last;
        return l;
    }

private:
    bool m_chromium;
    QByteArray m_name;
    QTemporaryDir m_profile;
    StandinRecord m_record;
    qint64 m_standinPid = 0;
};

// Launches `count` times, going through the three samples; the first launch of a session starts
// the target and is not counted.
std::vector<Launch> launches(Target& target, bool adaptiveWaits, int count, bool sameShortcut) {
    std::vector<Launch> result;
    BrevlinProcess brevlin;
    // Without a control socket in this build of the program, it counts as up once its hotkeys
    // are grabbed, which a moment after the start is.
    if (!brevlin.writeConfig(configWith(adaptiveWaits)) || !brevlin.start(false))
        return result;
    QTest::qWait(1500);
    target.launch(0);
    QTest::qWait(1000);
    for (int i = 0; i < count; ++i) {
        result.push_back(target.launch(sameShortcut ? 0 : i % 3));
        // The launch ends with a look at the palette a moment after the run.
        QTest::qWait(300);
    }
    return result;
}

double medianOf(const std::vector<Launch>& runs, double Launch::*field) {
    std::vector<double> values;
    for (const Launch& l : runs) {
        if (l.ran)
            values.push_back(l.*field);
    }
    return median(values);
}

void printSteps(const std::vector<Launch>& runs, bool fixedWaits) {
    const brevlin::bench::LaunchFloor floor = brevlin::bench::launchFloor(plugins[0]);
    const double floors[] = {floor.focus, floor.toFirst, floor.typing, floor.toRun};
    const char* names[] = {"press -> Command-K handled (focus wait)",
                           "Command-K -> first character (open, tab, field)",
                           "first -> last character (typing)",
                           "last character -> run (typing, post-search)"};
    double Launch::*fields[] = {&Launch::toPalette, &Launch::toFirst, &Launch::typing,
                                &Launch::toRun};
    for (int i = 0; i < 4; ++i) {
        const double measured = medianOf(runs, fields[i]);
        if (fixedWaits)
            std::printf("    %-48s %7.1f ms (floor %3.0f ms, over %+6.1f ms)\n", names[i], measured,
                        floors[i], measured - floors[i]);
        else
            std::printf("    %-48s %7.1f ms\n", names[i], measured);
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // Each figure shows as soon as it is known, also when the output goes to a file.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 20;
    const int loadedRuns = argc > 2 ? std::max(1, atoi(argv[2])) : 50;
    // The rows of a large Chromium page to measure too; none by default.
    const int largeRows = argc > 3 ? std::max(0, atoi(argv[3])) : 0;
    if (!insideDesktopSession()) {
        std::fprintf(stderr, "bench_launch_desktop: run inside scripts/desktop-session\n");
        return 2;
    }
    setAccessibilityEnabled(true);
    const double floor = brevlin::bench::launchFloor(plugins[0]).total();

    std::printf("Launch of \"%s\" by hotkey, target running, default timing, median of %d runs,\n"
                "hotkey press -> run by the target's clock\n",
                qPrintable(plugins[0]), runs);
    bool complete = true;
    for (int t = 0; t < (largeRows > 0 ? 3 : 2); ++t) {
        const bool chromium = t > 0;
        Target target(chromium, t == 2 ? largeRows : 0);
        for (bool adaptive : {true, false}) {
            const std::vector<Launch> measured = launches(target, adaptive, runs, true);
            const long ran = std::count_if(measured.begin(), measured.end(),
                                           [](const Launch& l) { return l.ran; });
            complete = complete && ran == runs;
            std::printf(
                "  %-22s adaptive waits %-3s %7.1f ms  (%s; %ld of %d ran)\n", target.name(),
                adaptive ? "on" : "off", medianOf(measured, &Launch::latency),
                qPrintable(adaptive ? QStringLiteral("goal at most %1 ms").arg(t == 2 ? 300 : 250)
                                    : QStringLiteral("floor %1 ms").arg(floor)),
                ran, runs);
            if (!chromium)
                printSteps(measured, !adaptive);
            if (!chromium && !adaptive)
                std::printf("    launch overhead over the floor: %.1f ms (goal at most 30 ms)\n",
                            medianOf(measured, &Launch::latency) - floor);
        }
    }

    std::printf("%d launches in a row beside two busy loops, adaptive waits on, the three "
                "samples in turn\n",
                loadedRuns);
    std::vector<std::unique_ptr<QProcess>> busy;
    for (int i = 0; i < 2; ++i) {
        busy.push_back(std::make_unique<QProcess>());
        busy.back()->start("sh", {"-c", "while :; do :; done"});
    }
    for (bool chromium : {false, true}) {
        Target target(chromium);
        const std::vector<Launch> measured = launches(target, true, loadedRuns, false);
        const long lost = loadedRuns - std::count_if(measured.begin(), measured.end(),
                                                     [](const Launch& l) { return l.exact; });
        std::printf("  %-22s lost %ld of %d (%.1f %%), median latency %.1f ms\n", target.name(),
                    lost, loadedRuns, 100.0 * double(lost) / loadedRuns,
                    medianOf(measured, &Launch::latency));
    }
    for (auto& p : busy) {
        p->kill();
        p->waitForFinished(2000);
    }
    return complete ? 0 : 1;
}
