#include "SoakHistory.h"

#include <QRandomGenerator>
#include <QUrl>

QString SoakAction::toText() const
{
    return argument.isEmpty() ? verb : verb + u' ' + QString::fromLatin1(QUrl::toPercentEncoding(argument));
}

SoakAction SoakAction::fromText(const QString &line)
{
    const qsizetype space = line.indexOf(u' ');
    if (space < 0)
        return {line.trimmed(), {}};
    return {line.left(space), QUrl::fromPercentEncoding(line.mid(space + 1).trimmed().toLatin1())};
}

QString historyText(const SoakHistory &history)
{
    QStringList lines;
    for (const SoakAction &action : history)
        lines << action.toText();
    return lines.join(u'\n');
}

SoakHistory historyFromText(const QString &text)
{
    SoakHistory history;
    for (const QString &line : text.split(u'\n', Qt::SkipEmptyParts))
        history << SoakAction::fromText(line.trimmed());
    return history;
}

namespace {

// Texts an operator might type, the awkward ones over-represented.
QString typedText(QRandomGenerator &random, const QStringList &usual)
{
    switch (random.bounded(8)) {
    case 0: return {};
    case 1: return QString(int(random.bounded(1, 5000)), u'9');
    case 2: return QStringLiteral("-") + QString::number(random.bounded(1, 100000));
    case 3: return QStringLiteral("àé€ 漢字 \u0001\t");
    case 4: return QString::number(random.bounded(-300, 70000)) + QStringLiteral(".5");
    case 5: return QStringLiteral("abc");
    default: return usual.at(int(random.bounded(usual.size())));
    }
}

QString randomFault(QRandomGenerator &random)
{
    const QString block = QString::number(random.bounded(64));
    switch (random.bounded(10)) {
    case 0: return QStringLiteral("no-dsr");
    case 1: return QStringLiteral("silent-after-block=") + block;
    case 2: return QStringLiteral("0x62-during-block=") + block;
    case 3: return QStringLiteral("0x63-during-block=") + block;
    case 4: return QStringLiteral("0x62-for-ack=") + block;
    case 5: return QStringLiteral("0x63-for-ack=") + block;
    case 6: return QStringLiteral("short-stream=") + QString::number(random.bounded(0, 32768));
    case 7: return QStringLiteral("long-stream=") + QString::number(random.bounded(1, 5000));
    case 8: return random.bounded(2) ? QStringLiteral("stray=0d") : QStringLiteral("stray=0d62ff");
    default: return QStringLiteral("stuck=%1:%2").arg(random.bounded(32768)).arg(random.bounded(1, 256));
    }
}

} // namespace

SoakHistory randomHistory(quint64 seed, int length)
{
    QRandomGenerator random(seed);
    SoakHistory history;
    // Most histories begin connected, or little would run.
    if (random.bounded(4) != 0)
        history << SoakAction{QStringLiteral("port"), QStringLiteral("SIM")} << SoakAction{QStringLiteral("connect"), {}};
    while (history.size() < length) {
        const int pick = int(random.bounded(100));
        SoakAction action;
        if (pick < 10) action = {QStringLiteral("write"), {}};
        else if (pick < 18) action = {QStringLiteral("read"), {}};
        else if (pick < 26) action = {QStringLiteral("verify"), {}};
        else if (pick < 32) action = {QStringLiteral("blank"), {}};
        else if (pick < 36) action = {QStringLiteral("connect"), {}};
        else if (pick < 39) action = {QStringLiteral("disconnect"), {}};
        else if (pick < 42) action = {QStringLiteral("service"), {}};
        else if (pick < 45) action = {QStringLiteral("position"), {}};
        else if (pick < 48) action = {QStringLiteral("readdata"), {}};
        else if (pick < 51) action = {QStringLiteral("writedata"), {}};
        else if (pick < 55)
            action = {QStringLiteral("port"),
                      typedText(random, {QStringLiteral("SIM"), QStringLiteral(" sim "), QStringLiteral("0"),
                                         QStringLiteral("/nonexistent/tty"), QStringLiteral("/dev/null")})};
        else if (pick < 58)
            action = {QStringLiteral("address"), typedText(random, {QStringLiteral("300"), QStringLiteral("32767"),
                                                                    QStringLiteral("-255"), QStringLiteral("65535")})};
        else if (pick < 61)
            action = {QStringLiteral("data"), typedText(random, {QStringLiteral("0"), QStringLiteral("255"),
                                                                 QStringLiteral("2.5"), QStringLiteral("256")})};
        else if (pick < 70)
            action = {QStringLiteral("file"), random.bounded(10) == 0
                                                  ? typedText(random, {QStringLiteral("rel name.bin")})
                                                  : SoakFiles::Names.at(int(random.bounded(SoakFiles::Names.size())))};
        else if (pick < 75) {
            QString bits;
            for (int i = int(random.bounded(1, 4)); i > 0; --i)
                bits += random.bounded(3) == 0 ? u'0' : u'1';
            action = {QStringLiteral("answers"), bits};
        } else if (pick < 83) {
            action = {QStringLiteral("fault"), randomFault(random)};
        } else if (pick < 86) action = {QStringLiteral("nofaults"), {}};
        else if (pick < 89) action = {QStringLiteral("chunk"), QString::number(random.bounded(2) ? 1 << random.bounded(13) : random.bounded(1, 5000))};
        else if (pick < 91) action = {QStringLiteral("stray"), QStringLiteral("0d")};
        else if (pick < 93) action = {QStringLiteral("lose"), {}};
        else action = {QStringLiteral("wait"), QString::number(random.bounded(0, 400))};
        history << action;
    }
    return history;
}
