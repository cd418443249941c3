#pragma once

// A window of any edition on one end of a pty pair and the simulated sensor on the other,
// as the cases that every window shares see it: the write pass, what a request's outcome
// shows and logs, the slave address, a held or busy thread, the poll counters and the line
// loss. LinkedWindow (the current edition) and Window12 (the earlier editions) are its two
// kinds; each shared suite is built once per window, with the kind's windowKind() and
// makeSensorWindow().

#include <QColor>
#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

#include "journal.h"
#include "sensorlink.h"
#include "windowtest.h"

class ModbusLink;
class QComboBox;
class QLabel;
class QLineEdit;
class QMainWindow;
class QModbusClient;
class QPushButton;
class QSpinBox;
class QStatusBar;

class SensorWindow : public RegisterTableCells
{
public:
    virtual ~SensorWindow() = default;
    SensorWindow(const SensorWindow&) = delete;
    SensorWindow& operator=(const SensorWindow&) = delete;

    // Members are destroyed in reverse, and a kind's own window before them all: the
    // window goes first, the sensor and the program directory after it.
    ProgramDirFixture dir;
    SensorLink link;
    std::unique_ptr<ModalWatcher> modals = std::make_unique<ModalWatcher>();

    // The widgets that every edition's form has, by the same names.
    QComboBox* ports = nullptr;
    QPushButton* openButton = nullptr;
    QPushButton* readButton = nullptr;
    QPushButton* writeButton = nullptr;
    QLineEdit* slave = nullptr;
    QSpinBox* period = nullptr;
    QLabel* counter = nullptr;

    // The sensor first, then the window as its program makes it.
    virtual bool start(const QStringList& simArgs = {}) = 0;
    virtual QMainWindow* mainWindow() const = 0;
    // Connects to the sensor and waits for the configuration block as the window reads it
    // on a connect.
    virtual bool connectToSensor() = 0;

    // Status polls as often as the window's period allows near `ms`; none at all; one now,
    // waiting for its outcome.
    virtual void pollEvery(int ms) = 0;
    virtual void stopPolls() = 0;
    // Stops the polls and waits until the last one has been handled.
    bool stopPollsAndSettle();
    // Waits until no state read is queued, on the line or on its way to the window.
    bool waitForStatusRead();
    virtual bool pollOnce() = 0;
    // Starts the poll counters where a test wants them.
    virtual void setPollCounters(quint64 pollsSent, quint64 statusValuesReceived) = 0;

    // The port list is refreshed from the system in one edition and drops what it does
    // not know, so the entry is added and used in one go.
    void clickConnect(const QString& port);
    // Clicks connect to the sensor and waits until `done`. When it does not come, says why:
    // what became of each request of the connection that did not go through, whether the
    // link is up, what the status bar and the log show, and what the sensor saw.
    bool connectAndWaitFor(const std::function<bool()>& done);
    void clickDisconnect();
    // Stops the polls, waits until nothing is on the line, disconnects and puts another sensor
    // there: a request still on its way through the pty pair would reach the new sensor, and
    // its answer would end the new connection's first request.
    bool replaceSensor(const QStringList& simArgs);
    void clickRead();
    void clickWrite();

    QStatusBar* statusBar() const;
    QModbusClient* master() const;
    ModbusLink* modbusLink() const;
    bool linkConnected() const;
    // How long the status bar keeps its current message, in ms (0: until replaced), read
    // from the timer the status bar starts for it.
    int messageDuration() const;

    // The texts of log.txt, each line checked against the edition's line format.
    QStringList logTexts(QStringList* malformed = nullptr) const;
    int logCount(const QString& text) const;
    QStringList logStartingWith(const QString& prefix) const;

    // What the sensor saw: the writes as "register:value:action" in order, and the reads.
    QStringList writesSeen();
    QList<SensorLink::Request> configReads();
    QList<SensorLink::Request> stateReads();
    QList<SensorLink::Request> stateReadsWith(const QString& action);
    // The sensor leaves the next `reads` state reads unanswered through every try of the
    // master; true once the first of them has reached it.
    bool leaveStateReadsUnanswered(int reads);

protected:
    explicit SensorWindow(bool withTables);
    // Finds the shared widgets on `window`; false when one is missing.
    bool findSharedWidgets(QMainWindow* window);
    // A log line, its first capture the text.
    virtual QRegularExpression logLineForm() const = 0;
};

// What tells the windows apart in the shared cases.
struct WindowKind {
    QString name;
    // The master's retries: a request is tried this many times more.
    int retries = 0;
    // Registers in a state read.
    int stateCount = 0;
    // Registers 1 and 3 to 12 shown as signed numbers (0xFFFE as -2), else unsigned.
    bool signedCells = false;
    // A measurement mode outside 0..3 stops the write pass.
    bool checksMeasurementMode = false;

    int tries() const { return retries + 1; }
    // `signedText` where the window shows signed numbers, else `unsignedText`.
    QString cell(const char* signedText, const char* unsignedText) const
    {
        return QString::fromUtf8(signedCells ? signedText : unsignedText);
    }
};

// Defined once for each kind of window, in the test program built for it.
const WindowKind& windowKind();
std::unique_ptr<SensorWindow> makeSensorWindow();

// A window of the kind under test, started with the sensor, connected, and the journal
// cleared; null, with a warning, when that fails. With `pollEveryMs` it polls that often,
// as near as its period allows, from before the connect.
std::unique_ptr<SensorWindow> connectedWindow(int pollEveryMs = 0);
// Connected, polling as often as the window can, and two state reads answered.
std::unique_ptr<SensorWindow> pollingWindow();

// The two numbers of "Счетчик: sent/received", whatever their size; false when the label
// does not read so.
bool pollCounterValues(const QString& label, quint64& pollsSent, quint64& statusValuesReceived);

QStringList startingWith(const QStringList& texts, const QString& prefix);
QColor colourNamed(const QString& name);
// Runs the event loop for a second; true when this process used less than half of it on
// the CPU, as a window with nothing to do should. Otherwise false, with the figures in `why`.
bool idleForASecond(QString& why);
