// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "operations/Operator.h"

class QWidget;

// The desktop's operator: modal message boxes over the main window and the system beep.
class MessageBoxOperator : public Operator {
public:
    explicit MessageBoxOperator(QWidget *parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget *parent) { m_parent = parent; }

    bool show(const OperatorMessage &message) override;
    void beep() override;

private:
    QWidget *m_parent;
};
