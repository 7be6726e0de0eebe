#pragma once
#include <QString>

// Reads an integer field the way the dialogs' data exchange always has: only the first
// 31 characters count; blanks and tabs around the number are skipped; an optional sign
// and decimal digits; values beyond 32 bits clamp to the nearest limit; a result of 0
// is accepted only when the number starts with the digit 0 (so "", "-0" and "+0" are
// rejected). False when the text is not such an integer; *value is then untouched.
bool ParseIntField(const QString& text, int* value);
