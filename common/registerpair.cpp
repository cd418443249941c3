#include "registerpair.h"

#include <cstring>

float floatFromRegisterPair(quint16 high, quint16 low)
{
    const quint32 word = (quint32(high) << 16) | low;
    float value;
    std::memcpy(&value, &word, sizeof value);
    return value;
}
