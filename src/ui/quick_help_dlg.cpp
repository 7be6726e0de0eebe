#include "quick_help_dlg.h"
#include "about_resource.h"
#include "app_icon.h"
#include "aux_dialog_templates.h"
#include "dialog_builder.h"
#include "dialog_support.h"
#include "flat_button.h"
#include "product_info.h"
#include "resource.h"

#include <QKeyEvent>
#include <QPlainTextEdit>

#include <algorithm>

namespace {

// The help field keeps Enter to itself, as a field that wants its returns does: being
// read-only it does nothing with it, and the dialog does not close.
class KeepEnter final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter)
                return true;
        }
        return QObject::eventFilter(watched, event);
    }
};

// The help text's field is multi-line and read-only, which the builder's one-line
// fields are not.
QWidget* MakeHelpField(const res::DialogControl& c, QWidget* parent)
{
    if (c.id != IDC_HELP_TEXT)
        return nullptr;
    auto* edit = new QPlainTextEdit(parent);
    edit->setReadOnly(true);
    // Read-only, but the text can be selected and copied, by mouse and by keyboard.
    edit->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    // Lines break only where the text breaks them; there are no scroll bars.
    edit->setLineWrapMode(QPlainTextEdit::NoWrap);
    edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    edit->setTabChangesFocus(true);
    // A thin sunken edge.
    edit->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    edit->setLineWidth(1);
    edit->installEventFilter(new KeepEnter(edit));
    return edit;
}

} // namespace

QString CQuickHelpDlg::HelpText()
{
    const QString web = QString::fromLatin1(res::kWebPage);
    const QString mail = QString::fromLatin1(res::kAuthorMail);
    const QString lines[] = {
        QStringLiteral(" This program is made for quick network route discovery. Unlike standard traceroute, it"),
        QStringLiteral("traces all the way to host at once, therefore saving tenth to hundreds times."),
        QStringLiteral("It also measures the time neccesary for packet to return and looks up all intermediate"),
        QStringLiteral("routers."),
        QStringLiteral(
            " Unlike the system's own tracert, it is based on UDP protocol, therefore allowing to trace networks"),
        QStringLiteral("where incoming ICMP messages are filtered."),
        QString(),
        QStringLiteral(" Parameters:"),
        QStringLiteral("   tries: maximum retry number if router was not discovered."),
        QStringLiteral("   hops: maximum number of hops to trace."),
        QStringLiteral("   time (ms): maximum time  to wait for router's answer"),
        QString(),
        QStringLiteral("Visit ") + web + QStringLiteral(" for more info and updates."),
        QStringLiteral("Comments, questions and suggestions, as well as bug reports are greatly appreciated and"),
        QStringLiteral("must be sent to ") + mail,
    };
    QString text;
    for (const QString& line : lines)
        text += line + QStringLiteral("\r\n");
    return text;
}

CQuickHelpDlg::CQuickHelpDlg(QWidget* pParent)
    : QDialog(pParent)
{
    const res::DialogTemplate& tmpl = res::QuickHelpDialogTemplate();
    m_controls = CreateDialogControls(*this, tmpl, MakeHelpField);
    UseModalFrame(*this);
    setWindowIcon(res::LoadIcon(IDR_MAINFRAME));

    m_btnDone = ControlAs<CFlatButton>(m_controls, IDCANCEL);
    auto* edit = ControlAs<QPlainTextEdit>(m_controls, IDC_HELP_TEXT);
    m_strHelp = HelpText();

    // Every line of the help whole, since the field neither wraps nor scrolls.
    const QFontMetrics fm(edit->font());
    const QStringList lines = m_strHelp.split(QStringLiteral("\r\n"));
    int widest = 0;
    for (const QString& line : lines)
        widest = std::max(widest, fm.horizontalAdvance(line));
    const int border = 2 * (edit->frameWidth() + int(edit->document()->documentMargin()));
    const int shown = int(lines.size()) - 1; // nothing follows the last line break
    LayOutToFit(*this, tmpl,
        { { m_btnDone, TextNeeds(m_btnDone) },
            { edit, QSize(widest + border + edit->cursorWidth(), shown * fm.lineSpacing() + border) } });
    connect(m_btnDone, &QAbstractButton::clicked, this, &QDialog::reject);

    // Enter on "Done" closes the dialog through the button's own command; Enter that
    // reaches the dialog otherwise gives IDOK, which ends it as well.
    auto* defId = new CDefaultIdRouter(this);
    defId->Attach(m_btnDone);
    connect(defId, &CDefaultIdRouter::command, this, [this](int id) {
        if (id == IDOK)
            accept();
    });
}

CQuickHelpDlg::~CQuickHelpDlg() = default;

int CQuickHelpDlg::DoModal()
{
    AdoptActiveWindowAsOwner(*this);
    UpdateData(false);
    m_btnDone->setFocus();
    return exec();
}

bool CQuickHelpDlg::UpdateData(bool bSaveAndValidate)
{
    DoDataExchange(bSaveAndValidate);
    return true;
}

void CQuickHelpDlg::DoDataExchange(bool bSaveAndValidate)
{
    auto* edit = qobject_cast<QPlainTextEdit*>(GetDlgItem(IDC_HELP_TEXT));
    if (bSaveAndValidate) {
        // The field keeps its lines apart with line feeds; the text has CR LF.
        QString text = edit->toPlainText();
        text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
        m_strHelp = text;
    } else {
        edit->setPlainText(m_strHelp);
    }
}

QWidget* CQuickHelpDlg::GetDlgItem(int id) const
{
    const auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}
