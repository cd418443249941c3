#pragma once

#include <QString>

// Which register map and register-table file a firmware version uses.
struct RegisterTableChoice {
    bool found = false;
    int configStart = 0;
    int configEnd = 12;
    int stateStart = 13;
    int stateEnd = 46;
    QString fileName;
};

RegisterTableChoice registerTableForVersion(int version);
