// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "board/SelectingSerialControl.h"
#include "operations/Session.h"
#include "ScriptedOperator.h"
#include "ui/Form1.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

// The main window over the program's own serial control, with a scripted operator.
struct Window {
    SelectingSerialControl port;
    ScriptedOperator op;
    Session session{port, op};
    Form1 form{session};
    int ends = 0;
    Window() { form.setEndProgram([this] { ++ends; }); }

    template <typename T = QWidget>
    T *get(const char *name) const { return form.findChild<T *>(QString::fromLatin1(name)); }
    QPushButton *button(const char *name) const { return get<QPushButton>(name); }
    QLineEdit *box(const char *name) const { return get<QLineEdit>(name); }
    SimulatedSerialControl &sim() { return port.simulated(); }
    QString connectText() const { return button("Command2")->text(); }
    void connectTo(const QString &portText)
    {
        box("textCommPort")->setText(portText);
        button("Command2")->click();
    }
    bool connectSim()
    {
        connectTo("SIM");
        return QTest::qWaitFor([this] { return connectText() == "CONNECTED !"; }, 5000);
    }
    bool operationsEnabled(bool enabled) const
    {
        const auto is = [&](const char *name) { return button(name)->isEnabled() == enabled; };
        return is("Command3") && is("Command6") && is("Command7") && is("Command8");
    }
};
