#pragma once
#include "trace_engine.h"

#include <QObject>

struct HopCount {
    int answered;
    int hops;
};
// The hops of the path so far and how many of them have answered.
HopCount CountHops(const HopRowList& rows);

// A one-line progress display on a terminal's stderr while the trace runs: the status
// and how many hops have answered. Cleared before the result is printed.
class ProgressLine final : public QObject {
    Q_OBJECT
public:
    ProgressLine(TraceEngine& engine, int fd);
    ~ProgressLine() override;
    void Clear();

private:
    void Show();

    TraceEngine& m_engine;
    int m_fd;
    bool m_shown = false;
};
