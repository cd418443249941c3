#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QMetaType>
#include <QModbusDataUnit>
#include <QModbusDevice>
#include <QObject>
#include <QPointer>
#include <QQueue>
#include <QString>
#include <QTimer>

#include <optional>

class QModbusClient;
class QModbusReply;

// What became of one request.
struct ModbusOutcome {
    enum Kind {
        Done,     // answered, and the answer names the registers asked for
        Refused,  // never sent: the slave address is not 1..247, or the master would not take it
        Failed,   // the master finished it with an error (exception, time-out, ...)
        Mismatch, // answered for other registers than were asked for
        GivenUp,  // the master did not finish it within the bound after it went out
        // Nothing to report: dropped unsent or aborted when its connection ended, or a read
        // whose answer came as the connection ended and decides nothing any more.
        Dropped
    };
    Kind kind = Dropped;
    quint64 id = 0;
    bool isWrite = false;
    bool statusRead = false;
    int requestedStart = 0;
    int requestedCount = 0;
    // Refused: the reason. Failed and GivenUp: the error, its text and the exception code
    // of the answer (0xff when there is none).
    QModbusDevice::Error error = QModbusDevice::NoError;
    QString errorString;
    int exceptionCode = 0xff;
    // Mismatch: the start and count that the answer named (-1 when a write echo could not
    // be read).
    int receivedStart = -1;
    int receivedCount = -1;
    // Done reads: the registers read.
    QModbusDataUnit unit;

    // Done reads: the values read, in register order.
    QList<quint16> values() const;
};
Q_DECLARE_METATYPE(ModbusOutcome)

// The serial line of a connection, and how long the master waits for each answer and how
// many times it asks again.
struct LineSettings {
    QString portName;
    int baudRate = 115200;
    int dataBits = 8;
    int parity = 0;
    int stopBits = 1;
    int timeoutMs = 500;
    int retries = 3;
};

// The traffic with a window's Modbus master. It hands the master one request at a time,
// so what the master holds is always on the line and a request dropped before it goes
// out never reaches the sensor; checks every answer against its request; keeps at most
// one status read outstanding; notices once that the line went away and takes the
// master down outside the port's own signal; and gives a request up only once the master
// had all the time its time-out and retries need. A connection that ends is off the line
// before anything of it is reported. It reports outcomes, never from inside the master's
// handling of a reply, and shows or logs nothing itself.
class ModbusLink : public QObject
{
    Q_OBJECT

public:
    // Added to the master's own time-out and retries before a request on the line is
    // given up; a master that works always finishes well within it.
    static constexpr int givenUpMarginMs = 1000;
    // How often the time of the request on the line is counted. A longer gap between two
    // counts is a thread held up, in one long block (an export, a blocking sleep) or in
    // every turn of its event loop, and counts as one tick: each try of the master costs
    // it a few turns beyond its time-out, so a busy turn counted in full runs ahead of it.
    // A stuck master is given up after givenUpAfterMs() / workTickMs ticks, at most one a
    // turn of the event loop.
    static constexpr int workTickMs = 20;

    // Works on `device`, which stays the caller's; the link is usually its child.
    explicit ModbusLink(QModbusClient* device, QObject* parent = nullptr);
    ~ModbusLink() override;

    // The slave address of a request: a whole decimal number from 1 to 247. Otherwise
    // false with the reason in `problem`.
    static bool slaveAddress(const QString& text, int& address, QString& problem);

    bool connected() const;
    // Sets the line and the master's time-out and retries, and connects; false when it
    // fails, with the reason in connectErrorString(). A connect is refused while a
    // connection is open, and while the end of the last one is still being reported (from
    // a handler of one of those outcomes): every outcome of a connection comes before
    // anything of the next. A connect that fails leaves the link as it was.
    bool connectDevice(const LineSettings& line);
    QString connectErrorString() const;
    // Counts the connects that succeeded: a connection is known by the count at its connect.
    quint64 connectionCount() const;
    // Disconnects the master: the connection ends (see endConnection).
    void disconnectDevice();

    // Queues a function-3 read of holding registers. `finished` reports the outcome, in
    // the order of the requests: a refused request is reported when its turn comes, at
    // once when nothing is ahead of it. Nothing goes out while no connection is open: a
    // request made then is dropped in its turn. A status read is refused silently
    // (returns 0) while another status read is outstanding; otherwise returns the
    // request's id.
    quint64 read(const QString& slaveText, int start, int count, bool statusRead = false);
    bool statusReadOutstanding() const;

    // Queues a function-16 write of `values` from `address` (its low 16 bits are sent).
    // Done only when the echo names the registers written.
    quint64 write(const QString& slaveText, int address, const QList<quint16>& values);

    // Queues a write as write() does, then runs the event loop, with a 10 ms blocking sleep
    // after each turn, until its outcome has been reported, and returns that outcome.
    ModbusOutcome writeAndWait(const QString& slaveText, int address, const QList<quint16>& values);
    // The same wait for request `id`; returns at once for an id that is not outstanding.
    void waitFor(quint64 id);
    // Queued, on the line, or answered but not yet reported.
    bool outstanding(quint64 id) const;

    // The time in which the master could work after which a request on the line is
    // given up.
    int givenUpAfterMs() const;

signals:
    void finished(const ModbusOutcome& outcome);
    // The master's own errors, one report per fault: none once the line is known lost or
    // the link disconnected, until the next connect.
    void deviceError(QModbusDevice::Error error, const QString& text);
    // The line went away (or the master stopped finishing requests): the master has been
    // disconnected and every request dropped.
    void lineLost();

private:
    struct Request {
        quint64 id = 0;
        bool isWrite = false;
        bool statusRead = false;
        int server = 0;
        // Why the request may not go out (an invalid slave address), reported in its turn.
        QString refusal;
        int start = 0;
        QList<quint16> values; // writes
        int count = 0;
    };

    Request writeRequest(int address, const QList<quint16>& values);
    void enqueue(const QString& slaveText, Request request);
    void sendNext();
    void dispatch(const Request& request);
    void onReplyFinished(QModbusReply* reply);
    ModbusOutcome evaluate(const Request& request, const QModbusReply& reply) const;
    void countWorkTime();
    void onDeviceError(QModbusDevice::Error error);
    void onStateChanged(QModbusDevice::State state);
    bool sending() const;
    void endConnection(const std::optional<ModbusOutcome>& onLineVerdict = std::nullopt);
    void takeLinkDown(const std::optional<ModbusOutcome>& onLineVerdict = std::nullopt);
    void detachOnLine();
    void settleUndelivered();
    void report(const ModbusOutcome& outcome);
    void postDelivery();
    void deliverUndelivered();
    void drainUndelivered();
    ModbusOutcome outcomeFor(const Request& request, ModbusOutcome::Kind kind) const;
    ModbusOutcome refusalOf(const Request& request, const QString& reason) const;
    ModbusOutcome unsentOutcome(const Request& request) const;

    QPointer<QModbusClient> device;
    QQueue<Request> queue;
    // The request on the line, while onLineReply is set.
    Request onLine;
    QPointer<QModbusReply> onLineReply;
    // Time the master had for the request on the line.
    QTimer workTick;
    QElapsedTimer sinceWorkTick;
    qint64 workedMs = 0;
    // Outcomes waiting for the event loop, in the order they came, and whether a delivery
    // of them is posted.
    QQueue<ModbusOutcome> undelivered;
    bool deliveryPosted = false;
    bool inMasterSignal = false;
    quint64 lastId = 0;
    // Counts connects, so that a takedown queued for a lost line leaves a later one alone.
    quint64 connection = 0;
    // Connected, and not yet ended.
    bool open = false;
    // The outcomes of a connection that ended are being reported.
    bool ending = false;
    // The line is known lost or was disconnected: nothing more goes out, and the master's
    // errors are no news, until the next connect.
    bool closedUntilConnect = false;
    QString connectError;
};
