#pragma once
#include "trace_engine.h"

#include <QObject>

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
