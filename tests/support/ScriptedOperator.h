// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "operations/Operator.h"

#include <QList>
#include <QStringList>
#include <functional>

// An operator that answers from a script and records every box and beep, in order. Questions
// take the next scripted answer, OK once the script is used up.
class ScriptedOperator : public Operator {
public:
    bool show(const OperatorMessage &message) override
    {
        m_messages.append(message);
        m_events.append(message.text);
        if (m_whileShown)
            m_whileShown(message);
        return message.kind != OperatorMessage::Kind::Question || answers.isEmpty() || answers.takeFirst();
    }
    void beep() override { m_events.append(QStringLiteral("<beep>")); }

    QList<bool> answers;
    // Runs while a box is "open", as a modal box's event loop would.
    void setWhileShown(std::function<void(const OperatorMessage &)> action) { m_whileShown = std::move(action); }
    const QList<OperatorMessage> &messages() const { return m_messages; }
    QStringList texts() const
    {
        QStringList texts;
        for (const OperatorMessage &message : m_messages)
            texts.append(message.text);
        return texts;
    }
    int beeps() const { return int(m_events.count(QStringLiteral("<beep>"))); }
    // Boxes and beeps in the order they came: a box as its text, a beep as "<beep>".
    const QStringList &events() const { return m_events; }
    void clear() { m_messages.clear(), m_events.clear(); }

private:
    QList<OperatorMessage> m_messages;
    QStringList m_events;
    std::function<void(const OperatorMessage &)> m_whileShown;
};
