#include "dialog_builder.h"
#include "command_button.h"
#include "hop_list_view.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFontInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

#include <cstring>

namespace {

using namespace res;

// a * b / c rounded half away from zero, as dialog-unit mapping has always rounded.
int MulDiv(int a, int b, int c)
{
    const long long n = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>(n >= 0 ? (n + half) / c : (n - half) / c);
}

// ES_NUMBER: typed characters other than digits are refused. Pasting is not filtered,
// so a field can still end up holding anything; the data exchange is what rejects it.
class DigitsOnlyFilter final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            const bool command = key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
            if (!command) {
                for (const QChar c : key->text()) {
                    if (c.isPrint() && !c.isDigit())
                        return true;
                }
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

bool IsClass(const DialogControl& c, const char* name)
{
    return std::strcmp(c.className, name) == 0;
}

QWidget* CreateButton(const DialogControl& c, QWidget* parent)
{
    const QString caption = QString::fromLatin1(c.caption);
    if ((c.style & BS_TYPEMASK) == BS_AUTOCHECKBOX)
        return new QCheckBox(caption, parent);
    QPushButton* button = (c.style & BS_TYPEMASK) == BS_OWNERDRAW ? new CommandButton(caption, parent)
                                                                  : new QPushButton(caption, parent);
    button->setAutoDefault(true);
    return button;
}

QWidget* CreateEdit(const DialogControl& c, QWidget* parent)
{
    auto* edit = new QLineEdit(QString::fromLatin1(c.caption), parent);
    edit->setFrame(c.style & WS_BORDER);
    if (c.style & ES_NUMBER)
        edit->installEventFilter(new DigitsOnlyFilter(edit));
    return edit;
}

// The dialog fills in the items; a drop-down list takes no typed text.
QWidget* CreateComboBox(const DialogControl& c, QWidget* parent)
{
    auto* combo = new QComboBox(parent);
    combo->setEditable((c.style & CBS_DROPDOWNLIST) != CBS_DROPDOWNLIST);
    combo->setFrame(c.style & WS_BORDER);
    return combo;
}

QWidget* CreateStatic(const DialogControl& c, QWidget* parent)
{
    auto* label = new QLabel(QString::fromLatin1(c.caption), parent);
    label->setTextFormat(Qt::PlainText);
    const uint32_t type = c.style & SS_TYPEMASK;
    Qt::Alignment align = type == SS_CENTER ? Qt::AlignHCenter : type == SS_RIGHT ? Qt::AlignRight : Qt::AlignLeft;
    align |= (c.style & SS_CENTERIMAGE) ? Qt::AlignVCenter : Qt::AlignTop;
    label->setAlignment(align);
    label->setWordWrap(type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT);
    if (c.style & SS_SUNKEN) {
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setLineWidth(1);
    }
    return label;
}

QWidget* CreateListView(const DialogControl& c, QWidget* parent)
{
    auto* view = new HopListView(parent);
    if (c.exStyle & (WS_EX_STATICEDGE | WS_EX_CLIENTEDGE)) {
        view->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        view->setLineWidth(1);
    } else {
        view->setFrameStyle(QFrame::NoFrame);
    }
    return view;
}

// The widget of a control whose class the builder knows; any other class keeps its slot
// and shows nothing (no template of ours has one).
QWidget* CreateKnownControl(const DialogControl& c, QWidget* parent)
{
    if (IsClass(c, kButtonClass))
        return CreateButton(c, parent);
    if (IsClass(c, kEditClass))
        return CreateEdit(c, parent);
    if (IsClass(c, kListViewClass))
        return CreateListView(c, parent);
    if (IsClass(c, kComboBoxClass))
        return CreateComboBox(c, parent);
    if (IsClass(c, kStaticClass))
        return CreateStatic(c, parent);
    return new QWidget(parent);
}

QWidget* CreateControl(const DialogControl& c, QWidget* parent, const ControlFactory& factory)
{
    QWidget* w = factory ? factory(c, parent) : nullptr;
    if (!w)
        w = CreateKnownControl(c, parent);
    // Buttons, fields and lists take the focus; without a tab stop they can still be
    // clicked into, but Tab passes them by.
    const bool focusable = IsClass(c, kButtonClass) || IsClass(c, kEditClass) || IsClass(c, kListViewClass)
        || IsClass(c, kComboBoxClass);
    w->setFocusPolicy(!focusable ? Qt::NoFocus : (c.style & WS_TABSTOP) ? Qt::StrongFocus : Qt::ClickFocus);
    w->setObjectName(QString::fromLatin1(c.name));
    w->setProperty(kControlIdProperty, c.id);
    w->setProperty(kTemplateRectProperty, QRect(c.rect.x, c.rect.y, c.rect.cx, c.rect.cy));
    w->setEnabled(!(c.style & WS_DISABLED));
    w->setVisible(c.style & WS_VISIBLE);
    return w;
}

} // namespace

QFont DialogFont(const DialogTemplate& tmpl)
{
    const QString face = QString::fromLatin1(tmpl.fontFace);
    const QFont wanted(face, tmpl.pointSize);
    // The font system substitutes silently; only a font that really is the named one counts.
    if (QFontInfo(wanted).family().compare(face, Qt::CaseInsensitive) == 0)
        return wanted;
    return QApplication::font();
}

DialogBaseUnits BaseUnitsOf(const QFont& font)
{
    const QFontMetrics fm(font);
    const int letters = fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return { (letters / 26 + 1) / 2, fm.height() };
}

QRect MapDialogRect(const DluRect& rect, DialogBaseUnits units)
{
    const int left = MulDiv(rect.x, units.cx, 4);
    const int top = MulDiv(rect.y, units.cy, 8);
    const int right = MulDiv(rect.x + rect.cx, units.cx, 4);
    const int bottom = MulDiv(rect.y + rect.cy, units.cy, 8);
    return QRect(QPoint(left, top), QSize(right - left, bottom - top));
}

std::map<int, QWidget*> CreateDialogControls(QDialog& dialog, const DialogTemplate& tmpl, const ControlFactory& factory)
{
    const QFont font = DialogFont(tmpl);
    dialog.setFont(font);
    const DialogBaseUnits units = BaseUnitsOf(font);

    Qt::WindowFlags flags = Qt::Window; // an application window with its own taskbar entry
    if (tmpl.style & WS_CAPTION)
        flags |= Qt::WindowTitleHint;
    if (tmpl.style & WS_SYSMENU)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (tmpl.style & WS_MINIMIZEBOX)
        flags |= Qt::WindowMinimizeButtonHint;
    if (tmpl.style & WS_MAXIMIZEBOX)
        flags |= Qt::WindowMaximizeButtonHint;
    dialog.setWindowFlags(flags);
    dialog.setWindowTitle(QString::fromLatin1(tmpl.caption));

    const QRect client = MapDialogRect({ 0, 0, tmpl.cx, tmpl.cy }, units);
    dialog.resize(client.size());
    if (!(tmpl.style & WS_THICKFRAME))
        dialog.setFixedSize(client.size());

    std::map<int, QWidget*> controls;
    QWidget* previous = nullptr;
    for (const DialogControl& c : tmpl.controls) {
        QWidget* w = CreateControl(c, &dialog, factory);
        w->setGeometry(MapDialogRect(c.rect, units));
        controls[c.id] = w;
        if (w->focusPolicy() & Qt::TabFocus) {
            if (previous)
                QWidget::setTabOrder(previous, w);
            previous = w;
        }
    }
    return controls;
}
