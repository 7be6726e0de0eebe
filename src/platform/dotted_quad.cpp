#include "dotted_quad.h"

#include <cstdio>

char* FormatDottedQuad(uint32_t addr, char* buf)
{
    std::snprintf(
        buf, 16, "%u.%u.%u.%u", (addr >> 24) & 0xffu, (addr >> 16) & 0xffu, (addr >> 8) & 0xffu, addr & 0xffu);
    return buf;
}
