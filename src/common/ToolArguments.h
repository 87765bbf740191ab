#pragma once

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <cstdio>

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
    if (parser.isSet(helpOption)) {
        parser.showHelp(0);
    }
    if (parser.isSet(versionOption)) {
        parser.showVersion();
    }
    if (!takesArguments && !parser.positionalArguments().isEmpty()) {
        printToolError(QStringLiteral("unexpected argument '%1' (try --help)")
                           .arg(parser.positionalArguments().constFirst()));
        return false;
    }
    return true;
}

} // namespace common
