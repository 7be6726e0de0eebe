#pragma once
#include <string>

// One field of an RFC 4180 record: a field holding a comma, a double quote, CR or LF is put
// in double quotes, with its quotes doubled; any other field is written as it is. Bytes that
// are not UTF-8 become U+FFFD, so the file is UTF-8 whatever a name brought. The caller
// joins fields with commas and ends every record with CRLF.
std::string CsvField(const std::string& cell);
