// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "operations/OperationState.h"
#include "operations/ProgressDisplay.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

// One progress line on standard error, redrawn in place while the operation runs.
class TerminalProgress : public QObject, public ProgressDisplay {
    Q_OBJECT
public:
    TerminalProgress(const OperationState &state, bool enabled);
    void begin(const QString &operation);
    // The line drawn once more with the count reached (100 % for a whole operation), then cleared.
    void complete();
    void setRefreshing(bool on) override;
    void setShown(bool) override {}
    void refreshNow() override { draw(); }
    void finish();

private:
    void draw();
    const OperationState &m_state;
    bool m_enabled;
    bool m_drawn = false;
    QString m_operation;
    QElapsedTimer m_clock;
    QTimer m_timer;
};
