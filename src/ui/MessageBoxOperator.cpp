// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/MessageBoxOperator.h"

#include <QApplication>
#include <QMessageBox>

bool MessageBoxOperator::show(const OperatorMessage &message)
{
    QMessageBox box(m_parent);
    box.setWindowTitle(message.title);
    box.setText(message.text);
    switch (message.kind) {
    case OperatorMessage::Kind::Question:
        box.setIcon(QMessageBox::NoIcon);
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    case OperatorMessage::Kind::Failure:
        box.setIcon(QMessageBox::Critical);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case OperatorMessage::Kind::Result:
        box.setIcon(QMessageBox::NoIcon);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    }
    return box.exec() == QMessageBox::Ok;
}

void MessageBoxOperator::beep()
{
    QApplication::beep();
}
