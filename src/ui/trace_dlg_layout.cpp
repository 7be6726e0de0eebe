// The main window's layout when its size changes: the host field, the status line and
// the results list take all of the change, the rest of the top row follows the right
// edge, and "About...", "Target:" and the target address follow the bottom-right corner.
// The host field and the list have floors that set the window's minimum size.
#include "resource.h"
#include "trace_dlg.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QResizeEvent>
#include <QScreen>

#include <algorithm>

namespace {

// Left to right; moved in the opposite order when the window grows, so that no control
// is ever placed over a neighbour that has not moved yet.
constexpr int kTopRow[] = { IDC_TRIES, IDC_TRIES_LABEL, IDC_HOPS, IDC_HOPS_LABEL, IDC_TIMEOUT, IDC_MS_LABEL, IDC_FAMILY,
    IDC_FIXED_FLOW, IDC_WATCH, IDOK };
constexpr int kBottomRight[] = { IDC_ABOUT, IDC_TARGET_LABEL, IDC_TARGET };

void Shift(QWidget* w, int dx, int dy)
{
    if (w)
        w->move(w->pos() + QPoint(dx, dy));
}

template <size_t N> void ShiftAll(const CTraceDlg& dlg, const int (&ids)[N], int dx, int dy)
{
    if (dx < 0) {
        for (size_t i = 0; i < N; ++i)
            Shift(dlg.GetDlgItem(ids[i]), dx, dy);
    } else {
        for (size_t i = N; i-- > 0;)
            Shift(dlg.GetDlgItem(ids[i]), dx, dy);
    }
}

} // namespace

hl::WindowRect CTraceDlg::GetWindowRect() const
{
    const QRect r = frameGeometry();
    return { r.x(), r.y(), r.x() + r.width(), r.y() + r.height() };
}

hl::WindowRect CTraceDlg::GetRestoredWindowRect() const
{
    // Opened maximised and not restored since: the rectangle it was opened over, exactly,
    // so that a window kept maximised run after run keeps its rectangle too.
    if (m_bRefitFrame)
        return m_rcRestored;
    // Otherwise with the frame as the window has it now; a maximised window's may be
    // thinner, so this may be off by that difference, once.
    const QMargins frame(geometry().left() - frameGeometry().left(), geometry().top() - frameGeometry().top(),
        frameGeometry().right() - geometry().right(), frameGeometry().bottom() - geometry().bottom());
    const QRect r = normalGeometry().marginsAdded(frame);
    return { r.x(), r.y(), r.x() + r.width(), r.y() + r.height() };
}

void CTraceDlg::MoveWindow(const hl::WindowRect& rect)
{
    WindowPos pos { rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, 0 };
    OnWindowPosChanging(&pos);
    const QSize frame = frameGeometry().size() - size();
    move(pos.x, pos.y);
    resize(pos.cx - frame.width(), pos.cy - frame.height());
}

void CTraceDlg::FitToScreen(hl::WindowRect& rect) const
{
    // The screen the rectangle is on, or for one saved on a screen that is gone (or
    // never was here), the window's own.
    const QRect r(QPoint(rect.left, rect.top), QPoint(rect.right - 1, rect.bottom - 1));
    const QScreen* s = QGuiApplication::screenAt(r.center());
    if (!s)
        s = screen();
    if (!s)
        return;
    const QRect area = s->availableGeometry();
    // The floors hold even on a screen smaller than they are; the window's left part, with
    // the host field, then stays on it.
    const QSize floor = minimumSize() + (frameGeometry().size() - size());
    const int cx = std::max(std::min(r.width(), area.width()), floor.width());
    const int cy = std::max(std::min(r.height(), area.height()), floor.height());
    const int x = std::max(area.left(), std::min(r.left(), area.right() + 1 - cx));
    const int y = std::max(area.top(), std::min(r.top(), area.bottom() + 1 - cy));
    rect = { x, y, x + cx, y + cy };
}

void CTraceDlg::OnWindowPosChanging(WindowPos* pos)
{
    // Into or out of the minimised state: the controls stay as they are.
    if ((pos->flags & (SWP_STATECHANGED | SWP_NOCOPYBITS)) == (SWP_STATECHANGED | SWP_NOCOPYBITS))
        return;
    const QRect frame = frameGeometry();
    const QSize outer = m_sizeLaidOut + (frame.size() - size());
    if (pos->cx == outer.width() && pos->cy == outer.height())
        return; // moved, not resized
    if (pos->flags & (SWP_NOSIZE | SWP_NOMOVE))
        return;

    QWidget* area = ResultsArea();
    const QRect list = area->geometry();
    const QRect host = m_editHost->geometry();
    const QRect status = m_stStatus->geometry();
    int dx = pos->cx - outer.width();
    int dy = pos->cy - outer.height();
    // At a floor the window keeps the edge that was not dragged.
    if (host.width() + dx < kHostFieldMinWidth) {
        dx = kHostFieldMinWidth - host.width();
        pos->cx = outer.width() + dx;
        pos->x = frame.x();
    }
    if (list.height() + dy < kResultsMinHeight) {
        dy = kResultsMinHeight - list.height();
        pos->cy = outer.height() + dy;
        pos->y = frame.y();
    }

    area->setGeometry(list.adjusted(0, 0, dx, dy));
    m_editHost->setGeometry(host.adjusted(0, 0, dx, 0));
    m_stStatus->setGeometry(status.adjusted(0, dy, dx, dy));
    ShiftAll(*this, kTopRow, dx, 0);
    ShiftAll(*this, kBottomRight, dx, dy);
    m_sizeLaidOut += QSize(dx, dy);
}

void CTraceDlg::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    // A minimised window keeps its controls; a later size change is measured from the
    // size they were last placed for, so nothing is lost meanwhile.
    if (isMinimized())
        return;
    const QRect frame = frameGeometry();
    const QSize extra = frame.size() - size();
    WindowPos pos { frame.x(), frame.y(), width() + extra.width(), height() + extra.height(), 0 };
    OnWindowPosChanging(&pos);
    // Only a size that ignored the minimum size comes back corrected.
    const QSize corrected(pos.cx - extra.width(), pos.cy - extra.height());
    if (corrected != size())
        resize(corrected);
}

void CTraceDlg::moveEvent(QMoveEvent* event)
{
    QDialog::moveEvent(event);
    RefitToFrame();
}

void CTraceDlg::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        // By the first activation the window manager has framed the window, or never will.
        // A window opened maximised waits until it is restored, below.
        RefitToFrame();
        if (!isMaximized())
            m_bRefitFrame = false;
    }
    if (event->type() == QEvent::WindowStateChange)
        RefitToFrame();
}

void CTraceDlg::RefitToFrame()
{
    // A maximised window has the size the screen gives it; the rectangle is applied once
    // the window is restored, with the frame known by then.
    if (!m_bRefitFrame || !isVisible() || isMaximized())
        return;
    if (frameGeometry().size() == size())
        return; // no frame yet
    m_bRefitFrame = false;
    MoveWindow(m_rcRestored);
}
