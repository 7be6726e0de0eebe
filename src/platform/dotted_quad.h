#pragma once
#include <cstdint>

// Writes an IPv4 address given in host byte order as "%u.%u.%u.%u", most significant
// byte first, into buf (16 bytes suffice) and returns buf.
char* FormatDottedQuad(uint32_t addr, char* buf);
