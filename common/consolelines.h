#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

class QTextDecoder;

// Cuts the bytes that a raw serial line delivers into the lines of the console: UTF-8
// decoded with a decoder that keeps its state across arrivals, NUL bytes dropped, lines
// ended by CR, LF, CR LF or LF CR (a pair split between two arrivals is one terminator),
// and a line that runs past `lineLimit` characters without an end shown in pieces of that
// length (a line of exactly the limit waits for its next character, which may end it).
// The pieces fall in the same places however the bytes were chunked.
class ConsoleLineSplitter
{
public:
    explicit ConsoleLineSplitter(int lineLimit);
    ~ConsoleLineSplitter();
    ConsoleLineSplitter(const ConsoleLineSplitter&) = delete;
    ConsoleLineSplitter& operator=(const ConsoleLineSplitter&) = delete;

    // The complete lines (and full pieces) that `bytes` finishes, in order.
    QStringList feed(const QByteArray& bytes);
    // The port was opened again: a half character and a half terminator belonged to the
    // last opening and are forgotten; an unfinished line is kept, for the next opening's
    // text to complete.
    void portReopened();

private:
    int lineLimit;
    std::unique_ptr<QTextDecoder> decoder;
    QString pending;
    QChar pairedTerminatorExpected;
};
