#pragma once
// The chart of one hop below the watch's table: its round trips over the last minute, ten
// minutes, hour, day or week, from the watch's history, drawn as the Timeline cells are
// (PaintTimeline), with the route changes marked and a tooltip for the period under the
// pointer: its time, round trips, loss and answering address.

#include "timeline.h"

#include <QWidget>

class QComboBox;
class WatchController;

class HopChart final : public QWidget {
    Q_OBJECT
public:
    enum Range { OneMinute, TenMinutes, OneHour, OneDay, SevenDays, RangeCount };

    explicit HopChart(const WatchController& watch, QWidget* parent = nullptr);

    void SetHop(int ttl);
    int hop() const { return m_ttl; }
    void SetRange(Range range);
    Range range() const;
    // Takes the figures as they are now and repaints.
    void Refresh();
    const TimelineSlice& slice() const { return m_slice; }
    // Where the points are drawn.
    QRectF PlotRect() const;
    // The tooltip's text for the point drawn at `pos`; empty where there is none.
    QString TextAt(const QPoint& pos) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    int IndexAt(double x) const;
    // Where the route changes at this hop fall, as point indices.
    std::vector<int> ChangeIndices() const;

    const WatchController& m_watch;
    QComboBox* m_cbRange = nullptr;
    int m_ttl = 0;
    TimelineSlice m_slice;
    bool m_bRounds = true; // points are rounds (else buckets of a tier)
    int64_t m_bucketUs = 0;
};
