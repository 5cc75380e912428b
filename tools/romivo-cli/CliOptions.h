// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "operations/ImageFormats.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// The command line of romivo-cli.
struct CliOptions {
    struct Step {
        enum class Kind { Write, Read, Verify, Blank, Compare };
        Kind kind;
        QString file;
    };

    QString port;       // the board's port, or the first of several
    QStringList ports;  // every board's port: --port repeated, or --port A,B
    QString simChip;
    QString trace;  // where every byte on the line is written down
    QStringList simFaults;
    double waitBoardSeconds = 5;
    double idleTimeoutSeconds = 5;
    bool quiet = false;
    bool anySize = false;  // a raw image of any size is padded or cut, as the window does
    bool noCheck = false;  // a write goes ahead without reading the chip first
    bool json = false;     // one JSON object per operation instead of a line
    int maxLines = 64;     // the most differing locations compare lists
    std::optional<ImageFormats::Format> format;  // every FILE's format, when not by its name
    bool listPorts = false;
    bool help = false;
    bool version = false;
    QString helpText;
    static constexpr double MaxSeconds = 86400;  // the longest --wait-board or --idle-timeout
    QList<Step> steps;

    // Nothing (with `error`) when the arguments do not make a command.
    static std::optional<CliOptions> parse(const QStringList &arguments, QString *error);
    // What the operations are and what the exit statuses mean, for --help.
    static QString description();
};

QString stepName(CliOptions::Step::Kind kind);
