#pragma once

// What the simulated sensor saw and what a window's status bar showed, for the tests
// of every edition's window against the sensor.

#include <QObject>
#include <QRegularExpression>
#include <QStatusBar>
#include <QStringList>
#include <QTableWidget>
#include <QTimer>

#include <functional>

#include "sensorlink.h"

namespace Journal {
inline bool isConfigRead(const SensorLink::Request& r)
{
    return r.function == 3 && r.address == 0;
}

inline bool isStateRead(const SensorLink::Request& r)
{
    return r.function == 3 && r.address == 13;
}

inline bool isWrite(const SensorLink::Request& r)
{
    return r.function == 16;
}

inline QList<SensorLink::Request> only(const QList<SensorLink::Request>& journal,
    const std::function<bool(const SensorLink::Request&)>& keep)
{
    QList<SensorLink::Request> out;
    for (const SensorLink::Request& r : journal) {
        if (keep(r))
            out << r;
    }
    return out;
}

inline QString describe(const QList<SensorLink::Request>& journal)
{
    QStringList lines;
    for (const SensorLink::Request& r : journal)
        lines << r.toString();
    return lines.join(QLatin1String("; "));
}
}

// The value and choice cells of a window's register tables.
struct RegisterTableCells {
    QTableWidget* cfg = nullptr;
    QTableWidget* status = nullptr;

    QString cfgValue(int row) const
    {
        const QTableWidgetItem* item = cfg->item(row, 2);
        return item ? item->text() : QStringLiteral("<no item>");
    }

    QStringList cfgValues() const
    {
        QStringList values;
        for (int row = 1; row < cfg->rowCount(); ++row)
            values << cfgValue(row);
        return values;
    }

    QString statusValue(int row) const
    {
        const QTableWidgetItem* item = status->item(row, 2);
        return item ? item->text() : QStringLiteral("<no item>");
    }

    QStringList statusValues() const
    {
        QStringList values;
        for (int row = 1; row < status->rowCount(); ++row)
            values << statusValue(row);
        return values;
    }

    QTableWidgetItem* choice(int row) const { return cfg->item(row, 3); }
    void tick(int row) const { choice(row)->setCheckState(Qt::Checked); }
    void setCfgValue(int row, const QString& text) const { cfg->item(row, 2)->setText(text); }
    QColor choiceColour(int row) const { return choice(row)->background().color(); }
};

// The texts of a log, each line checked against `form`, whose first capture is the text;
// lines that do not match, and a last line without its end, go to `malformed`.
inline QStringList logLineTexts(const QByteArray& log, const QRegularExpression& form, QStringList* malformed)
{
    const QString all = QString::fromUtf8(log);
    QStringList lines = all.split(QLatin1Char('\n'));
    if (!all.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    else if (!all.isEmpty() && malformed)
        *malformed << QStringLiteral("<no newline at the end>");
    QStringList texts;
    for (const QString& line : lines) {
        const QRegularExpressionMatch m = form.match(line);
        if (m.hasMatch())
            texts << m.captured(1);
        else if (malformed)
            *malformed << line;
    }
    return texts;
}

// How long the status bar keeps its current message, in ms (0: until replaced), read from
// the timer the status bar starts for it.
inline int messageDurationOf(const QStatusBar* bar)
{
    const QTimer* timer = bar->findChild<QTimer*>();
    return timer && timer->isActive() ? timer->interval() : 0;
}

// Every text the status bar showed, in order, and for how long each was to stay.
class StatusMessages : public QObject
{
public:
    explicit StatusMessages(QStatusBar* bar)
    {
        connect(bar, &QStatusBar::messageChanged, this, [this, bar](const QString& text) {
            ++m_changes;
            if (!text.isEmpty()) {
                m_shown << text;
                m_durations << messageDurationOf(bar);
            }
        });
    }
    QStringList shown() const { return m_shown; }
    // The duration each time `text` was shown.
    QList<int> durationsOf(const QString& text) const
    {
        QList<int> out;
        for (int i = 0; i < m_shown.size(); ++i) {
            if (m_shown.at(i) == text)
                out << m_durations.at(i);
        }
        return out;
    }
    int changes() const { return m_changes; }
    QStringList startingWith(const QString& prefix) const
    {
        QStringList found;
        for (const QString& text : m_shown) {
            if (text.startsWith(prefix))
                found << text;
        }
        return found;
    }

private:
    QStringList m_shown;
    QList<int> m_durations;
    int m_changes = 0;
};
