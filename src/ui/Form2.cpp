// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Form2.h"

#include "ui/Fonts.h"
#include "ui/ProgramIcon.h"
#include "ui/Twips.h"

#include <QLabel>
#include <QLineEdit>

Form2::Form2(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("In progress........"));
    setWindowIcon(programIcon());
    setFixedSize(twipsToPixels(3180), twipsToPixels(2325));

    m_textAvanzLoc = new QLineEdit(QStringLiteral("0"), this);
    m_textAvanzLoc->setObjectName(QStringLiteral("textAvanzLoc"));
    m_textAvanzLoc->setGeometry(twipRect(840, 360, 1455, 615));
    m_textAvanzLoc->setFont(Fonts::gadugiLarge());

    m_label1 = new QLabel(QStringLiteral("Avanzamento locazioni"), this);
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_label1->setGeometry(twipRect(480, 1080, 2175, 975));
    m_label1->setFont(Fonts::bookAntiquaLarge());
    m_label1->setWordWrap(true);
    m_label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    setTabOrder(m_textAvanzLoc, m_label1);
}
