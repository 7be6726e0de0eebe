#include "csv_field.h"

#include <QString>

std::string CsvField(const std::string& cell)
{
    const std::string s = QString::fromStdString(cell).toStdString();
    if (s.find_first_of(",\"\r\n") == std::string::npos)
        return s;
    std::string out = "\"";
    for (const char c : s) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + "\"";
}
