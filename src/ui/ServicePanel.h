// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QGroupBox>

class QLineEdit;
class QPushButton;
class ServiceCommands;

// The service panel: its buttons and number boxes, each button handing its box's text to the
// service commands.
class ServicePanel : public QGroupBox {
    Q_OBJECT
public:
    explicit ServicePanel(ServiceCommands &service, QWidget *parent = nullptr);

    void buttonPompoClock_Click();
    void buttonReadData_Click();
    void buttonWriteData_Click();

private:
    QPushButton *addButton(const char *name, const QString &caption, QRect twips);
    QLineEdit *addNumberBox(const char *name, QRect twips);

    ServiceCommands &m_commands;
    QPushButton *m_buttonReadData = nullptr;
    QLineEdit *m_textReadData = nullptr;
    QLineEdit *m_textAddress = nullptr;
};
