#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// One thing an operator (or the board, or the cable) does to the running program. Written as one
// line of text so that a failing history can be printed and kept as a named test.
struct SoakAction {
    QString verb;      // write read verify blank connect disconnect service position readdata writedata
                       // port address data file answers fault nofaults chunk stray lose wait
    QString argument;  // percent-encoded in the text form

    QString toText() const;
    static SoakAction fromText(const QString &line);
    bool operator==(const SoakAction &) const = default;
};

using SoakHistory = QList<SoakAction>;

// The file names a history may type into the file-name box; the run makes each kind.
namespace SoakFiles {
inline const QStringList Names = {
    QStringLiteral("image.bin"),   QStringLiteral("short.bin"),   QStringLiteral("empty.bin"),
    QStringLiteral("long.bin"),    QStringLiteral("missing.bin"), QStringLiteral("dir"),
    QStringLiteral("dir/"),        QStringLiteral("locked.bin"),  QStringLiteral("out.bin"),
    QStringLiteral("image.hex"),
};
}

// A random history of `length` actions, the same for the same seed.
SoakHistory randomHistory(quint64 seed, int length);
QString historyText(const SoakHistory &history);
SoakHistory historyFromText(const QString &text);
