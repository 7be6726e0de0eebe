#include "flat_button.h"
#include "dialog_builder.h"

#include <QDialog>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QVariant>

namespace {

constexpr int IDOK = 1;

// Centred on one line; an ampersand underlines the next letter, as button texts always did.
constexpr int kTextFormat = Qt::AlignCenter | Qt::TextSingleLine | Qt::TextShowMnemonic;

// One 1-pixel ring just inside `r`: the top and left sides in `topLeft`, the bottom and
// right sides in `bottomRight`, which take the two corners where the sides meet.
void DrawRing(QPainter& dc, const QRect& r, const QColor& topLeft, const QColor& bottomRight)
{
    if (r.width() <= 0 || r.height() <= 0)
        return;
    dc.fillRect(QRect(r.left(), r.top(), r.width() - 1, 1), topLeft);
    dc.fillRect(QRect(r.left(), r.top(), 1, r.height() - 1), topLeft);
    dc.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), bottomRight);
    dc.fillRect(QRect(r.right(), r.top(), 1, r.height()), bottomRight);
}

// The three edges the button uses, each two rings: outer ring on the rectangle, inner ring
// one pixel inside. Raised rings are lit at the top and left and dark at the bottom and
// right, sunken rings the reverse, in the palette's 3-D colours.
enum class Edge { Etched, Raised, Sunken };

void DrawEdge(QPainter& dc, const QRect& r, Edge edge, const QPalette& pal)
{
    const QColor light = pal.color(QPalette::Light); // highlight
    const QColor midlight = pal.color(QPalette::Midlight); // light 3-D
    const QColor dark = pal.color(QPalette::Dark); // shadow
    const QColor shadow = pal.color(QPalette::Shadow); // dark shadow
    const QRect inner = r.adjusted(1, 1, -1, -1);
    switch (edge) {
    case Edge::Etched: // a sunken outer ring around a raised inner ring: a groove
        DrawRing(dc, r, dark, light);
        DrawRing(dc, inner, light, dark);
        break;
    case Edge::Raised:
        DrawRing(dc, r, midlight, shadow);
        DrawRing(dc, inner, light, dark);
        break;
    case Edge::Sunken:
        DrawRing(dc, r, dark, light);
        DrawRing(dc, inner, shadow, midlight);
        break;
    }
}

// A 1-pixel rectangle outline just inside `r`.
void FrameRect(QPainter& dc, const QRect& r, const QColor& color)
{
    DrawRing(dc, r, color, color);
}

} // namespace

// Every handler that may change the state or the focus flag ends with this check: a
// change repaints the whole button, nothing else does.
class CFlatButton::RepaintCheck {
public:
    explicit RepaintCheck(CFlatButton* button)
        : m_pButton(button)
        , m_nState(button->m_nState)
        , m_bFocus(button->m_bFocus)
    {
    }
    ~RepaintCheck()
    {
        if (m_pButton->m_nState != m_nState || m_pButton->m_bFocus != m_bFocus)
            m_pButton->update();
    }
    RepaintCheck(const RepaintCheck&) = delete;
    RepaintCheck& operator=(const RepaintCheck&) = delete;

private:
    CFlatButton* m_pButton;
    int m_nState;
    bool m_bFocus;
};

CFlatButton::CFlatButton(QWidget* parent)
    : QPushButton(parent)
{
    Init();
}

CFlatButton::CFlatButton(const QString& text, QWidget* parent)
    : QPushButton(text, parent)
{
    Init();
}

CFlatButton::~CFlatButton() = default;

void CFlatButton::Init()
{
    // Moves without a button held are what turn the hover look on.
    setMouseTracking(true);
    setAutoDefault(true);
    // The key press and release of the space bar push and release the button through the
    // base class; its look follows, as it follows any other pushed state set from outside.
    connect(this, &QAbstractButton::pressed, this, [this] {
        if (isDown()) {
            RepaintCheck check(this);
            m_nState = FLAT_PRESSED;
        }
    });
    connect(this, &QAbstractButton::released, this, [this] {
        RepaintCheck check(this);
        if (m_nState == FLAT_PRESSED)
            m_nState = FLAT_NORMAL;
    });
}

int CFlatButton::GetDlgCtrlID() const
{
    return property(kControlIdProperty).toInt();
}

void CFlatButton::SetDlgCtrlID(int id)
{
    setProperty(kControlIdProperty, id);
}

void CFlatButton::SetState(bool bHighlight)
{
    m_nState = bHighlight ? FLAT_PRESSED : FLAT_NORMAL;
    update();
    setDown(bHighlight);
}

QSize CFlatButton::sizeHint() const
{
    const QFontMetrics fm(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
    QString t = text();
    t.remove(QLatin1Char('&'));
    return { fm.horizontalAdvance(t) + 16, fm.height() + 8 };
}

QSize CFlatButton::minimumSizeHint() const
{
    return sizeHint();
}

// ---- Focus and the default id ----------------------------------------------------------

void CFlatButton::focusInEvent(QFocusEvent* event)
{
    // Painting notes the focus; gaining it only asks for the paint.
    update();
    QPushButton::focusInEvent(event);
    emit defaultIdRequested(GetDlgCtrlID());
}

void CFlatButton::focusOutEvent(QFocusEvent* event)
{
    RepaintCheck check(this);
    QPushButton::focusOutEvent(event);
    emit defaultIdRequested(IDOK);
    m_bFocus = false;
    m_nState = FLAT_NORMAL;
}

void CFlatButton::changeEvent(QEvent* event)
{
    QPushButton::changeEvent(event);
    if (event->type() == QEvent::EnabledChange)
        update();
}

// ---- Mouse -------------------------------------------------------------------------------
// The mouse is handled here alone: the base class's press and release handling would click
// at once and by its own rules, where the flat button posts its click after the release.

void CFlatButton::mouseMoveEvent(QMouseEvent* event)
{
    RepaintCheck check(this);
    if (event->buttons() & Qt::LeftButton)
        m_nState = FLAT_PRESSED;
    if (m_nState == FLAT_NORMAL)
        m_nState = FLAT_HOVER;
    event->accept();
}

void CFlatButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    RepaintCheck check(this);
    // The press keeps the mouse until the release (the toolkit's implicit grab), so the
    // release arrives here even outside the button.
    setFocus(Qt::MouseFocusReason);
    m_nState = FLAT_PRESSED;
    event->accept();
}

void CFlatButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    RepaintCheck check(this);
    if (rect().contains(event->position().toPoint()) && m_nState == FLAT_PRESSED) {
        m_nState = FLAT_HOVER;
        PostClick();
    } else {
        m_nState = FLAT_NORMAL;
    }
    event->accept();
}

void CFlatButton::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    // The second press of a double click: pressed again, so that its release is a second
    // click. The focus and the grab are already where the first press put them.
    RepaintCheck check(this);
    m_nState = FLAT_PRESSED;
    event->accept();
}

void CFlatButton::leaveEvent(QEvent* event)
{
    RepaintCheck check(this);
    m_nState = FLAT_NORMAL;
    QPushButton::leaveEvent(event);
}

void CFlatButton::PostClick()
{
    // Queued, so that the dialog's handler (which may open a modal dialog) runs after the
    // button has finished with the release. A button destroyed meanwhile clicks no more.
    QMetaObject::invokeMethod(
        this, [this] { emit clicked(false); }, Qt::QueuedConnection);
}

// ---- Painting ----------------------------------------------------------------------------

void CFlatButton::paintEvent(QPaintEvent*)
{
    QPainter dc(this);
    m_bFocus = hasFocus();

    QRect rc = rect();
    const QPalette& pal = palette();
    const QColor face = pal.color(QPalette::Button);
    dc.fillRect(rc, face);
    // The desktop's general font, as the stock variable-pitch font was: the button's text
    // does not follow the dialog's font.
    dc.setFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
    const QString strText = text();

    if (isEnabled()) {
        switch (m_nState) {
        case FLAT_PRESSED:
            DrawEdge(dc, rc, Edge::Sunken, pal);
            // The text's rectangle loses two pixels at the left and top, so the centred
            // text sits one pixel right of and one pixel below its normal place.
            rc.adjust(2, 2, 0, 0);
            break;
        case FLAT_HOVER:
            // A raised edge whose outer ring goes back to the face: a thin raised border
            // one pixel inside the outline.
            DrawEdge(dc, rc, Edge::Raised, pal);
            FrameRect(dc, rc, face);
            break;
        default: DrawEdge(dc, rc, Edge::Etched, pal); break;
        }
        dc.setPen(pal.color(QPalette::ButtonText));
        dc.drawText(rc, kTextFormat, strText);
        if (m_bFocus && m_nState != FLAT_PRESSED)
            FrameRect(dc, rc.adjusted(3, 3, -3, -3), pal.color(QPalette::Dark));
    } else {
        // Embossed: a light copy one pixel right and down, the shadow-coloured text on top
        // in its normal place. No hover, pressed or focus look.
        DrawEdge(dc, rc, Edge::Etched, pal);
        dc.setPen(pal.color(QPalette::Light));
        dc.drawText(rc.adjusted(2, 0, 0, 2), kTextFormat, strText);
        dc.setPen(pal.color(QPalette::Dark));
        dc.drawText(rc, kTextFormat, strText);
    }
}

// ---- Enter for a dialog ------------------------------------------------------------------

CDefaultIdRouter::CDefaultIdRouter(QDialog* dialog)
    : QObject(dialog)
    , m_pDialog(dialog)
{
    dialog->installEventFilter(this);
}

void CDefaultIdRouter::Attach(CFlatButton* button)
{
    connect(button, &CFlatButton::defaultIdRequested, this, &CDefaultIdRouter::SetDefID);
}

bool CDefaultIdRouter::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_pDialog || event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    const bool plain = key->modifiers() == Qt::NoModifier || key->modifiers() == Qt::KeypadModifier;
    if (!enter || !plain)
        return QObject::eventFilter(watched, event);

    // A key the focused control left unhandled has come up to the dialog: its default
    // command goes out, through the button of that id when there is one.
    const int id = m_nDefID;
    for (QAbstractButton* button : m_pDialog->findChildren<QAbstractButton*>()) {
        if (button->property(kControlIdProperty).toInt() != id || button->window() != m_pDialog)
            continue;
        if (button->isVisible() && button->isEnabled())
            button->click();
        return true;
    }
    emit command(id);
    return true;
}
