#include "string_table.h"
#include "resource.h"

namespace res {

QString LoadString(int id)
{
    switch (id) {
    case IDS_ABOUTBOX: return QStringLiteral("&About Hoplantern...");
    case IDP_SOCKETS_INIT_FAILED: return QStringLiteral("Windows sockets initialization failed.");
    default: return {};
    }
}

} // namespace res
