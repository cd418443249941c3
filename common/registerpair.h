#pragma once

#include <QtGlobal>

// Two consecutive state registers hold one IEEE-754 single; the register at the
// lower address carries the high 16 bits.
float floatFromRegisterPair(quint16 high, quint16 low);
