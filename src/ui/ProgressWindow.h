// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "operations/OperationState.h"
#include "operations/ProgressDisplay.h"

#include <QObject>
#include <QTimer>
#include <memory>

class Form2;

// The progress window and its refresh timer, as the operations drive them. The window is made
// on first use, hidden unless that use shows it, and then lives as long as this object.
class ProgressWindow : public QObject, public ProgressDisplay {
    Q_OBJECT
public:
    ProgressWindow(const OperationState &state, QObject *parent = nullptr);
    ~ProgressWindow() override;

    void setRefreshing(bool on) override;
    void setShown(bool shown) override;
    void refreshNow() override { timerAggiorna_Timer(); }

    void timerAggiorna_Timer();

    // The window, if it has been made.
    Form2 *existing() const { return m_form2.get(); }

private:
    Form2 &form2();

    QTimer m_timerAggiorna;
    const OperationState &m_state;
    std::unique_ptr<Form2> m_form2;
};
