#pragma once
#include <QStringList>

// After the ICMP socket's set-up: false, with the reason and the remedy on stderr, when
// no answer can be received at all; else true, with a warning for each failed step.
bool ReportIcmpSetUp(bool canReceive, const QStringList& failures, int socketError);
