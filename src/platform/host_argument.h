#pragma once
#include <QString>

// The host a text names, as both programs take it from their command line and the
// window from its host field: the white space around it (a pasted address often ends in
// a blank or a line break) is no part of it, and of a URL ("http://host.example/", as the
// desktop entry passes one) only the host counts, an IPv6 address without its brackets.
QString HostFromArgument(const QString& text);
