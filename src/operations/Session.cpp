// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations/Session.h"

Session::Session(SerialControl &port, Operator &op, QObject *parent)
    : QObject(parent),
      m_port(port),
      m_op(op),
      m_dispatcher(port, m_state),
      m_stream(port, m_state),
      m_context{port, m_state, m_progress, m_stream, [this](OperationResult result) { emit concluded(result); },
                [this](OperationResult result) { emit finished(result); }},
      m_write(m_context, m_dispatcher),
      m_read(m_context, m_dispatcher),
      m_check(m_context, m_dispatcher),
      m_service(port, m_state, m_dispatcher, op, [this] { return isBusy(); })
{
    qRegisterMetaType<OperationResult>();
}

Session::~Session() = default;

bool Session::isBusy() const
{
    return isStream(m_state.rxMode) || m_state.rxMode == RxMode::Write || m_write.running() || m_stream.waiting()
        || m_stream.msUntilWriteGivenUp() > 0 || m_stream.msUntilOpenSettled() > 0;
}

bool Session::stop()
{
    if (m_state.rxMode == RxMode::Idle)
        return false;
    stopAndAnnounce(m_context);
    m_write.wake();  // a write that waits learns of the stop now
    return true;
}
