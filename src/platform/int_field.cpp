#include "int_field.h"

#include <climits>
#include <cstdint>

bool ParseIntField(const QString& text, int* value)
{
    const QString head = text.left(31);
    qsizetype i = 0;
    qsizetype end = head.size();
    auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    while (i < end && blank(head[i]))
        ++i;
    while (end > i && blank(head[end - 1]))
        --end;
    if (i == end)
        return false;

    const QChar first = head[i];
    bool negative = false;
    if (first == u'+' || first == u'-') {
        negative = first == u'-';
        ++i;
    }
    if (i == end)
        return false;

    int64_t magnitude = 0;
    for (qsizetype k = i; k < end; ++k) {
        const char16_t c = head[k].unicode();
        if (c < u'0' || c > u'9')
            return false;
        if (magnitude <= int64_t(INT_MAX) + 1) // beyond that it clamps anyway
            magnitude = magnitude * 10 + (c - u'0');
    }
    int64_t v = negative ? -magnitude : magnitude;
    v = v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : v;
    if (v == 0 && first != u'0')
        return false;
    *value = int(v);
    return true;
}
