#pragma once

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <cstdlib>

namespace common {

/// One line on standard error, prefixed with the tool's name: every complaint of our tools.
inline void printToolError(const QString& text) {
    std::fprintf(stderr, "%s: %s\n", qUtf8Printable(QCoreApplication::applicationName()),
                 qUtf8Printable(text));
}

/// Parses a tool's arguments with --help and --version added (both end the process with status
/// 0). False after the one-line complaint for an unknown option, or for a stray argument when
/// the tool takes none.
inline bool parseToolArguments(QCommandLineParser& parser, const QStringList& arguments,
                               bool takesArguments = false) {
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    if (!parser.parse(arguments)) {
        printToolError(parser.errorText() + QStringLiteral(" (try --help)"));
        return false;
    }
    // Written here rather than by Qt, which on Windows shows them in a message box whenever the
    // tool has no console window of its own (run from a script, a service or another program).
    if (parser.isSet(helpOption)) {
        std::fputs(qUtf8Printable(parser.helpText()), stdout);
        std::exit(0);
    }
    if (parser.isSet(versionOption)) {
        std::printf("%s %s\n", qUtf8Printable(QCoreApplication::applicationName()),
                    qUtf8Printable(QCoreApplication::applicationVersion()));
        std::exit(0);
    }
    if (!takesArguments && !parser.positionalArguments().isEmpty()) {
        printToolError(QStringLiteral("unexpected argument '%1' (try --help)")
                           .arg(parser.positionalArguments().constFirst()));
        return false;
    }
    return true;
}

} // namespace common
