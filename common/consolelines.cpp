#include "consolelines.h"

#include <QTextCodec>

#include <algorithm>

// At least room for a surrogate pair, so that every cut moves on.
ConsoleLineSplitter::ConsoleLineSplitter(int lineLimit)
    : lineLimit(std::max(lineLimit, 2))
{
    portReopened();
}

ConsoleLineSplitter::~ConsoleLineSplitter() = default;

void ConsoleLineSplitter::portReopened()
{
    decoder.reset(QTextCodec::codecForName("UTF-8")->makeDecoder());
    pairedTerminatorExpected = QChar();
}

QStringList ConsoleLineSplitter::feed(const QByteArray& bytes)
{
    QByteArray kept = bytes;
    kept.resize(int(std::remove(kept.begin(), kept.end(), '\0') - kept.begin()));
    pending += decoder->toUnicode(kept);
    const QChar cr(u'\r');
    const QChar lf(u'\n');
    int start = 0;
    if (!pairedTerminatorExpected.isNull() && !pending.isEmpty()) {
        if (pending.at(0) == pairedTerminatorExpected)
            start = 1;
        pairedTerminatorExpected = QChar();
    }
    QStringList lines;
    for (;;) {
        // One character past the limit: a line of exactly the limit waits for the next
        // character, which may be its terminator.
        const int scanEnd = std::min<int>(pending.size(), start + lineLimit + 1);
        int end = start;
        while (end < scanEnd && pending.at(end) != cr && pending.at(end) != lf)
            ++end;
        if (end == scanEnd) {
            if (scanEnd - start <= lineLimit)
                break;
            // Never between the two halves of a surrogate pair.
            int cut = lineLimit;
            if (pending.at(start + cut - 1).isHighSurrogate())
                --cut;
            lines << pending.mid(start, cut);
            start += cut;
            continue;
        }
        const QChar other = pending.at(end) == cr ? lf : cr;
        int terminatorLength = 1;
        if (end + 1 < pending.size()) {
            if (pending.at(end + 1) == other)
                terminatorLength = 2;
        } else {
            pairedTerminatorExpected = other;
        }
        lines << pending.mid(start, end - start);
        start = end + terminatorLength;
    }
    pending.remove(0, start);
    return lines;
}
