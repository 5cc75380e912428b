#include "operations/StreamStart.h"

#include "link/CommandFrame.h"
#include "link/FormState.h"
#include "link/SerialControl.h"

StreamStart::StreamStart(SerialControl &port, FormState &state, QObject *parent)
    : QObject(parent), m_port(port), m_state(state)
{
    m_quiet.setSingleShot(true);
    m_quiet.setInterval(QuietMs);
    connect(&m_quiet, &QTimer::timeout, this, &StreamStart::quietReached);
}

void StreamStart::begin()
{
    m_mode = m_state.rxMode;
    if (!m_mayBeFlowing || m_port.msSinceInput() >= QuietMs) {
        m_waiting = false;
        sendStreamFrame();
        return;
    }
    m_waiting = true;
    m_flowing.start();
    m_quiet.start();
}

bool StreamStart::dropWhileWaiting()
{
    if (!m_waiting)
        return false;
    m_quiet.start();
    if (m_flowing.elapsed() >= RestopMs) {
        m_port.output(stopByte());
        m_flowing.restart();
    }
    return true;
}

void StreamStart::cancel()
{
    m_waiting = false;
    m_quiet.stop();
}

void StreamStart::quietReached()
{
    if (!m_waiting)
        return;
    if (m_state.rxMode != m_mode) {  // another handler ended the operation meanwhile
        cancel();
        return;
    }
    if (!m_port.input().isEmpty()) {
        dropWhileWaiting();
        return;
    }
    m_waiting = false;
    sendStreamFrame();
}

void StreamStart::sendStreamFrame()
{
    m_mayBeFlowing = true;
    m_port.output(streamFrame());
}
