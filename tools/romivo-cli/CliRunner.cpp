// SPDX-License-Identifier: GPL-3.0-or-later
#include "CliRunner.h"

#include "link/PortName.h"
#include "operations/FileReplacement.h"
#include "operations/ImageComparison.h"
#include "operations/ImageExport.h"
#include "operations/ImageFile.h"
#include "operations/Messages.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QTimer>
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

} // namespace

CliRunner::CliRunner(const CliOptions &options, QObject *parent)
    : QObject(parent),
      m_options(options),
      m_progress(m_session.state(), !options.quiet && ::isatty(STDERR_FILENO)),
      m_out(stdout),
      m_err(stderr)
{
    m_session.setProgressDisplay(&m_progress);
    m_session.dispatcher().setDsrHandling([this] {
        m_boardSeen = true;
        emit wakeUp();
    });
    connect(&m_session, &Session::finished, this, [this](OperationResult result) {
        m_result = result;
        emit wakeUp();
    });
    connect(&m_port, &SerialControl::portLost, this, [this](const QString &reason) {
        m_portLost = true;
        m_lostReason = reason;
        emit wakeUp();
    });
}

void CliRunner::interrupt()
{
    m_interrupted = true;
    m_endAddress = m_session.state().currentAddress;
    m_session.stop();
    emit wakeUp();
}

int CliRunner::run()
{
    const bool simulated = selectPort(m_options.port).kind == PortSelection::Kind::Simulated;
    if (!m_options.trace.isEmpty()) {
        // Unbuffered: what passed on the line is in the file even if the program is killed. A FIFO
        // could hold the open for ever; a terminal (/dev/stderr) is fine.
        m_trace.setFileName(m_options.trace);
        const bool pipe = ImageFile::isPipeOrSocket(m_options.trace);
        if (pipe || !m_trace.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
            m_err << "romivo-cli: cannot write the trace " << shownName(m_options.trace) << ": "
                  << (pipe ? QStringLiteral("not a regular file (a FIFO or socket)") : m_trace.errorString()) << Qt::endl;
            return Trouble;
        }
        m_port.setTrace(&m_trace);
    }
    if (simulated)
        m_err << "romivo-cli: SIM is the simulated board: no chip is programmed or read" << Qt::endl;
    if (simulated && !m_options.simChip.isEmpty()) {
        QFile chip(m_options.simChip);
        const std::optional<QString> notFile = notRegular(m_options.simChip);
        if (notFile || (chip.exists() && !chip.open(QIODevice::ReadOnly))) {
            m_err << "romivo-cli: cannot read the simulated chip " << shownName(m_options.simChip) << ": "
                  << notFile.value_or(chip.errorString()) << Qt::endl;
            return Trouble;
        }
        m_port.simulated().board().chip().load(chip.isOpen() ? chip.read(Chip::Size) : QByteArray());
    }
    if (simulated && !m_options.simFaults.isEmpty()) {
        BoardFaults faults;
        for (const QString &fault : m_options.simFaults)
            faults.apply(fault, nullptr);
        m_port.simulated().board().setFaults(faults);
    }
    // Every file is checked before anything is sent: a mistyped last file costs no write.
    if (!plan())
        return Trouble;
    int status = Success;
    QElapsedTimer waited;
    waited.start();
    if (!openBoard()) {
        status = m_interrupted ? Interrupted : Trouble;
        if (m_portLost && !m_interrupted) {
            m_err << "romivo-cli: " << Messages::text(MessageId::PortLost, {shownName(m_options.port.trimmed()), m_lostReason, 0}).replace(u'\n', QStringLiteral("; ")) << Qt::endl;
            status = Failure;
        }
        // Interrupted before the board was seen: said as any interrupted operation is.
        if (m_interrupted) {
            StepReport report;
            report.operation = QStringLiteral("wait");
            report.outcome = QStringLiteral("interrupted");
            report.seconds = waited.elapsed() / 1000.0;
            if (!print(report))
                status = Trouble;
        }
    } else {
        for (Planned &planned : m_plan) {
            StepReport report;
            report.operation = stepName(planned.step.kind);
            QElapsedTimer clock;
            clock.start();
            status = runStep(planned, report);
            if (m_interrupted)
                status = Interrupted;
            report.seconds = clock.elapsed() / 1000.0;
            // Results that cannot be written are no results: the run stops there.
            if (!report.outcome.isEmpty() && !print(report))
                status = Trouble;
            if (status != Success)
                break;
        }
    }
    // Whatever the last step sent is on its way to the board before the program ends, and a
    // write left half-way has been given up, so that the next program finds the board taking
    // commands.
    if (const qint64 ms = m_session.msUntilWriteGivenUp(); ms > 0) {
        QEventLoop settle;
        QTimer::singleShot(int(ms), &settle, &QEventLoop::quit);
        settle.exec();
    }
    m_port.close();
    if (simulated && !m_options.simChip.isEmpty() && !saveSimulatedChip() && status == Success)
        status = Trouble;
    return status;
}

bool CliRunner::openBoard()
{
    m_port.setCommPort(m_options.port);
    if (!m_port.open()) {
        const LinkError error = m_port.lastError();
        m_err << "romivo-cli: cannot open the port " << shownName(error.port.isEmpty() ? m_options.port : error.port) << ": "
              << error.reason;
        // Refused access is most often a user outside the group that owns serial devices.
        if (error.kind == LinkError::Kind::AccessDenied)
            m_err << "; unless another program holds it, join the group that owns it (on Linux: "
                     "sudo usermod -aG dialout $USER, then log in again)";
        m_err << Qt::endl;
        return false;
    }
    QEventLoop loop;
    connect(this, &CliRunner::wakeUp, &loop, &QEventLoop::quit);
    QTimer::singleShot(int(m_options.waitBoardSeconds * 1000), &loop, &QEventLoop::quit);
    if (!m_boardSeen && !m_interrupted && !m_portLost)
        loop.exec();
    if (m_interrupted || m_portLost)
        return false;
    if (!m_boardSeen) {
        m_err << "romivo-cli: no board seen on " << shownName(m_options.port) << " (no DSR change in "
              << m_options.waitBoardSeconds << " s)" << Qt::endl;
        return false;
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
    const QString cannot = FileReplacement::check(path, ImageExport::encodedSize(readFormat(path), path));
    if (!cannot.isEmpty())
        refuseFile(path, QStringLiteral("cannot be written: ") + cannot);
    return cannot.isEmpty();
}

bool CliRunner::plan()
{
    QHash<QString, QByteArray> decoded;  // each file once
    QHash<QString, int> readInto;        // files an earlier read will have replaced by the chip
    for (const CliOptions::Step &step : std::as_const(m_options.steps)) {
        Planned planned{step, {}, -1};
        const QString key = QFileInfo(step.file).absoluteFilePath();
        if (step.kind != CliOptions::Step::Kind::Blank && ImageFile::namesNoFile(step.file)) {
            refuseFile(step.file, QStringLiteral("names no file (") + Messages::text(MessageId::NoFileSelected) + u')');
            return false;
        }
        if (step.kind == CliOptions::Step::Kind::Read) {
            if (!targetReplaceable(step.file))
                return false;
            readInto.insert(key, int(m_plan.size()));
        } else if (step.kind != CliOptions::Step::Kind::Blank) {
            planned.fromRead = readInto.value(key, -1);
            if (planned.fromRead < 0 && !decoded.contains(key)) {
                QByteArray image;
                if (!loadImage(step.file, &image))
                    return false;
                decoded.insert(key, image);
            }
            planned.image = decoded.value(key);
        }
        m_plan.append(planned);
    }
    return true;
}

int CliRunner::runStep(Planned &planned, StepReport &report)
{
    using Kind = CliOptions::Step::Kind;
    if (planned.fromRead >= 0)  // the file holds what that read took from the chip
        planned.image = m_plan.at(planned.fromRead).image;
    switch (planned.step.kind) {
    case Kind::Write:
        return write(planned.image, report);
    case Kind::Read:
        return read(planned.step.file, report, &planned.image);
    case Kind::Verify:
    case Kind::Blank:
        return check(planned.step, planned.image, report);
    case Kind::Compare:
        return compare(planned.image, report);
    }
    return Trouble;
}

int CliRunner::write(const QByteArray &image, StepReport &report)
{
    if (!m_options.noCheck) {
        // An EPROM bit only goes from 1 to 0: a location that would need a 0 made 1 cannot take
        // the image, and writing the rest would only spoil an erase cycle.
        QByteArray chip;
        const Ended ended = readChip(QStringLiteral("check"), &chip);
        if (ended != Ended::Result) {
            const int status = endedEarly(ended, report);
            report.detail += QStringLiteral(" in the check before writing; nothing was written");
            return status;
        }
        const ImageComparison comparison = ImageComparison::of(chip, image);
        if (comparison.equal()) {
            report.outcome = QStringLiteral("unchanged");
            report.detail = QStringLiteral(", the chip already holds the image (not written again)");
            report.checksummed = image;
            return Success;
        }
        if (comparison.lockedLocations > 0) {
            const int at = comparison.firstLocked;
            report.outcome = QStringLiteral("refused");
            report.location = at;
            report.chipByte = quint8(chip.at(at));
            report.fileByte = quint8(image.at(at));
            report.detail = QStringLiteral(", %1 of the chip's locations cannot take the image (a bit would have to go "
                                           "from 0 to 1), the first %2 (chip %3, image %4); nothing was written")
                                .arg(comparison.lockedLocations)
                                .arg(hexNumber(at, 4), hexNumber(*report.chipByte, 2), hexNumber(*report.fileByte, 2));
            return Failure;
        }
    }
    const Ended ended = perform(QStringLiteral("write"), [this, &image] { m_session.write().write(image); });
    if (ended != Ended::Result) {
        const int status = endedEarly(ended, report);
        // The board has programmed the blocks it took: the chip no longer holds what it did.
        if (ended == Ended::Interrupted || ended == Ended::PortLost)
            report.detail += QStringLiteral("; the chip is partly written");
        return status;
    }
    report.windowText = windowText();
    if (m_result->outcome == Outcome::Written) {
        report.outcome = QStringLiteral("ok");
        report.checksummed = image;
        return Success;
    }
    if (m_result->outcome != Outcome::WriteFailed)
        return endedEarly(Ended::Failed, report);
    report.outcome = QStringLiteral("failed");
    report.detail = QStringLiteral(", the board did not take every block");
    return Failure;
}

int CliRunner::read(const QString &path, StepReport &report, QByteArray *chipRead)
{
    QByteArray chip;
    const Ended ended = readChip(QStringLiteral("read"), &chip);
    if (ended != Ended::Result) {
        const int status = endedEarly(ended, report);
        if (ended == Ended::Interrupted)
            report.detail = QStringLiteral(" after %1 bytes").arg(m_endAddress);
        report.detail += QStringLiteral("; %1 was not replaced").arg(shownName(path));
        return status;
    }
    const FileReplacement::Result replaced = FileReplacement::replace(path, ImageExport::encode(chip, readFormat(path), path));
    if (!replaced.error.isEmpty())
        return refuseFile(path, replaced.error + (replaced.untouched ? QStringLiteral("; not replaced") : QStringLiteral("; written only in part")));
    report.outcome = QStringLiteral("ok");
    report.windowText = windowText();
    report.checksummed = chip;
    *chipRead = chip;
    return Success;
}

int CliRunner::check(const CliOptions::Step &step, const QByteArray &image, StepReport &report)
{
    const bool verify = step.kind == CliOptions::Step::Kind::Verify;
    const Ended ended = perform(report.operation, [this, verify, &image] {
        if (verify)
            m_session.check().verify(image);
        else
            m_session.check().blankCheck();
    });
    if (ended != Ended::Result)
        return endedEarly(ended, report);
    report.windowText = windowText();
    if (m_result->outcome == Outcome::Verified || m_result->outcome == Outcome::Blank) {
        report.outcome = QStringLiteral("ok");
        if (verify)
            report.checksummed = image;
        return Success;
    }
    if (m_result->outcome != Outcome::Differs && m_result->outcome != Outcome::NotBlank)
        return endedEarly(Ended::Failed, report);
    const int at = m_result->location;
    report.outcome = verify ? QStringLiteral("differs") : QStringLiteral("not-blank");
    report.location = at;
    report.chipByte = m_result->chipByte;
    report.detail = QStringLiteral(" at %1 (chip %2").arg(hexNumber(at, 4), hexNumber(m_result->chipByte, 2));
    if (verify) {
        report.fileByte = quint8(image.at(at));
        report.detail += QStringLiteral(", file ") + hexNumber(*report.fileByte, 2);
    }
    report.detail += u')';
    return Failure;
}

int CliRunner::compare(const QByteArray &image, StepReport &report)
{
    QByteArray chip;
    const Ended ended = readChip(QStringLiteral("compare"), &chip);
    if (ended != Ended::Result)
        return endedEarly(ended, report);
    const ImageComparison comparison = ImageComparison::of(chip, image);
    if (comparison.equal()) {
        report.outcome = QStringLiteral("equal");
        report.checksummed = chip;
        return Success;
    }
    QJsonArray listed;
    const qsizetype shown = qMin<qsizetype>(comparison.differences.size(), m_options.maxLines);
    for (qsizetype i = 0; i < shown; ++i) {
        const ImageComparison::Difference &d = comparison.differences.at(i);
        if (m_options.json)
            listed.append(QJsonObject{{QStringLiteral("location"), d.location}, {QStringLiteral("chip"), d.chip},
                                      {QStringLiteral("file"), d.image}});
        else
            m_out << hexNumber(d.location, 4) << ": chip " << hexNumber(d.chip, 2) << ", file " << hexNumber(d.image, 2) << '\n';
    }
    if (!m_options.json && shown < comparison.differences.size())
        m_out << "... and " << comparison.differences.size() - shown << " more\n";
    const ImageComparison::Difference &first = comparison.differences.constFirst();
    report.outcome = QStringLiteral("differs");
    report.location = first.location;
    report.chipByte = first.chip;
    report.fileByte = first.image;
    report.detail = QStringLiteral(", %1 locations; %2 bits read 0 where the file has 1 (only an erase makes them 1), "
                                   "%3 bits read 1 where the file has 0 (a write can still program them); "
                                   "differing bits %4")
                        .arg(comparison.differences.size())
                        .arg(comparison.bitsToErase)
                        .arg(comparison.bitsToProgram)
                        .arg(hexNumber(comparison.differingBits, 2));
    report.extra = {{QStringLiteral("differences"), comparison.differences.size()},
                    {QStringLiteral("bits_to_erase"), comparison.bitsToErase},
                    {QStringLiteral("bits_to_program"), comparison.bitsToProgram},
                    {QStringLiteral("differing_bits"), comparison.differingBits},
                    {QStringLiteral("listed"), listed}};
    return Failure;
}

CliRunner::Ended CliRunner::readChip(const QString &label, QByteArray *chip)
{
    QBuffer buffer(chip);
    buffer.open(QIODevice::WriteOnly);
    const Ended ended = perform(label, [this, &buffer] { m_session.read().read(buffer); });
    if (ended != Ended::Result)
        return ended;
    return m_result->outcome == Outcome::ReadDone && chip->size() == Chip::Size ? Ended::Result : Ended::Failed;
}

CliRunner::Ended CliRunner::perform(const QString &label, const std::function<void()> &start)
{
    m_progress.begin(label);
    m_result.reset();
    start();
    // Sleeps until the operation announces its end, the port goes, an interrupt comes, or the
    // stream brings nothing for the idle time-out (checked a few times a second).
    QEventLoop loop;
    const auto connection = connect(this, &CliRunner::wakeUp, &loop, &QEventLoop::quit);
    QTimer watchdog;
    const qint64 idleMs = qint64(m_options.idleTimeoutSeconds * 1000);
    watchdog.setInterval(int(qBound(qint64(10), idleMs / 5, qint64(250))));
    QElapsedTimer quiet;
    quiet.start();
    int lastAddress = m_session.state().currentAddress;
    bool stalled = false;
    connect(&watchdog, &QTimer::timeout, &loop, [&] {
        if (m_session.state().currentAddress != lastAddress) {
            lastAddress = m_session.state().currentAddress;
            quiet.restart();
        } else if (quiet.elapsed() >= idleMs) {
            stalled = true;
            loop.quit();
        }
    });
    watchdog.start();
    if (!m_result && !m_interrupted && !m_portLost)
        loop.exec();
    disconnect(connection);
    if (m_portLost || (stalled && !m_result)) {
        m_endAddress = m_session.state().currentAddress;
        m_session.stop();
        m_progress.finish();
        return m_portLost ? Ended::PortLost : Ended::Stalled;
    }
    if (m_interrupted)
        return Ended::Interrupted;
    return Ended::Result;
}

QString CliRunner::windowText() const
{
    const std::optional<MessageId> id = m_result ? Messages::forOutcome(m_result->outcome) : std::nullopt;
    return id ? Messages::text(*id, {{}, m_result->reason, m_result->location}) : QString();
}

int CliRunner::endedEarly(Ended ended, StepReport &report)
{
    switch (ended) {
    case Ended::Stalled:
        report.outcome = QStringLiteral("stalled");
        report.location = m_endAddress;
        report.detail = QStringLiteral(" at ") + hexNumber(m_endAddress, 4);
        report.windowText = Messages::text(MessageId::Stalled, {{}, {}, m_endAddress});
        return Failure;
    case Ended::PortLost:
        report.outcome = QStringLiteral("port-lost");
        report.windowText = Messages::text(MessageId::PortLost, {m_options.port.trimmed(), m_lostReason, 0});
        return Failure;
    case Ended::Failed:
        // Ended without the bytes it was for.
        report.outcome = QStringLiteral("failed");
        report.windowText = windowText();
        return Failure;
    case Ended::Interrupted:
    case Ended::Result:
        break;
    }
    report.outcome = QStringLiteral("interrupted");
    report.location = m_endAddress;
    report.detail = QStringLiteral(" at ") + hexNumber(m_endAddress, 4);
    return Interrupted;
}

bool CliRunner::print(const StepReport &report)
{
    m_progress.complete();
    if (m_options.json)
        m_out << report.json() << Qt::endl;
    else
        m_out << report.line() << Qt::endl;
    if (m_out.status() == QTextStream::Ok)
        return true;
    m_err << "romivo-cli: cannot write to standard output: " << m_out.device()->errorString() << Qt::endl;
    return false;
}

bool CliRunner::saveSimulatedChip()
{
    // Whole or not at all: a chip file cut short would be a different chip next time.
    const FileReplacement::Result saved = FileReplacement::replace(m_options.simChip, m_port.simulated().board().chip().contents());
    if (saved.error.isEmpty())
        return true;
    m_err << "romivo-cli: cannot save the simulated chip to " << shownName(m_options.simChip) << ": " << saved.error << Qt::endl;
    return false;
}
