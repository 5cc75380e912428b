// SPDX-License-Identifier: GPL-3.0-or-later
#include "CliRunner.h"

#include "link/PortName.h"
#include "operations/FileReplacement.h"
#include "operations/ImageExport.h"
#include "operations/ImageFile.h"
#include "operations/Messages.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <algorithm>
#include <qplatformdefs.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Why an existing path is not a file to take bytes from (opening a FIFO waits for a writer that
// may never come; a device's bytes are no image), or nothing.
std::optional<QString> notRegular(const QString &path)
{
    if (ImageFile::isPipeOrSocket(path))
        return QStringLiteral("not a regular file (a FIFO or socket)");
    if (QFileInfo::exists(path) && !QFileInfo(path).isFile())
        return QStringLiteral("not a regular file (a device)");
    return std::nullopt;
}

// One key for every name of a file: its device and inode where it exists (links followed by the
// kernel), else its absolute path.
QString fileIdentity(const QString &path)
{
    QT_STATBUF info;
    if (QT_STAT(QFile::encodeName(path).constData(), &info) == 0)
        return QStringLiteral("inode %1:%2").arg(info.st_dev).arg(info.st_ino);
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// The board a port name leads to, once the kernel has followed its links: two names for one board
// would have two sessions write to it at once. Empty for the simulated board: each is its own.
QString portIdentity(const QString &port)
{
    const PortSelection selection = selectPort(port);
    if (selection.kind != PortSelection::Kind::Serial)
        return {};
    QString path = selection.systemName;
    // A bare name is one in /dev, as the serial layer takes it.
    if (!path.startsWith(u'/') && !path.startsWith(QLatin1String("./")) && !path.startsWith(QLatin1String("../")))
        path.prepend(QLatin1String("/dev/"));
    QT_STATBUF info;
    if (QT_STAT(QFile::encodeName(path).constData(), &info) == 0 && S_ISCHR(info.st_mode))
        return QStringLiteral("device %1").arg(info.st_rdev);
    return fileIdentity(path);
}

bool namesEachBoard(const QString &name)
{
    return name.contains(QLatin1String("{n}")) || name.contains(QLatin1String("{port}"));
}

} // namespace

CliRunner::CliRunner(const CliOptions &options, QObject *parent)
    : QObject(parent), m_options(options), m_out(stdout), m_err(stderr)
{
    // A few redraws a second: one line for every board.
    m_progress.setInterval(250);
    connect(&m_progress, &QTimer::timeout, this, &CliRunner::drawProgress);
}

void CliRunner::interrupt()
{
    m_interrupted = true;
    for (BoardRun *board : std::as_const(m_boards))
        board->interrupt();
}

int CliRunner::run()
{
    if (several() && !m_options.trace.isEmpty() && !namesEachBoard(m_options.trace)) {
        refuseFile(m_options.trace, QStringLiteral("a trace for several boards needs {port} or {n} in its name"));
        return Trouble;
    }
    if (!distinctBoards())
        return Trouble;
    // Every file is checked before anything is sent or written: a mistyped last file costs no
    // write, and a trace is begun only once it cannot take the place of a file the run needs.
    if (!plan() || !planTraces())
        return Trouble;
    const bool progressLine = !m_options.quiet && ::isatty(STDERR_FILENO);
    QEventLoop loop;
    for (qsizetype i = 0; i < m_options.ports.size(); ++i) {
        auto *board = new BoardRun(m_options, m_options.ports.at(i), forBoard(m_options.trace, int(i)), *this,
                                   progressLine && !several(), this);
        m_boards.append(board);
        connect(board, &BoardRun::finished, &loop, [this, &loop] {
            if (std::all_of(m_boards.cbegin(), m_boards.cend(), [](const BoardRun *b) { return b->done(); }))
                loop.quit();
        });
        if (!board->prepare())
            return Trouble;
        board->setPlan(m_plans.at(i));
    }
    for (BoardRun *board : std::as_const(m_boards)) {
        if (!board->openTrace())
            return Trouble;
    }
    if (progressLine && several())
        m_progress.start();
    for (BoardRun *board : std::as_const(m_boards))
        board->start();
    if (m_interrupted)
        interrupt();
    if (!std::all_of(m_boards.cbegin(), m_boards.cend(), [](const BoardRun *b) { return b->done(); }))
        loop.exec();
    m_progress.stop();
    clearProgress();
    if (!several())
        return m_boards.constFirst()->status();

    // The batch's status: 2 if a board could not be used at all (or its results not written),
    // else 130 if interrupted, else 1 if any board failed.
    const auto any = [this](int status) {
        return std::any_of(m_boards.cbegin(), m_boards.cend(), [status](const BoardRun *b) { return b->status() == status; });
    };
    int status = any(Trouble) ? Trouble : any(Interrupted) ? Interrupted : any(Failure) ? Failure : Success;
    if (!summary())
        status = Trouble;
    return status;
}

QString CliRunner::forBoard(const QString &name, int index) const
{
    if (!several())
        return name;
    QString port = QFileInfo(m_options.ports.at(index)).fileName();
    return QString(name).replace(QLatin1String("{n}"), QString::number(index + 1)).replace(QLatin1String("{port}"), port);
}

bool CliRunner::distinctBoards()
{
    QHash<QString, QString> named;  // a board's identity, and the first name given for it
    for (const QString &port : std::as_const(m_options.ports)) {
        const QString identity = portIdentity(port);
        if (identity.isEmpty())
            continue;
        if (named.contains(identity)) {
            refuseFile(port, QStringLiteral("names the same port as ") + shownName(named.value(identity)));
            return false;
        }
        named.insert(identity, port);
    }
    return true;
}

bool CliRunner::planTraces()
{
    if (m_options.trace.isEmpty())
        return true;
    QSet<QString> runFiles;  // every file the run reads or writes
    for (const QList<Planned> &plan : std::as_const(m_plans)) {
        for (const Planned &planned : plan) {
            if (planned.step.kind != CliOptions::Step::Kind::Blank)
                runFiles.insert(fileIdentity(planned.step.file));
        }
    }
    if (!m_options.simChip.isEmpty())
        runFiles.insert(fileIdentity(m_options.simChip));
    QSet<QString> traces;
    for (qsizetype board = 0; board < m_options.ports.size(); ++board) {
        const QString trace = forBoard(m_options.trace, int(board));
        const QString identity = fileIdentity(trace);
        if (runFiles.contains(identity)) {
            refuseFile(trace, QStringLiteral("a trace cannot take the place of a file the run reads or writes"));
            return false;
        }
        if (traces.contains(identity)) {
            refuseFile(trace, QStringLiteral("the trace of more than one board"));
            return false;
        }
        traces.insert(identity);
    }
    return true;
}

bool CliRunner::plan()
{
    QHash<QString, QByteArray> decoded;  // each file once, for every board
    QSet<QString> targets;               // no two boards read into one file
    for (qsizetype board = 0; board < m_options.ports.size(); ++board) {
        QList<Planned> plan;
        QHash<QString, int> readInto;  // files an earlier read will have replaced by the chip
        for (const CliOptions::Step &step : std::as_const(m_options.steps)) {
            Planned planned{step, {}, -1};
            planned.step.file = forBoard(step.file, int(board));
            const QString &file = planned.step.file;
            const QString key = fileIdentity(file);
            if (step.kind != CliOptions::Step::Kind::Blank && ImageFile::namesNoFile(file)) {
                refuseFile(file, QStringLiteral("names no file (") + Messages::text(MessageId::NoFileSelected) + u')');
                return false;
            }
            if (step.kind == CliOptions::Step::Kind::Read) {
                // One chip a file: several boards need one name each.
                if (several() && !namesEachBoard(step.file)) {
                    refuseFile(step.file, QStringLiteral("a read on several boards needs {port} or {n} in the file name, one target for each board"));
                    return false;
                }
                if (!readInto.contains(key) && targets.contains(key)) {
                    refuseFile(file, QStringLiteral("the target of more than one board"));
                    return false;
                }
                if (!targetReplaceable(file))
                    return false;
                targets.insert(key);
                readInto.insert(key, int(plan.size()));
            } else if (step.kind != CliOptions::Step::Kind::Blank) {
                planned.fromRead = readInto.value(key, -1);
                if (planned.fromRead < 0 && !decoded.contains(key)) {
                    QByteArray image;
                    if (!loadImage(file, &image))
                        return false;
                    decoded.insert(key, image);
                }
                planned.image = decoded.value(key);
            }
            plan.append(planned);
        }
        m_plans.append(plan);
    }
    return true;
}

int CliRunner::refuseFile(const QString &path, const QString &reason)
{
    m_err << "romivo-cli: " << shownName(path) << ": " << reason << Qt::endl;
    return Trouble;
}

bool CliRunner::loadImage(const QString &path, QByteArray *image)
{
    const auto refuse = [this, &path](const QString &reason) {
        refuseFile(path, reason);
        return false;
    };
    // Only a regular file is an image, even with --any-size: /dev/zero would program a chip of zeros.
    if (const std::optional<QString> notFile = notRegular(path))
        return refuse(*notFile);
    QFile file(path);
    if (!QFileInfo::exists(path) || !file.open(QIODevice::ReadOnly))
        return refuse(QFileInfo::exists(path) ? file.errorString() : QStringLiteral("No such file or directory"));
    const ImageFormats::Format format = m_options.format.value_or(ImageFormats::formatOf(path));
    // A raw image of another size is most often the wrong file, one made for another chip, or
    // HEX or S-record text under another name (which --any-size would program as text).
    if (format == ImageFormats::Format::Raw && file.size() != Chip::Size && !m_options.anySize) {
        const QString size = QStringLiteral("%1 bytes, not the chip's 32768").arg(file.size());
        switch (ImageFormats::textFormatOf(file.peek(64)).value_or(ImageFormats::Format::Raw)) {
        case ImageFormats::Format::IntelHex:
            return refuse(size + QStringLiteral("; it begins like Intel HEX, which --format ihex reads"));
        case ImageFormats::Format::SRecord:
            return refuse(size + QStringLiteral("; it begins like an S-record file, which --format srec reads"));
        case ImageFormats::Format::Raw:
            return refuse(size + QStringLiteral(" (--any-size takes it as the window does)"));
        }
    }
    const ImageFormats::Parsed parsed = ImageFormats::decode(file, format);
    if (!parsed.ok())
        return refuse(parsed.error);
    *image = parsed.image;
    return true;
}

bool CliRunner::targetReplaceable(const QString &path)
{
    // A device or a FIFO is not replaced by a file: a regular file is what a read makes.
    if (ImageFile::isPipeOrSocket(path) || (QFileInfo::exists(path) && !QFileInfo(path).isFile())) {
        refuseFile(path, QStringLiteral("not a regular file"));
        return false;
    }
    // Put in place only once whole, so an interrupted read leaves the target as it was; what that
    // needs is tried first, so that a target which cannot take it costs no read of the chip.
    const ImageFormats::Format format = m_options.format.value_or(ImageFormats::formatOf(path));
    const QString cannot = FileReplacement::check(path, ImageExport::encodedSize(format, path));
    if (!cannot.isEmpty())
        refuseFile(path, QStringLiteral("cannot be written: ") + cannot);
    return cannot.isEmpty();
}

bool CliRunner::write(const QString &text)
{
    clearProgress();
    m_out << text << Qt::endl;
    if (m_out.status() == QTextStream::Ok)
        return true;
    m_err << "romivo-cli: cannot write to standard output: " << m_out.device()->errorString() << Qt::endl;
    return false;
}

bool CliRunner::result(BoardRun &board, const StepReport &report)
{
    if (!several())
        return write(m_options.json ? QString::fromUtf8(report.json()) : report.line());
    if (m_options.json) {
        StepReport withPort = report;
        withPort.extra.insert(QStringLiteral("port"), board.port());
        return write(QString::fromUtf8(withPort.json()));
    }
    return write(shownName(board.port()) + QStringLiteral(": ") + report.line());
}

bool CliRunner::listing(BoardRun &board, const QString &line)
{
    return write(several() ? shownName(board.port()) + QStringLiteral(": ") + line : line);
}

bool CliRunner::summary()
{
    QStringList failed;
    for (const BoardRun *board : std::as_const(m_boards)) {
        if (board->status() != Success)
            failed << shownName(board->port());
    }
    const qsizetype succeeded = m_boards.size() - failed.size();
    if (m_options.json) {
        QJsonObject object{{QStringLiteral("operation"), QStringLiteral("batch")},
                           {QStringLiteral("boards"), m_boards.size()},
                           {QStringLiteral("succeeded"), succeeded},
                           {QStringLiteral("failed"), QJsonArray::fromStringList(failed)}};
        return write(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
    }
    QString text = QStringLiteral("batch: %1 of %2 boards succeeded").arg(succeeded).arg(m_boards.size());
    if (!failed.isEmpty())
        text += QStringLiteral("; not: ") + failed.join(QStringLiteral(", "));
    return write(text);
}

void CliRunner::drawProgress()
{
    // A compact line for every board: its port's last name part, operation and share done.
    QStringList parts;
    for (BoardRun *board : std::as_const(m_boards)) {
        const QString name = QFileInfo(board->port()).fileName();
        if (board->done())
            parts << name + (board->status() == Success ? QStringLiteral(" done") : QStringLiteral(" ended"));
        else if (board->operation().isEmpty())
            parts << name + QStringLiteral(" waiting");
        else
            parts << QStringLiteral("%1 %2 %3%").arg(name, board->operation()).arg(qBound(0, board->location(), Chip::Size) * 100 / Chip::Size);
    }
    std::fputs(qPrintable(QStringLiteral("\r\x1b[K") + parts.join(QStringLiteral("  "))), stderr);
    std::fflush(stderr);
    m_progressDrawn = true;
}

void CliRunner::clearProgress()
{
    if (!m_progressDrawn)
        return;
    std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
    m_progressDrawn = false;
}
