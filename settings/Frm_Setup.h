#pragma once

#include <QStringList>
#include <QWidget>

#include <functional>

class Com;
class Dialogs;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;

// How a reopening the settings window asked for went: a network device is still connecting
// when APPLY returns, and Com's openFinished() says how it ended.
enum class Open_Result { Opened, Failed, Connecting };

// The serial settings window: shows the main window's port number, line settings and state
// each time it becomes active, reopens the port with the operator's choices (APPLY) or closes
// it (CLOSE).
//
// Each drop-down box carries two texts: the one it displays, which the operator may type into,
// and its value text in the dynamic property "Tag", set only by picking an item from the list
// or by activation. APPLY reads value texts alone.
class Frm_Setup : public QWidget
{
    Q_OBJECT

public:
    // Reopens the port with a port number and a settings text; Failed when it failed (the
    // operator has then been told why).
    using OpenSerial = std::function<Open_Result(int port, const QString &settings)>;

    Frm_Setup(Com &com, Dialogs &dialogs, OpenSerial openSerial, QWidget *parent = nullptr);

    // Loads the boxes and the status colour from the main window's port.
    void Form_Activate();
    // The same from a given port state, so that settings texts the port never reports back
    // (blanks after the commas) can be loaded too.
    void loadPortState(const QString &settings, int port, bool open);

protected:
    bool event(QEvent *event) override;

private:
    QGroupBox *buildSettingsFrame();
    QGroupBox *buildButtonFrame();
    QComboBox *buildBox(const char *name, const QStringList &items, int initial);
    QPushButton *buildButton(const char *name, const QString &text);

    void Cmb_Port_Click(int index);
    void Cmb_Baud_Click(int index);
    void Cmb_Data_Click(int index);
    void Cmb_Parity_Click(int index);
    void Cmb_Stop_Click(int index);
    void Btn_Ok_Setup_Click();
    void Btn_Close_Port_Click();
    void btn_Cancel_setup_Click();

    void showPortState(bool open);
    // While a network device connects: "Connecting to HOST:PORT…", and every control but
    // CANCEL disabled.
    void showConnecting(const QString &device);
    void connectingEnded(bool open);

    Com &m_com;
    Dialogs &m_dialogs;
    OpenSerial m_openSerial;
    QComboBox *m_port = nullptr;
    QComboBox *m_baud = nullptr;
    QComboBox *m_data = nullptr;
    QComboBox *m_parity = nullptr;
    QComboBox *m_stop = nullptr;
    QLabel *m_status = nullptr;
    bool m_connecting = false;
};
