// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMainWindow>
#include <array>
#include <functional>

class DirectoryList;
class DriveList;
class FileList;
class OperationButtons;
class Operator;
class ProgressWindow;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class SerialControl;
class ServicePanel;
class Session;

// The main window: the serial group, the image-file lists and box, the four whole-chip
// operation buttons, the service panel, the menu and the window's timers.
class Form1 : public QMainWindow {
    Q_OBJECT
public:
    explicit Form1(Session &session, QWidget *parent = nullptr);
    ~Form1() override;

    // What "Esci" and the close box do; the desktop program ends the process at once.
    void setEndProgram(std::function<void()> end) { m_endProgram = std::move(end); }

    ProgressWindow &progress() { return *m_progress; }
    OperationButtons &operations() const { return *m_operations; }

    void Command2_Click();
    void Command1_Click();
    void menuService_Click();
    void menuEsci_Click();
    void Drive1_Change();
    void Dir1_Change();
    void File1_Click();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void buildMenu();
    void setTabOrderOfControls();
    void connectedByBoard();
    void showDisconnected();
    void portLost(const QString &reason);
    void outputDropped();
    void composeFileName();
    void endProgram();

    Session &m_session;
    SerialControl &m_port;
    Operator &m_operator;
    ProgressWindow *m_progress = nullptr;
    OperationButtons *m_operations = nullptr;
    std::function<void()> m_endProgram;

    QGroupBox *m_frame2 = nullptr;
    QLabel *m_picture1 = nullptr;
    QLineEdit *m_textCommPort = nullptr;
    QPushButton *m_command2 = nullptr;
    QPushButton *m_command1 = nullptr;
    DriveList *m_drive1 = nullptr;
    DirectoryList *m_dir1 = nullptr;
    FileList *m_file1 = nullptr;
    QLineEdit *m_textNomeFile = nullptr;
    std::array<QPushButton *, 4> m_operationButtons{};
    ServicePanel *m_frame1 = nullptr;

    QString m_openPortText;      // the port text of the open port
    bool m_closedNoticeGiven = false;
};
