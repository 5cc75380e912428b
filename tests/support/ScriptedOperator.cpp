#include "ScriptedOperator.h"

bool ScriptedOperator::show(const OperatorMessage &message)
{
    m_messages.append(message);
    m_events.append(message.text);
    if (m_whileShown)
        m_whileShown(message);
    if (message.kind != OperatorMessage::Kind::Question)
        return true;
    return m_answers.isEmpty() ? true : m_answers.takeFirst();
}

void ScriptedOperator::beep()
{
    ++m_beeps;
    m_events.append(QStringLiteral("<beep>"));
}

QStringList ScriptedOperator::texts() const
{
    QStringList texts;
    for (const OperatorMessage &message : m_messages)
        texts.append(message.text);
    return texts;
}

void ScriptedOperator::clear()
{
    m_messages.clear();
    m_events.clear();
    m_beeps = 0;
}
