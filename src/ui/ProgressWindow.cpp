// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ProgressWindow.h"

#include "ui/Form2.h"

#include <QLineEdit>
#include <QTimer>

ProgressWindow::ProgressWindow(const OperationState &state, QObject *parent)
    : QObject(parent), m_state(state)
{
    m_timerAggiorna.setObjectName(QStringLiteral("timerAggiorna"));
    m_timerAggiorna.setInterval(200);
    connect(&m_timerAggiorna, &QTimer::timeout, this, &ProgressWindow::timerAggiorna_Timer);
}

ProgressWindow::~ProgressWindow() = default;

Form2 &ProgressWindow::form2()
{
    if (!m_form2)
        m_form2 = std::make_unique<Form2>();
    return *m_form2;
}

void ProgressWindow::timerAggiorna_Timer()
{
    form2().textAvanzLoc()->setText(QString::number(m_state.currentAddress));
}

void ProgressWindow::setRefreshing(bool on)
{
    if (on)
        m_timerAggiorna.start();
    else
        m_timerAggiorna.stop();
}

void ProgressWindow::setShown(bool shown)
{
    form2().setVisible(shown);
}
