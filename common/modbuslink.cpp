#include "modbuslink.h"

#include <QCoreApplication>
#include <QModbusClient>
#include <QModbusReply>
#include <QThread>
#include <QVariant>

#include <algorithm>
#include <utility>

#include "writerequest.h"

namespace {
// The link's texts are shown by the windows, in their context.
QString windowText(const char* text)
{
    return QCoreApplication::translate("MainWindow", text);
}
}

QList<quint16> ModbusOutcome::values() const
{
    QList<quint16> out;
    for (uint i = 0; i < unit.valueCount(); ++i)
        out << unit.value(int(i));
    return out;
}

ModbusLink::ModbusLink(QModbusClient* device, QObject* parent)
    : QObject(parent)
    , device(device)
{
    qRegisterMetaType<ModbusOutcome>();
    // Never earlier than its interval, so a tick never counts more time than has passed.
    workTick.setTimerType(Qt::PreciseTimer);
    workTick.setInterval(workTickMs);
    connect(&workTick, &QTimer::timeout, this, &ModbusLink::countWorkTime);
    // Directly, inside the master's own call: a line that went away raises errors
    // without end, and each must be seen as it comes.
    connect(device, &QModbusDevice::errorOccurred, this, &ModbusLink::onDeviceError, Qt::DirectConnection);
    connect(device, &QModbusDevice::stateChanged, this, &ModbusLink::onStateChanged);
}

ModbusLink::~ModbusLink()
{
    // Nothing is reported on the way out.
    workTick.stop();
    if (onLineReply)
        onLineReply->disconnect(this);
    if (device)
        device->disconnect(this);
}

bool ModbusLink::slaveAddress(const QString& text, int& address, QString& problem)
{
    bool ok = false;
    address = text.toInt(&ok, 10);
    if (ok && address >= 1 && address <= 247)
        return true;
    problem = windowText("недопустимый адрес устройства \"%1\" (нужно целое число от 1 до 247)").arg(text);
    return false;
}

bool ModbusLink::connected() const
{
    return device && device->state() == QModbusDevice::ConnectedState;
}

bool ModbusLink::connectDevice(const LineSettings& line)
{
    if (!device)
        return false;
    if (open || ending) {
        connectError = windowText("предыдущее подключение ещё не завершено");
        return false;
    }
    device->setConnectionParameter(QModbusDevice::SerialPortNameParameter, QVariant(line.portName));
    device->setConnectionParameter(QModbusDevice::SerialParityParameter, QVariant(line.parity));
    device->setConnectionParameter(QModbusDevice::SerialBaudRateParameter, QVariant(line.baudRate));
    device->setConnectionParameter(QModbusDevice::SerialDataBitsParameter, QVariant(line.dataBits));
    device->setConnectionParameter(QModbusDevice::SerialStopBitsParameter, QVariant(line.stopBits));
    device->setTimeout(line.timeoutMs);
    device->setNumberOfRetries(line.retries);
    // Counted and heard only once it is open: what the master raises about the closed port
    // of the last connection stays no news.
    if (!device->connectDevice()) {
        connectError = device->errorString();
        return false;
    }
    ++connection;
    closedUntilConnect = false;
    open = true;
    return true;
}

QString ModbusLink::connectErrorString() const
{
    return connectError;
}

quint64 ModbusLink::connectionCount() const
{
    return connection;
}

void ModbusLink::disconnectDevice()
{
    endConnection();
}

int ModbusLink::givenUpAfterMs() const
{
    if (!device)
        return givenUpMarginMs;
    return device->timeout() * (device->numberOfRetries() + 1) + givenUpMarginMs;
}

quint64 ModbusLink::read(const QString& slaveText, int start, int count, bool statusRead)
{
    if (statusRead && statusReadOutstanding())
        return 0;
    Request request;
    request.id = ++lastId;
    request.statusRead = statusRead;
    request.start = start;
    request.count = count;
    enqueue(slaveText, request);
    return request.id;
}

quint64 ModbusLink::write(const QString& slaveText, int address, const QList<quint16>& values)
{
    const Request request = writeRequest(address, values);
    enqueue(slaveText, request);
    return request.id;
}

ModbusOutcome ModbusLink::writeAndWait(const QString& slaveText, int address, const QList<quint16>& values)
{
    const Request request = writeRequest(address, values);
    // Heard from before it is queued: a refusal is reported at once when nothing is ahead.
    ModbusOutcome outcome;
    const QMetaObject::Connection capture
        = connect(this, &ModbusLink::finished, this, [&outcome, id = request.id](const ModbusOutcome& reported) {
              if (reported.id == id)
                  outcome = reported;
          });
    enqueue(slaveText, request);
    waitFor(request.id);
    disconnect(capture);
    return outcome;
}

ModbusLink::Request ModbusLink::writeRequest(int address, const QList<quint16>& values)
{
    Request request;
    request.id = ++lastId;
    request.isWrite = true;
    request.start = address;
    request.values = values;
    request.count = values.size();
    return request;
}

bool ModbusLink::statusReadOutstanding() const
{
    if (onLineReply && onLine.statusRead)
        return true;
    const auto isStatusRead = [](const auto& item) { return item.statusRead; };
    return std::any_of(queue.cbegin(), queue.cend(), isStatusRead)
        || std::any_of(undelivered.cbegin(), undelivered.cend(), isStatusRead);
}

bool ModbusLink::outstanding(quint64 id) const
{
    if (onLineReply && onLine.id == id)
        return true;
    const auto hasId = [id](const auto& item) { return item.id == id; };
    return std::any_of(queue.cbegin(), queue.cend(), hasId)
        || std::any_of(undelivered.cbegin(), undelivered.cend(), hasId);
}

void ModbusLink::waitFor(quint64 id)
{
    // Bounded: the request on the line is given up after givenUpAfterMs() of time in
    // which the master could work, and that drops everything queued behind it.
    while (outstanding(id)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QThread::msleep(10);
    }
}

void ModbusLink::enqueue(const QString& slaveText, Request request)
{
    // An invalid address is refused in the request's turn, so that outcomes keep their order.
    QString problem;
    if (!slaveAddress(slaveText, request.server, problem))
        request.refusal = problem;
    if (!open) {
        report(unsentOutcome(request));
        return;
    }
    queue.enqueue(request);
    sendNext();
}

// The master takes requests only while the connection is open and its line not known lost;
// what is queued meanwhile waits for the end of the connection, which drops it.
bool ModbusLink::sending() const
{
    return open && !closedUntilConnect && connected();
}

void ModbusLink::sendNext()
{
    while (sending() && !onLineReply && !queue.isEmpty())
        dispatch(queue.dequeue());
}

void ModbusLink::dispatch(const Request& request)
{
    if (!request.refusal.isEmpty()) {
        report(refusalOf(request, request.refusal));
        return;
    }
    QModbusReply* reply = nullptr;
    if (device) {
        reply = request.isWrite
            ? device->sendRawRequest(writeRegistersRequest(request.start, request.values), request.server)
            : device->sendReadRequest(
                QModbusDataUnit(QModbusDataUnit::HoldingRegisters, request.start, quint16(request.count)),
                request.server);
    }
    if (!reply) {
        report(refusalOf(request, device ? device->errorString() : QString()));
        return;
    }
    if (reply->isFinished()) {
        const ModbusOutcome outcome = evaluate(request, *reply);
        reply->deleteLater();
        report(outcome);
        return;
    }
    onLine = request;
    onLineReply = reply;
    workedMs = 0;
    sinceWorkTick.start();
    workTick.start();
    connect(reply, &QModbusReply::finished, this, [this, reply] { onReplyFinished(reply); });
}

void ModbusLink::onReplyFinished(QModbusReply* reply)
{
    reply->deleteLater();
    if (reply != onLineReply)
        return;
    workTick.stop();
    onLineReply = nullptr;
    const ModbusOutcome outcome = evaluate(onLine, *reply);
    // The master sends nothing more until its signal returns, so whatever this reports
    // reaches the handlers from the event loop: a handler that opens a message box must
    // not hold the line up. The next request goes to the master at once, and a refusal of
    // it comes behind this outcome.
    inMasterSignal = true;
    report(outcome);
    sendNext();
    inMasterSignal = false;
}

ModbusOutcome ModbusLink::evaluate(const Request& request, const QModbusReply& reply) const
{
    if (reply.error() == QModbusDevice::ReplyAbortedError)
        return outcomeFor(request, ModbusOutcome::Dropped);
    if (reply.error() != QModbusDevice::NoError) {
        ModbusOutcome outcome = outcomeFor(request, ModbusOutcome::Failed);
        outcome.error = reply.error();
        outcome.errorString = reply.errorString();
        outcome.exceptionCode = int(reply.rawResult().exceptionCode());
        return outcome;
    }
    // The master pairs an answer with its request by server and function only, so a late
    // answer to an earlier request can end this one. A write's echo names its registers;
    // a read's answer carries only its count (the master fills in the start it asked for).
    int start = -1;
    int count = -1;
    QModbusDataUnit unit;
    if (request.isWrite) {
        if (!writeRegistersEcho(reply.rawResult(), start, count)) {
            start = -1;
            count = -1;
        }
    } else {
        unit = reply.result();
        start = unit.startAddress();
        count = int(unit.valueCount());
    }
    if (start != request.start || count != request.count) {
        ModbusOutcome outcome = outcomeFor(request, ModbusOutcome::Mismatch);
        outcome.receivedStart = start;
        outcome.receivedCount = count;
        return outcome;
    }
    ModbusOutcome outcome = outcomeFor(request, ModbusOutcome::Done);
    outcome.unit = unit;
    return outcome;
}

void ModbusLink::countWorkTime()
{
    if (!onLineReply)
        return;
    workedMs += std::min<qint64>(sinceWorkTick.restart(), workTickMs);
    if (workedMs < givenUpAfterMs())
        return;
    // A working master always ends a request within its time-out and retries; one that
    // does not is stuck, and whatever it still holds must never go out later.
    ModbusOutcome outcome = outcomeFor(onLine, ModbusOutcome::GivenUp);
    outcome.error = QModbusDevice::TimeoutError;
    outcome.errorString = windowText("ответ не получен за %1 мс").arg(givenUpAfterMs());
    takeLinkDown(outcome);
}

void ModbusLink::onDeviceError(QModbusDevice::Error error)
{
    if (error == QModbusDevice::NoError || closedUntilConnect)
        return;
    emit deviceError(error, device ? device->errorString() : QString());
    // A line that went away leaves the master connected and raising errors without end;
    // take it down once, outside the port's own signal.
    const bool lineFault = error == QModbusDevice::ReadError || error == QModbusDevice::WriteError
        || error == QModbusDevice::ConnectionError;
    if (lineFault && connected()) {
        closedUntilConnect = true;
        const quint64 lost = connection;
        QMetaObject::invokeMethod(
            this,
            [this, lost] {
                if (lost == connection)
                    takeLinkDown();
            },
            Qt::QueuedConnection);
    }
}

void ModbusLink::onStateChanged(QModbusDevice::State state)
{
    if (state == QModbusDevice::UnconnectedState)
        endConnection();
}

// Every end of a connection comes here: the user's disconnect, a lost line, a master that
// stopped finishing requests, and a master that closed by itself. First the connection comes
// off the line: the request on it is detached, the queue emptied and the master disconnected,
// so that nothing more of it can go out, even from a handler that runs an event loop of its
// own. Then what it leaves is reported, in the order of its requests: what still waited for
// the event loop (see settleUndelivered), the request that was on the line (aborted, or the
// verdict that ended it), and those not yet sent, none of them reported as a failure, but a
// request refused for its slave address stays refused. Until the last of these is out, no
// new connection opens. From now until the next connect, what the master raises about the
// closed port is no news: a request handed over in this turn of the event loop goes out from
// the master's own timer, which then fires on the closed port.
void ModbusLink::endConnection(const std::optional<ModbusOutcome>& onLineVerdict)
{
    if (!open)
        return;
    open = false;
    ending = true;
    closedUntilConnect = true;
    settleUndelivered();
    if (onLineReply)
        undelivered.enqueue(onLineVerdict ? *onLineVerdict : outcomeFor(onLine, ModbusOutcome::Dropped));
    detachOnLine();
    while (!queue.isEmpty())
        undelivered.enqueue(unsentOutcome(queue.dequeue()));
    if (connected())
        device->disconnectDevice();
    drainUndelivered();
    ending = false;
}

void ModbusLink::takeLinkDown(const std::optional<ModbusOutcome>& onLineVerdict)
{
    if (!open)
        return;
    endConnection(onLineVerdict);
    emit lineLost();
}

void ModbusLink::detachOnLine()
{
    workTick.stop();
    if (onLineReply) {
        // The master still finishes it; the answer decides nothing any more.
        onLineReply->disconnect(this);
        connect(onLineReply.data(), &QModbusReply::finished, onLineReply.data(), &QObject::deleteLater);
    }
    onLineReply = nullptr;
}

// The connection ends: an answer to a read that still waits for the event loop decides
// nothing once its line is gone, as the read on the line does not, and is dropped; a write
// that the sensor took stays done, and the link's own verdicts (refused, given up) stand.
void ModbusLink::settleUndelivered()
{
    for (ModbusOutcome& outcome : undelivered) {
        const bool answer = outcome.kind == ModbusOutcome::Done || outcome.kind == ModbusOutcome::Failed
            || outcome.kind == ModbusOutcome::Mismatch;
        if (answer && !outcome.isWrite) {
            ModbusOutcome dropped;
            dropped.kind = ModbusOutcome::Dropped;
            dropped.id = outcome.id;
            dropped.statusRead = outcome.statusRead;
            dropped.requestedStart = outcome.requestedStart;
            dropped.requestedCount = outcome.requestedCount;
            outcome = dropped;
        }
    }
}

void ModbusLink::report(const ModbusOutcome& outcome)
{
    // In order: nothing overtakes an outcome that still waits for the event loop.
    if (!inMasterSignal && undelivered.isEmpty()) {
        emit finished(outcome);
        return;
    }
    undelivered.enqueue(outcome);
    postDelivery();
}

void ModbusLink::postDelivery()
{
    if (deliveryPosted)
        return;
    deliveryPosted = true;
    QMetaObject::invokeMethod(this, &ModbusLink::deliverUndelivered, Qt::QueuedConnection);
}

void ModbusLink::deliverUndelivered()
{
    deliveryPosted = false;
    drainUndelivered();
}

// Reports the outcomes waiting for the event loop, whatever comes behind them meanwhile.
void ModbusLink::drainUndelivered()
{
    while (!undelivered.isEmpty()) {
        const ModbusOutcome outcome = undelivered.dequeue();
        // A handler that runs an event loop of its own (a message box) must not hold up
        // what comes after: that is delivered from inside it.
        if (!undelivered.isEmpty())
            postDelivery();
        emit finished(outcome);
    }
}

ModbusOutcome ModbusLink::outcomeFor(const Request& request, ModbusOutcome::Kind kind) const
{
    ModbusOutcome outcome;
    outcome.kind = kind;
    outcome.id = request.id;
    outcome.isWrite = request.isWrite;
    outcome.statusRead = request.statusRead;
    outcome.requestedStart = request.start;
    outcome.requestedCount = request.count;
    return outcome;
}

// A request that never goes out is dropped, but a refusal was decided when it was made and
// waited only to keep its place.
ModbusOutcome ModbusLink::unsentOutcome(const Request& request) const
{
    return request.refusal.isEmpty() ? outcomeFor(request, ModbusOutcome::Dropped)
                                     : refusalOf(request, request.refusal);
}

ModbusOutcome ModbusLink::refusalOf(const Request& request, const QString& reason) const
{
    ModbusOutcome outcome = outcomeFor(request, ModbusOutcome::Refused);
    outcome.errorString = reason;
    return outcome;
}
