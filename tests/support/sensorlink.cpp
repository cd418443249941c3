#include "sensorlink.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#ifndef TARVEX_SENSOR_SIM
#error "TARVEX_SENSOR_SIM must name the simulator binary"
#endif

QString SensorLink::Request::toString() const
{
    QStringList vals;
    for (quint16 v : values)
        vals << QString::number(v);
    return QStringLiteral("%1 ms slave %2 fn %3 addr %4 count %5 %6%7")
        .arg(msec)
        .arg(slave)
        .arg(function)
        .arg(address)
        .arg(count)
        .arg(action, vals.isEmpty() ? QString() : QStringLiteral(" [") + vals.join(QLatin1Char(' ')) + QLatin1Char(']'));
}

SensorLink::SensorLink()
{
    m_sim.setProcessChannelMode(QProcess::SeparateChannels);
    m_sim.setReadChannel(QProcess::StandardOutput);
    QObject::connect(&m_sim, &QProcess::readyReadStandardOutput, &m_sim, [this] { readOutput(); });
    QObject::connect(&m_sim, &QProcess::readyReadStandardError, &m_sim,
                     [this] { m_stderr += m_sim.readAllStandardError(); });
}

SensorLink::~SensorLink()
{
    stopSensor();
    m_pty.cut();
}

bool SensorLink::fail(const QString& why)
{
    m_error = why;
    qWarning("SensorLink: %s", qPrintable(why));
    return false;
}

bool SensorLink::start(const QStringList& simArgs)
{
    if (!m_pty.isRunning() && !m_pty.start())
        return fail(m_pty.errorString());
    stopSensor();
    m_ready = false;
    m_replies.clear();
    m_stderr.clear();

    const QString program = QStringLiteral(TARVEX_SENSOR_SIM);
    m_sim.start(program, QStringList{QStringLiteral("--port"), m_pty.peerPort()} + simArgs);
    if (!m_sim.waitForStarted(10000))
        return fail(QStringLiteral("cannot start %1: %2").arg(program, m_sim.errorString()));
    if (!waitUntil([this] { return m_ready; }, 10000)) {
        const QString why = m_sim.state() == QProcess::NotRunning
                                ? QStringLiteral("exited with code %1").arg(m_sim.exitCode())
                                : QStringLiteral("not ready after 10 s");
        const QString err = QString::fromLocal8Bit(m_stderr).trimmed();
        stopSensor();
        return fail(QStringLiteral("sensor simulator %1 %2: %3").arg(simArgs.join(QLatin1Char(' ')), why, err));
    }
    return true;
}

bool SensorLink::isSensorRunning() const
{
    return m_sim.state() == QProcess::Running;
}

QString SensorLink::programPort() const
{
    return m_pty.programPort();
}

void SensorLink::readOutput()
{
    while (m_sim.canReadLine()) {
        const QString line = QString::fromUtf8(m_sim.readLine()).trimmed();
        if (line.startsWith(QLatin1String("REQ "))) {
            const QStringList f = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            if (f.size() < 7) {
                m_notices << line;
                continue;
            }
            Request r;
            r.msec = f[1].toLongLong();
            r.slave = f[2].toInt();
            r.function = f[3].toInt();
            r.address = f[4].toInt();
            r.count = f[5].toInt();
            r.action = f[6];
            for (int i = 7; i < f.size(); ++i)
                r.values << quint16(f[i].toUInt());
            m_journal << r;
        } else if (line.startsWith(QLatin1String("ACK ")) || line.startsWith(QLatin1String("NAK "))) {
            m_replies << line;
        } else if (line == QLatin1String("READY")) {
            m_ready = true;
        } else if (!line.isEmpty()) {
            m_notices << line;
        }
    }
}

bool SensorLink::waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    readOutput();
    if (done())
        return true;
    if (m_sim.state() == QProcess::NotRunning)
        return false;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&m_sim, &QProcess::readyReadStandardOutput, &loop, [&] {
        readOutput();
        if (done())
            loop.quit();
    });
    QObject::connect(&m_sim, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &loop,
                     &QEventLoop::quit);
    timer.start(timeoutMs);
    loop.exec();
    readOutput();
    return done();
}

bool SensorLink::command(const QString& line, int timeoutMs)
{
    const QString cmd = line.trimmed();
    if (cmd.isEmpty() || cmd.contains(QLatin1Char('\n')))
        return fail(QStringLiteral("not a single command: '%1'").arg(line));
    if (!isSensorRunning())
        return fail(QStringLiteral("'%1': the sensor is not running").arg(cmd));
    m_sim.write((cmd + QLatin1Char('\n')).toUtf8());

    const QString ack = QStringLiteral("ACK ") + cmd;
    const QString nak = QStringLiteral("NAK ") + cmd + QLatin1Char(' ');
    QString reply;
    // Replies come in order; anything before ours belongs to a command that timed out.
    const auto answered = [&] {
        if (!reply.isEmpty())
            return true;
        while (!m_replies.isEmpty()) {
            const QString r = m_replies.takeFirst();
            if (r == ack || r.startsWith(nak)) {
                reply = r;
                return true;
            }
        }
        return false;
    };
    if (!waitUntil(answered, timeoutMs))
        return fail(QStringLiteral("'%1': no answer from the sensor within %2 ms").arg(cmd).arg(timeoutMs));
    if (reply != ack)
        return fail(QStringLiteral("'%1' refused: %2").arg(cmd, reply.mid(nak.size())));
    return true;
}

QList<SensorLink::Request> SensorLink::journal()
{
    QCoreApplication::processEvents();
    if (isSensorRunning())
        m_sim.waitForReadyRead(0);
    readOutput();
    return m_journal;
}

bool SensorLink::waitForRequests(int n, int timeoutMs)
{
    return waitUntil([&] { return m_journal.size() >= n; }, timeoutMs);
}

void SensorLink::clearJournal()
{
    journal();
    m_journal.clear();
}

QStringList SensorLink::notices()
{
    journal();
    return m_notices;
}

void SensorLink::cutLine()
{
    m_pty.cut();
}

void SensorLink::stopSensor()
{
    if (m_sim.state() == QProcess::NotRunning)
        return;
    // The simulator ends on EOF of its commands; keep what it said last.
    m_sim.closeWriteChannel();
    if (!m_sim.waitForFinished(5000)) {
        m_sim.terminate();
        if (!m_sim.waitForFinished(5000)) {
            m_sim.kill();
            m_sim.waitForFinished(5000);
        }
    }
    readOutput();
    m_stderr += m_sim.readAllStandardError();
}

QString SensorLink::errorString() const
{
    return m_error;
}
