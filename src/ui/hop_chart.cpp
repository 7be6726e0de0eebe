#include "hop_chart.h"

#include "summary_table.h"
#include "timeline_painter.h"
#include "watch_controller.h"

#include <QComboBox>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

#include <algorithm>

namespace {

struct RangeShape {
    const char* text;
    int rounds; // > 0: the last rounds, a point each
    int level; // else: the history tier and how many of its buckets
    int buckets;
};
constexpr RangeShape kRanges[HopChart::RangeCount] = {
    { "1 min", 60, 0, 0 },
    { "10 min", 600, 0, 0 },
    { "1 h", 0, 0, 360 },
    { "24 h", 0, 1, 1440 },
    { "7 days", 0, 2, 672 },
};
constexpr int kMargin = 6;

} // namespace

HopChart::HopChart(const WatchController& watch, QWidget* parent)
    : QWidget(parent)
    , m_watch(watch)
    , m_cbRange(new QComboBox(this))
{
    for (const RangeShape& r : kRanges)
        m_cbRange->addItem(QString::fromLatin1(r.text));
    m_cbRange->setToolTip(QStringLiteral("The time the chart spans"));
    connect(m_cbRange, &QComboBox::currentIndexChanged, this, &HopChart::Refresh);
    setMinimumHeight(m_cbRange->sizeHint().height() + 40);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void HopChart::SetHop(int ttl)
{
    m_ttl = ttl;
    Refresh();
}

void HopChart::SetRange(Range range)
{
    m_cbRange->setCurrentIndex(int(range));
}

HopChart::Range HopChart::range() const
{
    return Range(std::clamp(m_cbRange->currentIndex(), 0, int(RangeCount) - 1));
}

void HopChart::Refresh()
{
    m_slice = {};
    const PathStats* stats = m_watch.stats();
    if (stats && m_ttl > 0) {
        const History& history = stats->history();
        const int lastTtl = std::max(stats->Figures().targetTtl, m_ttl);
        const RangeShape& shape = kRanges[range()];
        m_bRounds = shape.rounds > 0;
        if (m_bRounds) {
            const std::vector<TimelineSlice> slices
                = RecentRoundTimelines(history, lastTtl, m_watch.lastFinishedRound(), shape.rounds);
            if (size_t(m_ttl) <= slices.size()) {
                // The hop's own scale, not the table's: the chart is about this hop.
                std::vector<TimelineSlice> one { slices[size_t(m_ttl - 1)] };
                ShareScale(one);
                m_slice = std::move(one.front());
            }
        } else {
            m_bucketUs = kHistoryTiers[size_t(shape.level)].widthUs;
            const HopHistory* hop = history.Hop(m_ttl);
            const int64_t newest = hop ? hop->tier(size_t(shape.level)).newestPeriod() * m_bucketUs : 0;
            m_slice = BucketTimeline(history, m_ttl, lastTtl, size_t(shape.level), newest, shape.buckets);
        }
    }
    update();
}

QRectF HopChart::PlotRect() const
{
    const int top = m_cbRange->geometry().bottom() + kMargin;
    const int bottom = fontMetrics().height() + kMargin;
    return QRectF(kMargin, top, width() - 2 * kMargin, height() - top - bottom).normalized();
}

int HopChart::IndexAt(double x) const
{
    const QRectF plot = PlotRect();
    const auto n = int(m_slice.points.size());
    if (n == 0 || x < plot.left() || x >= plot.right())
        return -1;
    return std::clamp(int((x - plot.left()) / plot.width() * n), 0, n - 1);
}

std::vector<int> HopChart::ChangeIndices() const
{
    std::vector<int> out;
    const PathStats* stats = m_watch.stats();
    if (!stats || m_slice.points.empty())
        return out;
    for (const RouteChange& change : stats->routeChanges().changes()) {
        const bool here = change.newTargetTtl != change.oldTargetTtl
            || std::any_of(change.hops.begin(), change.hops.end(), [&](const HopChange& h) { return h.ttl == m_ttl; });
        if (!here)
            continue;
        const int64_t at = m_bRounds
            ? change.round - m_slice.points.front().round
            : (change.timeUs - m_slice.points.front().timeUs) / std::max<int64_t>(m_bucketUs, 1);
        if (at >= 0 && at < int64_t(m_slice.points.size()))
            out.push_back(int(at));
    }
    return out;
}

void HopChart::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Base));
    const QRectF plot = PlotRect();
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(plot.adjusted(-0.5, -0.5, 0.5, 0.5));
    PaintTimeline(painter, plot, m_slice, palette());

    // Route changes: a dashed line where each falls.
    QPen dashed(palette().color(QPalette::Highlight), 1, Qt::DashLine);
    painter.setPen(dashed);
    const double w = m_slice.points.empty() ? 0 : plot.width() / double(m_slice.points.size());
    for (int i : ChangeIndices())
        painter.drawLine(QPointF(plot.left() + i * w, plot.top()), QPointF(plot.left() + i * w, plot.bottom()));

    // Headings: the hop and the scale at the top, the span below.
    painter.setPen(palette().color(QPalette::Text));
    const int line = fontMetrics().height();
    QString heading = m_ttl > 0 ? QStringLiteral("Hop %1").arg(m_ttl) : QString();
    if (m_slice.scaleUs > 0)
        heading += QStringLiteral("   0\u2013%1 ms").arg(MillisecondsText(m_slice.scaleUs));
    painter.drawText(QRectF(kMargin, 0, m_cbRange->x() - 2 * kMargin, m_cbRange->height()),
        Qt::AlignLeft | Qt::AlignVCenter, heading);
    painter.drawText(QRectF(plot.left(), plot.bottom() + 2, plot.width(), line), Qt::AlignLeft | Qt::AlignTop,
        QStringLiteral("\u2212%1").arg(m_cbRange->currentText()));
    painter.drawText(QRectF(plot.left(), plot.bottom() + 2, plot.width(), line), Qt::AlignRight | Qt::AlignTop,
        QStringLiteral("now"));
}

QString HopChart::TextAt(const QPoint& pos) const
{
    const int i = IndexAt(pos.x());
    const PathStats* stats = m_watch.stats();
    if (i < 0 || !stats)
        return {};
    const TimelinePoint& p = m_slice.points[size_t(i)];
    if (p.decided == 0 && !p.medianUs)
        return {}; // before the watch began, or nothing known yet
    QStringList lines;
    if (m_bRounds) {
        if (const PathWatch* watch = m_watch.watch())
            lines << m_watch.WallTimeOf(watch->RoundDueUs(p.round)).toLocalTime().toString(QStringLiteral("HH:mm:ss"));
    } else {
        const QString format = m_bucketUs >= 60'000'000 ? QStringLiteral("ddd HH:mm") : QStringLiteral("HH:mm:ss");
        lines << QStringLiteral("%1 \u2013 %2")
                     .arg(m_watch.WallTimeOf(p.timeUs).toLocalTime().toString(format),
                         m_watch.WallTimeOf(p.timeUs + m_bucketUs).toLocalTime().toString(format));
    }
    if (p.medianUs)
        lines << QStringLiteral("RTT %1 ms (%2\u2013%3)")
                     .arg(MillisecondsText(p.medianUs), MillisecondsText(p.p10Us), MillisecondsText(p.p90Us));
    if (m_bRounds && p.decided > 0)
        lines << (p.lost == 0       ? QStringLiteral("answered")
                : p.forwardLost > 0 ? QStringLiteral("lost, the loss carrying on down the path")
                                    : QStringLiteral("lost: the router declined to answer"));
    else if (p.decided > 0)
        lines << QStringLiteral("lost %1 of %2, %3 carried on").arg(p.lost).arg(p.decided).arg(p.forwardLost);
    // A round names its answerer; a longer period the address the route had then.
    AddressId id = p.address;
    if (!m_bRounds) {
        const HopStats* hop = stats->Hop(m_ttl);
        const HopFigures figures = hop ? hop->Figures() : HopFigures {};
        id = figures.addresses.empty() ? kNoAddress : figures.addresses.front().address;
        for (const RouteChange& change : stats->routeChanges().changes()) {
            if (change.timeUs > p.timeUs + m_bucketUs)
                break;
            for (const HopChange& h : change.hops) {
                if (h.ttl == m_ttl)
                    id = h.newAddress;
            }
        }
    }
    const NetAddress& address = stats->addresses().At(id);
    if (address.valid())
        lines << QString::fromStdString(address.ToText());
    return lines.join(u'\n');
}

bool HopChart::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString text = TextAt(help->pos());
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), text, this);
        return true;
    }
    if (event->type() == QEvent::Resize)
        m_cbRange->move(width() - m_cbRange->sizeHint().width() - kMargin, kMargin / 2);
    return QWidget::event(event);
}
