#include "ui/ProgressWindow.h"

#include "ui/Form2.h"

#include <QLineEdit>
#include <QTimer>

ProgressWindow::ProgressWindow(QTimer &timerAggiorna, const OperationState &state, QObject *parent)
    : QObject(parent), m_timer(timerAggiorna), m_state(state)
{
    connect(&m_timer, &QTimer::timeout, this, &ProgressWindow::timerAggiorna_Timer);
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
        m_timer.start();
    else
        m_timer.stop();
}

void ProgressWindow::setShown(bool shown)
{
    form2().setVisible(shown);
}
