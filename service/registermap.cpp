#include "registermap.h"

RegisterTableChoice registerTableForVersion(int version)
{
    struct Row {
        int from;
        int to;
        int stateEnd;
        const char* fileName;
    };
    static const Row rows[] = {
        {1, 10, 28, "table_10.rgt"},
        {11, 11, 28, "table_11.rgt"},
        {12, 14, 46, "table_12.rgt"},
        {10013, 10014, 52, "table_10013.rgt"},
    };
    RegisterTableChoice choice;
    for (const Row& row : rows) {
        if (version >= row.from && version <= row.to) {
            choice.found = true;
            choice.stateEnd = row.stateEnd;
            choice.fileName = QString::fromLatin1(row.fileName);
            break;
        }
    }
    return choice;
}
