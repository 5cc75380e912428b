#pragma once

#include "operations/Operator.h"

#include <QList>
#include <QStringList>
#include <functional>

// An operator that answers from a script and records every box and beep, in order.
// Questions take the next scripted answer, OK once the script is used up.
class ScriptedOperator : public Operator {
public:
    bool show(const OperatorMessage &message) override;
    void beep() override;

    void answerNext(std::initializer_list<bool> answers) { m_answers.append(answers); }
    void answerNext(bool answer) { m_answers.append(answer); }
    void dropAnswers() { m_answers.clear(); }
    // Runs while a box is "open", as a modal box's event loop would (the message is passed).
    void setWhileShown(std::function<void(const OperatorMessage &)> action) { m_whileShown = std::move(action); }

    const QList<OperatorMessage> &messages() const { return m_messages; }
    QStringList texts() const;
    int beeps() const { return m_beeps; }
    // Boxes and beeps in the order they came: a box as its text, a beep as "<beep>".
    const QStringList &events() const { return m_events; }
    void clear();

private:
    QList<bool> m_answers;
    QList<OperatorMessage> m_messages;
    QStringList m_events;
    int m_beeps = 0;
    std::function<void(const OperatorMessage &)> m_whileShown;
};
