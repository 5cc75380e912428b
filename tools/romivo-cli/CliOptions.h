#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// The command line of romivo-cli.
struct CliOptions {
    struct Step {
        enum class Kind { Write, Read, Verify, Blank };
        Kind kind;
        QString file;
    };

    QString port;
    QString simChip;
    QStringList simFaults;
    double waitBoardSeconds = 5;
    double idleTimeoutSeconds = 5;
    bool quiet = false;
    bool anySize = false;
    bool noCheck = false;  // a write goes ahead without reading the chip first  // a raw image of any size is padded or cut, as the window does
    bool listPorts = false;
    bool help = false;
    bool version = false;
    QString helpText;
    QList<Step> steps;

    // Nothing (with `error`) when the arguments do not make a command.
    static std::optional<CliOptions> parse(const QStringList &arguments, QString *error);
    // What the operations are and what the exit statuses mean, for --help.
    static QString description();
};

QString stepName(CliOptions::Step::Kind kind);
