// SPDX-License-Identifier: GPL-3.0-or-later
#include "BoardRun.h"

#include "link/PortName.h"
#include "operations/FileReplacement.h"
#include "operations/ImageComparison.h"
#include "operations/ImageExport.h"
#include "operations/ImageFile.h"
#include "operations/Messages.h"

#include <QFileInfo>
#include <QJsonArray>
#include <unistd.h>

BoardRun::BoardRun(const CliOptions &options, const QString &port, const QString &trace, RunOutput &output,
                   bool progressLine, QObject *parent)
    : QObject(parent),
      m_options(options),
      m_portName(port),
      m_traceName(trace),
      m_output(output),
      m_progress(m_session.state(), progressLine),
      m_err(stderr)
{
    m_session.setProgressDisplay(&m_progress);
    const auto wake = [this] { QMetaObject::invokeMethod(this, &BoardRun::wake, Qt::QueuedConnection); };
    m_session.dispatcher().setDsrHandling([this, wake] {
        m_boardSeen = true;
        wake();
    });
    connect(&m_session, &Session::finished, this, [this, wake](OperationResult result) {
        m_result = result;
        wake();
    });
    connect(&m_port, &SerialControl::portLost, this, [this, wake](const QString &reason) {
        m_portLost = true;
        m_lostReason = reason;
        wake();
    });
    m_boardWait.setSingleShot(true);
    connect(&m_boardWait, &QTimer::timeout, this, [this] {
        m_err << "romivo-cli: no board seen on " << shownName(m_portName) << " (no DSR change in "
              << m_options.waitBoardSeconds << " s)" << Qt::endl;
        end(Trouble);
    });
    connect(&m_watchdog, &QTimer::timeout, this, [this, wake] {
        // The wait for a quiet line before the operation begins is not a stall; a line that never
        // goes quiet is given up once the board could have stopped and then been idle as long.
        const qint64 idleMs = qint64(m_options.idleTimeoutSeconds * 1000);
        if (m_session.waitingForQuietLine()) {
            m_waitedForQuiet = true;
            if (m_quiet.elapsed() >= idleMs + StreamStart::AfterOpenMs + StreamStart::RestopMs) {
                m_stalled = true;
                wake();
            }
            return;
        }
        if (std::exchange(m_waitedForQuiet, false))
            m_quiet.restart();
        if (m_session.state().currentAddress != m_lastAddress) {
            m_lastAddress = m_session.state().currentAddress;
            m_quiet.restart();
        } else if (m_quiet.elapsed() >= idleMs) {
            m_stalled = true;
            wake();
        }
    });
}

void BoardRun::interrupt()
{
    if (m_done)
        return;
    m_interrupted = true;
    m_endAddress = m_session.state().currentAddress;
    m_session.stop();
    QMetaObject::invokeMethod(this, &BoardRun::wake, Qt::QueuedConnection);
}

bool BoardRun::openTrace()
{
    if (m_traceName.isEmpty())
        return true;
    // Unbuffered: what passed on the line is in the file even if the program is killed. A FIFO
    // could hold the open for ever; a terminal (/dev/stderr) is fine.
    m_trace.setFileName(m_traceName);
    const bool pipe = ImageFile::isPipeOrSocket(m_traceName);
    if (pipe || !m_trace.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        m_err << "romivo-cli: cannot write the trace " << shownName(m_traceName) << ": "
              << (pipe ? QStringLiteral("not a regular file (a FIFO or socket)") : m_trace.errorString()) << Qt::endl;
        return false;
    }
    m_port.setTrace(&m_trace);
    return true;
}

bool BoardRun::prepare()
{
    const bool simulated = selectPort(m_portName).kind == PortSelection::Kind::Simulated;
    if (simulated)
        m_err << "romivo-cli: SIM is the simulated board: no chip is programmed or read" << Qt::endl;
    if (simulated && !m_options.simChip.isEmpty()) {
        QFile chip(m_options.simChip);
        const bool notFile = ImageFile::isPipeOrSocket(m_options.simChip)
            || (QFileInfo::exists(m_options.simChip) && !QFileInfo(m_options.simChip).isFile());
        if (notFile || (chip.exists() && !chip.open(QIODevice::ReadOnly))) {
            m_err << "romivo-cli: cannot read the simulated chip " << shownName(m_options.simChip) << ": "
                  << (ImageFile::isPipeOrSocket(m_options.simChip) ? QStringLiteral("not a regular file (a FIFO or socket)")
                      : notFile ? QStringLiteral("not a regular file (a device)") : chip.errorString())
                  << Qt::endl;
            return false;
        }
        m_port.simulated().board().chip().load(chip.isOpen() ? chip.read(Chip::Size) : QByteArray());
    }
    if (simulated && !m_options.simFaults.isEmpty()) {
        BoardFaults faults;
        for (const QString &fault : m_options.simFaults)
            faults.apply(fault, nullptr);
        m_port.simulated().board().setFaults(faults);
    }
    return true;
}

void BoardRun::start()
{
    m_waited.start();
    m_port.setCommPort(m_portName);
    if (!m_port.open()) {
        const LinkError error = m_port.lastError();
        m_err << "romivo-cli: cannot open the port " << shownName(error.port.isEmpty() ? m_portName : error.port) << ": "
              << error.reason;
        // Refused access is most often a user outside the group that owns serial devices.
        if (error.kind == LinkError::Kind::AccessDenied)
            m_err << "; unless another program holds it, join the group that owns it (on Linux: "
                     "sudo usermod -aG dialout $USER, then log in again)";
        m_err << Qt::endl;
        return end(Trouble);
    }
    m_boardWait.start(int(m_options.waitBoardSeconds * 1000));
    if (m_boardSeen)
        QMetaObject::invokeMethod(this, &BoardRun::wake, Qt::QueuedConnection);
}

void BoardRun::wake()
{
    if (m_done || m_ending)
        return;
    if (!m_started) {
        if (m_interrupted) {
            // Interrupted before the board was seen: said as any interrupted operation is.
            StepReport report;
            report.operation = QStringLiteral("wait");
            report.outcome = QStringLiteral("interrupted");
            report.seconds = m_waited.elapsed() / 1000.0;
            return end(m_output.result(*this, report) ? Interrupted : Trouble);
        }
        if (m_portLost) {
            m_err << "romivo-cli: " << Messages::text(MessageId::PortLost, {shownName(m_portName.trimmed()), m_lostReason, 0}).replace(u'\n', QStringLiteral("; ")) << Qt::endl;
            return end(Failure);
        }
        if (m_boardSeen) {
            m_started = true;
            m_boardWait.stop();
            nextStep();
        }
        return;
    }
    // A stopped operation is over once it has announced its end (a write still gives its board
    // up first), or at once when nothing was running.
    const bool stopped = m_interrupted && (m_session.state().rxMode == RxMode::Idle && !m_session.write().running());
    if (m_then && (m_result || stopped || m_portLost || m_stalled))
        settle();
}

void BoardRun::nextStep()
{
    if (m_step >= m_plan.size())
        return end(Success);
    Planned &planned = m_plan[m_step];
    m_report = StepReport();
    m_report.operation = stepName(planned.step.kind);
    m_stepClock.start();
    runStep(planned, m_report, [this](int status) { stepEnded(status); });
}

void BoardRun::stepEnded(int status)
{
    if (m_interrupted)
        status = Interrupted;
    m_report.seconds = m_stepClock.elapsed() / 1000.0;
    m_progress.complete();
    // Results that cannot be written are no results: the run stops there.
    if (!m_report.outcome.isEmpty() && !m_output.result(*this, m_report))
        status = Trouble;
    if (status != Success)
        return end(status);
    ++m_step;
    nextStep();
}

void BoardRun::end(int status)
{
    if (m_done || m_ending)
        return;
    m_ending = true;
    m_status = status;
    m_boardWait.stop();
    m_watchdog.stop();
    m_operation.clear();
    // Whatever the last step sent is on its way to the board before the port closes, and a write
    // left half-way has been given up, so that the next program finds the board taking commands.
    const qint64 ms = m_session.msUntilWriteGivenUp();
    QTimer::singleShot(int(qMax<qint64>(0, ms)), this, [this] {
        m_port.close();
        const bool simulated = selectPort(m_portName).kind == PortSelection::Kind::Simulated;
        if (simulated && !m_options.simChip.isEmpty() && !saveSimulatedChip() && m_status == Success)
            m_status = Trouble;
        // A trace with lines missing is no record of the line: as a result that was not written.
        if (!m_port.traceError().isEmpty()) {
            m_err << "romivo-cli: cannot write the trace " << shownName(m_traceName) << ": " << m_port.traceError() << Qt::endl;
            if (m_status == Success || m_status == Failure)
                m_status = Trouble;
        }
        m_done = true;
        emit finished(m_status);
    });
}

void BoardRun::runStep(Planned &planned, StepReport &report, const StepDone &done)
{
    using Kind = CliOptions::Step::Kind;
    if (planned.fromRead >= 0)  // the file holds what that read took from the chip
        planned.image = m_plan.at(planned.fromRead).image;
    switch (planned.step.kind) {
    case Kind::Write:
        return write(planned.image, report, done);
    case Kind::Read:
        return read(planned.step.file, report, &planned.image, done);
    case Kind::Verify:
    case Kind::Blank:
        return check(planned.step, planned.image, report, done);
    case Kind::Compare:
        return compare(planned.image, report, done);
    }
    done(Trouble);
}

void BoardRun::write(const QByteArray &image, StepReport &report, const StepDone &done)
{
    const auto program = [this, &image, &report, done] {
        perform(QStringLiteral("write"), [this, &image] { m_session.write().start(image); }, [this, &image, &report, done](Ended ended) {
            if (ended != Ended::Result) {
                const int status = endedEarly(ended, report);
                // The board has programmed the blocks it took: the chip no longer holds what it did.
                if (ended == Ended::Interrupted || ended == Ended::PortLost)
                    report.detail += QStringLiteral("; the chip is partly written");
                return done(status);
            }
            report.windowText = windowText();
            if (m_result->outcome == Outcome::Written) {
                report.outcome = QStringLiteral("ok");
                report.checksummed = image;
                return done(Success);
            }
            if (m_result->outcome != Outcome::WriteFailed)
                return done(endedEarly(Ended::Failed, report));
            report.outcome = m_result->lineBusy ? QStringLiteral("busy") : QStringLiteral("failed");
            report.detail = m_result->lineBusy ? QStringLiteral(", the board kept sending and did not stop when asked, so the operation never began")
                                               : QStringLiteral(", the board did not take every block");
            done(Failure);
        });
    };
    if (m_options.noCheck)
        return program();
    // An EPROM bit only goes from 1 to 0: a location that would need a 0 made 1 cannot take the
    // image, and writing the rest would only spoil an erase cycle.
    readChip(QStringLiteral("check"), &m_chip, [this, &image, &report, done, program](Ended ended) {
        if (ended != Ended::Result) {
            const int status = endedEarly(ended, report);
            report.detail += QStringLiteral(" in the check before writing; nothing was written");
            return done(status);
        }
        const ImageComparison comparison = ImageComparison::of(m_chip, image);
        if (comparison.equal()) {
            report.outcome = QStringLiteral("unchanged");
            report.detail = QStringLiteral(", the chip already holds the image (not written again)");
            report.checksummed = image;
            return done(Success);
        }
        if (comparison.lockedLocations > 0) {
            const int at = comparison.firstLocked;
            report.outcome = QStringLiteral("refused");
            report.location = at;
            report.chipByte = quint8(m_chip.at(at));
            report.fileByte = quint8(image.at(at));
            report.detail = QStringLiteral(", %1 of the chip's locations cannot take the image (a bit would have to go "
                                           "from 0 to 1), the first %2 (chip %3, image %4); nothing was written")
                                .arg(comparison.lockedLocations)
                                .arg(hexNumber(at, 4), hexNumber(*report.chipByte, 2), hexNumber(*report.fileByte, 2));
            return done(Failure);
        }
        program();
    });
}

void BoardRun::read(const QString &path, StepReport &report, QByteArray *chipRead, const StepDone &done)
{
    readChip(QStringLiteral("read"), &m_chip, [this, path, &report, chipRead, done](Ended ended) {
        if (ended != Ended::Result) {
            const int status = endedEarly(ended, report);
            if (ended == Ended::Interrupted)
                report.detail = QStringLiteral(" after %1 bytes").arg(m_endAddress);
            report.detail += QStringLiteral("; %1 was not replaced").arg(shownName(path));
            return done(status);
        }
        const ImageFormats::Format format = m_options.format.value_or(ImageFormats::formatOf(path));
        const FileReplacement::Result replaced = FileReplacement::replace(path, ImageExport::encode(m_chip, format, path));
        if (!replaced.error.isEmpty()) {
            m_err << "romivo-cli: " << shownName(path) << ": " << replaced.error
                  << (replaced.untouched ? QStringLiteral("; not replaced") : QStringLiteral("; written only in part")) << Qt::endl;
            return done(Trouble);
        }
        report.outcome = QStringLiteral("ok");
        report.windowText = windowText();
        report.checksummed = m_chip;
        *chipRead = m_chip;
        done(Success);
    });
}

void BoardRun::check(const CliOptions::Step &step, const QByteArray &image, StepReport &report, const StepDone &done)
{
    const bool verify = step.kind == CliOptions::Step::Kind::Verify;
    perform(report.operation, [this, verify, &image] {
        if (verify)
            m_session.check().verify(image);
        else
            m_session.check().blankCheck();
    }, [this, verify, &image, &report, done](Ended ended) {
        if (ended != Ended::Result)
            return done(endedEarly(ended, report));
        report.windowText = windowText();
        if (m_result->outcome == Outcome::Verified || m_result->outcome == Outcome::Blank) {
            report.outcome = QStringLiteral("ok");
            if (verify)
                report.checksummed = image;
            return done(Success);
        }
        if (m_result->outcome != Outcome::Differs && m_result->outcome != Outcome::NotBlank)
            return done(endedEarly(Ended::Failed, report));
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
        done(Failure);
    });
}

void BoardRun::compare(const QByteArray &image, StepReport &report, const StepDone &done)
{
    readChip(QStringLiteral("compare"), &m_chip, [this, &image, &report, done](Ended ended) {
        if (ended != Ended::Result)
            return done(endedEarly(ended, report));
        const ImageComparison comparison = ImageComparison::of(m_chip, image);
        if (comparison.equal()) {
            report.outcome = QStringLiteral("equal");
            report.checksummed = m_chip;
            return done(Success);
        }
        QJsonArray listed;
        const qsizetype shown = qMin<qsizetype>(comparison.differences.size(), m_options.maxLines);
        for (qsizetype i = 0; i < shown; ++i) {
            const ImageComparison::Difference &d = comparison.differences.at(i);
            if (m_options.json)
                listed.append(QJsonObject{{QStringLiteral("location"), d.location}, {QStringLiteral("chip"), d.chip},
                                          {QStringLiteral("file"), d.image}});
            else
                m_output.listing(*this, hexNumber(d.location, 4) + QStringLiteral(": chip ") + hexNumber(d.chip, 2)
                                            + QStringLiteral(", file ") + hexNumber(d.image, 2));
        }
        if (!m_options.json && shown < comparison.differences.size())
            m_output.listing(*this, QStringLiteral("... and %1 more").arg(comparison.differences.size() - shown));
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
        done(Failure);
    });
}

void BoardRun::readChip(const QString &label, QByteArray *chip, const Then &then)
{
    chip->clear();
    m_buffer.close();
    m_buffer.setBuffer(chip);
    m_buffer.open(QIODevice::WriteOnly);
    perform(label, [this] { m_session.read().read(m_buffer); }, [this, chip, then](Ended ended) {
        m_buffer.close();
        if (ended != Ended::Result)
            return then(ended);
        then(m_result->outcome == Outcome::ReadDone && chip->size() == Chip::Size ? Ended::Result : Ended::Failed);
    });
}

void BoardRun::perform(const QString &label, const std::function<void()> &start, const Then &then)
{
    m_operation = label;
    m_progress.begin(label);
    m_result.reset();
    m_stalled = false;
    m_then = then;
    start();
    // Sleeps until the operation announces its end, the port goes, an interrupt comes, or the
    // stream brings nothing for the idle time-out (checked a few times a second).
    m_quiet.start();
    m_waitedForQuiet = false;
    m_lastAddress = m_session.state().currentAddress;
    m_watchdog.start(int(qBound(qint64(10), qint64(m_options.idleTimeoutSeconds * 1000) / 5, qint64(250))));
    if (m_result || m_interrupted || m_portLost)
        QMetaObject::invokeMethod(this, &BoardRun::wake, Qt::QueuedConnection);
}

void BoardRun::settle()
{
    m_watchdog.stop();
    const Then then = std::exchange(m_then, {});
    if (m_portLost || (m_stalled && !m_result)) {
        m_endAddress = m_session.state().currentAddress;
        m_lineBusy = m_session.waitingForQuietLine();
        m_session.stop();
        m_progress.finish();
        return then(m_portLost ? Ended::PortLost : Ended::Stalled);
    }
    then(m_interrupted ? Ended::Interrupted : Ended::Result);
}

QString BoardRun::windowText() const
{
    const std::optional<MessageId> id = m_result ? Messages::forOutcome(m_result->outcome) : std::nullopt;
    return id ? Messages::text(*id, {{}, m_result->reason, m_result->location}) : QString();
}

int BoardRun::endedEarly(Ended ended, StepReport &report)
{
    switch (ended) {
    case Ended::Stalled:
        if (m_lineBusy) {
            // Bytes kept coming, but not the chip: the stream was never asked for.
            report.outcome = QStringLiteral("busy");
            report.detail = QStringLiteral(", the board kept sending and did not stop when asked, so the operation never began");
            return Failure;
        }
        report.outcome = QStringLiteral("stalled");
        report.location = m_endAddress;
        report.detail = QStringLiteral(" at ") + hexNumber(m_endAddress, 4);
        report.windowText = Messages::text(MessageId::Stalled, {{}, {}, m_endAddress});
        return Failure;
    case Ended::PortLost:
        report.outcome = QStringLiteral("port-lost");
        report.windowText = Messages::text(MessageId::PortLost, {m_portName.trimmed(), m_lostReason, 0});
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

bool BoardRun::saveSimulatedChip()
{
    // Whole or not at all: a chip file cut short would be a different chip next time.
    const FileReplacement::Result saved = FileReplacement::replace(m_options.simChip, m_port.simulated().board().chip().contents());
    if (saved.error.isEmpty())
        return true;
    m_err << "romivo-cli: cannot save the simulated chip to " << shownName(m_options.simChip) << ": " << saved.error << Qt::endl;
    return false;
}
