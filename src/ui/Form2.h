// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;

// The progress window: the count of chip locations handled so far.
class Form2 : public QWidget {
    Q_OBJECT
public:
    explicit Form2(QWidget *parent = nullptr);

    QLineEdit *textAvanzLoc() const { return m_textAvanzLoc; }

private:
    QLineEdit *m_textAvanzLoc;
    QLabel *m_label1;
};
