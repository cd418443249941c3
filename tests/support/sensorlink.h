#pragma once

#include "ptypair.h"

#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

// The simulated sensor (tarvex_sensor_sim) on one end of a PtyPair; the
// program under test opens programPort(). Faults and register values are set
// with command(), whose syntax is the simulator's (see tarvex_sensor_sim.c):
//   exception FN ADDR CODE [COUNT]   silent FN ADDR [COUNT]   silent all on|off
//   delay FN ADDR MS [COUNT]         delay all MS
//   badcrc FN ADDR [COUNT]           countdelta FN ADDR DELTA [COUNT]
//   set ADDR VALUE   setfloat ADDR FLOAT   freeze on|off   clear
// COUNT counts matching requests, and every retry of the master is one more.
//
// Waiting functions run the event loop, so a master in the same thread keeps
// working while the test waits.
class SensorLink
{
public:
    // One frame the sensor received, in the order received.
    struct Request
    {
        qint64 msec = 0; // since the simulator started
        int slave = 0;
        int function = 0;
        int address = 0;
        int count = 0;
        QString action; // ok, exception, silent, delayed, badcrc, countdelta, ignored
        QVector<quint16> values; // written values for functions 6 and 16

        QString toString() const;
    };

    SensorLink();
    ~SensorLink();
    SensorLink(const SensorLink&) = delete;
    SensorLink& operator=(const SensorLink&) = delete;

    // Starts the pty pair if needed and the simulator with simArgs (--slave,
    // --version, ...), and waits until it listens. A sensor already running is
    // replaced; the program's port stays the same.
    bool start(const QStringList& simArgs = {});
    bool isSensorRunning() const;

    QString programPort() const;

    // Sends one command and waits until it is in effect. False on NAK or time-out.
    bool command(const QString& line, int timeoutMs = 5000);

    QList<Request> journal();
    bool waitForRequests(int n, int timeoutMs = 10000);
    void clearJournal();

    // Other lines from the simulator, e.g. "BADFRAME <msec> <reason>" for a
    // frame it could not take apart, "LOST <reason>" once the line is gone.
    QStringList notices();

    // Ends the pty pair under the program's feet; the simulator keeps running.
    void cutLine();
    void stopSensor();

    QString errorString() const;

private:
    bool fail(const QString& why);
    void readOutput();
    bool waitUntil(const std::function<bool()>& done, int timeoutMs);

    PtyPair m_pty;
    QProcess m_sim;
    bool m_ready = false;
    QList<Request> m_journal;
    QStringList m_replies;
    QStringList m_notices;
    QByteArray m_stderr;
    QString m_error;
};
