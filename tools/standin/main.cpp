// A small design-tool look-alike that desktop tests drive in place of the real application: an
// Actions palette behind Ctrl+K with "All", "Assets" and "Plugins" tabs, a focused search field and
// results labelled with plugin names. Everything it does that tests check is appended to a record
// file, one JSON object per line.

#include "HostileAccessibility.h"
#include "StandinWindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QStringList>

#include <cstdlib>
#include <cstring>

using namespace brevlin::standin;

namespace {

// WM_CLASS is fixed when the first window is created, from the resource name; it must be known
// before QApplication exists, so it is read from the raw arguments.
QByteArray wmClassFromArguments(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--wm-class") == 0 && i + 1 < argc)
            return argv[i + 1];
        if (std::strncmp(argv[i], "--wm-class=", 11) == 0)
            return argv[i] + 11;
    }
    return "brevlin-standin";
}

} // namespace

int main(int argc, char** argv) {
    const QByteArray wmClass = wmClassFromArguments(argc, argv);
    qputenv("RESOURCE_NAME", wmClass);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(wmClass));

    QCommandLineParser parser;
    parser.setApplicationDescription("Stand-in target for Brevlin's desktop tests.");
    parser.addHelpOption();
    QCommandLineOption recordOption(
        "record", "Append every event to <file> (default: $BREVLIN_STANDIN_RECORD).", "file");
    QCommandLineOption wmClassOption("wm-class", "WM_CLASS instance and class.", "name",
                                     QString::fromUtf8(wmClass));
    QCommandLineOption pluginsOption(
        "plugins", "Comma-separated plugin names shown as results.", "names",
        "Autoflow,Content Reel,Iconify,Unsplash,Lorem Ipsum,Café Tools,Chart Builder");
    QCommandLineOption noPluginsTabOption("no-plugins-tab", "Leave the Plugins tab out.");
    QCommandLineOption paletteDelayOption("palette-delay", "The palette appears <ms> after Ctrl+K.",
                                          "ms", "0");
    QCommandLineOption nestOption("nest", "Wrap the results in <n> named groups.", "n", "0");
    QCommandLineOption padOption("pad", "Add about <n> extra elements to the tree.", "n", "0");
    QCommandLineOption refuseOption("refuse-activation", "The window never takes focus.");
    QCommandLineOption staticOption("static-results",
                                    "Results are plain labels that cannot be pressed.");
    QCommandLineOption openOption("open-palette", "Show the palette at start.");
    QCommandLineOption untitledOption("untitled", "The window has no title (a nameless window).");
    QCommandLineOption clearSearchOption("clear-search",
                                         "The palette opens with an empty search field.");
    QCommandLineOption loopOption("ancestor-loop",
                                  "Add a group that lists its own window among its children.");
    QCommandLineOption churnOption("churning-children",
                                   "Add a group whose children are new on every read.");
    QCommandLineOption longNameOption("long-names", "Add four labels named with <n> characters.",
                                      "n", "0");
    parser.addOptions({recordOption, wmClassOption, pluginsOption, noPluginsTabOption,
                       paletteDelayOption, nestOption, padOption, refuseOption, staticOption,
                       openOption, untitledOption, clearSearchOption, loopOption, churnOption,
                       longNameOption});
    parser.process(app);

    Options options;
    options.recordPath = parser.isSet(recordOption)
                             ? parser.value(recordOption)
                             : qEnvironmentVariable("BREVLIN_STANDIN_RECORD");
    options.plugins = parser.value(pluginsOption).split(',', Qt::SkipEmptyParts);
    options.pluginsTab = !parser.isSet(noPluginsTabOption);
    options.paletteDelayMilliseconds = parser.value(paletteDelayOption).toInt();
    options.nestDepth = parser.value(nestOption).toInt();
    options.padding = parser.value(padOption).toInt();
    options.refuseActivation = parser.isSet(refuseOption);
    options.staticResults = parser.isSet(staticOption);
    options.clearSearchOnOpen = parser.isSet(clearSearchOption);
    options.ancestorLoop = parser.isSet(loopOption);
    options.churningChildren = parser.isSet(churnOption);
    options.longNameCharacters = parser.value(longNameOption).toInt();
    if (options.ancestorLoop || options.churningChildren)
        installHostileAccessibility();

    StandinWindow window(options);
    if (parser.isSet(untitledOption))
        window.setWindowTitle(QString());
    window.show();
    if (parser.isSet(openOption))
        window.togglePalette();
    return app.exec();
}
