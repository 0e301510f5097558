#include "CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace brevlin {

std::optional<int> answerCommandLine(int argc, char** argv, const QString& version) {
    // A plain start has nothing to answer and pays nothing for it.
    if (argc <= 1)
        return std::nullopt;
    // The parser names the program in its usage line from the application's arguments; this one
    // needs no display and is gone before the GUI application is made.
    int probeArgc = argc;
    const QCoreApplication probe(probeArgc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A dock of shortcut buttons and system-wide hotkeys that launch plugins in Figma."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption showVersion({QStringLiteral("v"), QStringLiteral("version")},
                                         QStringLiteral("Show Brevlin's version and exit."));
    parser.addOption(help);
    parser.addOption(showVersion);
    const bool parsed = parser.parse(QCoreApplication::arguments());
    if (!parsed || !parser.positionalArguments().isEmpty()) {
        const QString reason = parsed ? QStringLiteral("Unexpected argument '%1'.")
                                            .arg(parser.positionalArguments().constFirst())
                                      : parser.errorText();
        std::fprintf(stderr, "%s\n%s", qPrintable(reason), qPrintable(parser.helpText()));
        return 2;
    }
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(showVersion)) {
        std::fprintf(stdout, "Brevlin %s\n", qPrintable(version));
        return 0;
    }
    return std::nullopt;
}

} // namespace brevlin
