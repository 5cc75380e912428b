// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Box titles: boxes that give one use "Romivo"; the others carry the application's own title.
namespace BoxTitle {
inline const QString Romivo = QStringLiteral("Romivo");
inline const QString Application = QStringLiteral("romivo");
} // namespace BoxTitle

// One modal box as the operator sees it.
struct OperatorMessage {
    enum class Kind {
        Question,  // OK and Cancel, no icon, OK the default
        Failure,   // critical icon, OK
        Result,    // OK alone, no icon
    };
    Kind kind = Kind::Result;
    QString text;
    QString title;

    bool operator==(const OperatorMessage &) const = default;
};

// How the program asks and tells the operator. The desktop shows modal message boxes; tests
// and the headless runner answer from a script.
class Operator {
public:
    virtual ~Operator() = default;

    // Shows the box and returns true when the operator pressed OK (any other way of closing
    // a question counts as Cancel).
    virtual bool show(const OperatorMessage &message) = 0;
    virtual void beep() = 0;

    bool ask(const QString &text, const QString &title = BoxTitle::Romivo)
    {
        return show({OperatorMessage::Kind::Question, text, title});
    }
    void fail(const QString &text, const QString &title = BoxTitle::Romivo)
    {
        show({OperatorMessage::Kind::Failure, text, title});
    }
    void tell(const QString &text, const QString &title = BoxTitle::Romivo)
    {
        show({OperatorMessage::Kind::Result, text, title});
    }
};

// For front ends with nobody to ask (romivo-cli, the benchmark): every question answered OK,
// nothing shown.
class AnsweringOperator : public Operator {
public:
    bool show(const OperatorMessage &) override { return true; }
    void beep() override {}
};
