#include "about_dlg.h"
#include "about_resource.h"
#include "app_icon.h"
#include "aux_dialog_templates.h"
#include "cursor_table.h"
#include "dialog_builder.h"
#include "dialog_support.h"
#include "flat_button.h"
#include "product_info.h"
#include "quick_help_dlg.h"
#include "resource.h"
#include "url_opener.h"

#include <QLabel>
#include <QPainter>

namespace {

// The two links are owner-drawn buttons that this dialog draws, not flat buttons.
QWidget* MakeLink(const res::DialogControl& c, QWidget* parent)
{
    if (c.id != IDC_MAIL_LINK && c.id != IDC_WEB_LINK)
        return nullptr;
    auto* link = new COwnerDrawButton(parent);
    link->setText(QString::fromLatin1(c.caption)); // the address itself
    return link;
}

} // namespace

CAboutDlg::CAboutDlg(QWidget* pParent)
    : QDialog(pParent)
{
    const res::DialogTemplate& tmpl = res::AboutDialogTemplate();
    m_controls = CreateDialogControls(*this, tmpl, MakeLink);
    UseModalFrame(*this);
    setWindowIcon(res::LoadIcon(IDR_MAINFRAME));

    m_btnOK = ControlAs<CFlatButton>(m_controls, IDCANCEL);
    m_btnQuickHelp = ControlAs<CFlatButton>(m_controls, IDC_QUICK_HELP);
    m_btnWebLink = ControlAs<COwnerDrawButton>(m_controls, IDC_WEB_LINK);
    m_btnMailLink = ControlAs<COwnerDrawButton>(m_controls, IDC_MAIL_LINK);

    // The link font: the dialog's own, underlined. (A fixed cell of a few pixels, as the
    // font was once asked for, would be unreadable on today's screens.)
    m_fontLink = font();
    m_fontLink.setUnderline(true);
    m_hLinkCursor = res::LoadCursor(IDC_LINK_HAND);

    // Every text whole: the version line and the addresses above all.
    std::vector<std::pair<const QWidget*, QSize>> needs;
    for (const QLabel* label : findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
        needs.emplace_back(label, TextNeeds(label));
    for (const QWidget* button : { m_btnOK, m_btnQuickHelp })
        needs.emplace_back(button, TextNeeds(button));
    const QFontMetrics fmLink(m_fontLink);
    for (const COwnerDrawButton* link : { m_btnWebLink, m_btnMailLink })
        needs.emplace_back(link, QSize(fmLink.horizontalAdvance(link->text()) + 1, fmLink.height()));
    LayOutToFit(*this, tmpl, needs);

    // The icon control shows the application icon at its own size, from its top-left corner.
    if (auto* icon = findChild<QLabel*>(QStringLiteral("IDC_ABOUT_ICON"), Qt::FindDirectChildrenOnly)) {
        const QPixmap pixmap = res::LoadIcon(IDR_MAINFRAME).pixmap(32, 32);
        icon->setPixmap(pixmap);
        icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        icon->resize(pixmap.deviceIndependentSize().toSize());
    }

    // The pointing hand over the two links; everywhere else the usual cursor.
    m_btnWebLink->setCursor(m_hLinkCursor);
    m_btnMailLink->setCursor(m_hLinkCursor);

    // Enter gives the focused flat button's command, otherwise IDOK, which has no button
    // here and ends the dialog like "OK" does.
    m_pDefId = new CDefaultIdRouter(this);
    m_pDefId->Attach(m_btnOK);
    m_pDefId->Attach(m_btnQuickHelp);
    connect(m_pDefId, &CDefaultIdRouter::command, this, [this](int id) {
        if (id == IDOK)
            accept();
    });

    connect(m_btnOK, &QAbstractButton::clicked, this, &QDialog::reject);
    connect(m_btnQuickHelp, &QAbstractButton::clicked, this, &CAboutDlg::OnQuickHelp);
    connect(m_btnMailLink, &QAbstractButton::clicked, this, &CAboutDlg::OnMailLink);
    connect(m_btnWebLink, &QAbstractButton::clicked, this, &CAboutDlg::OnWebLink);
    connect(m_btnMailLink, &COwnerDrawButton::drawItem, this, &CAboutDlg::OnDrawItem);
    connect(m_btnWebLink, &COwnerDrawButton::drawItem, this, &CAboutDlg::OnDrawItem);
}

CAboutDlg::~CAboutDlg() = default;

int CAboutDlg::DoModal()
{
    AdoptActiveWindowAsOwner(*this);
    OnInitDialog();
    return exec();
}

bool CAboutDlg::OnInitDialog()
{
    m_btnWebLink->setFont(m_fontLink);
    m_btnMailLink->setFont(m_fontLink);

    m_btnOK->setFocus();
    return true;
}

QWidget* CAboutDlg::GetDlgItem(int id) const
{
    const auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

void CAboutDlg::OnMailLink()
{
    ShellOpen(QUrl(QStringLiteral("mailto:") + QString::fromLatin1(res::kAuthorMail)));
}

void CAboutDlg::OnWebLink()
{
    ShellOpen(QUrl(QString::fromLatin1(res::kWebPage)));
}

void CAboutDlg::OnQuickHelp()
{
    // Runs over this dialog, which stays open behind it.
    CQuickHelpDlg dlg;
    dlg.DoModal();
}

void CAboutDlg::OnDrawItem(const DrawItemRequest& request)
{
    // Only the links are drawn here; the flat buttons paint themselves. Nothing but the
    // text: no background, no focus mark. It starts at the link's top-left corner.
    const char* address = request.nCtlID == IDC_MAIL_LINK ? res::kAuthorMail
        : request.nCtlID == IDC_WEB_LINK                  ? res::kWebPage
                                                          : nullptr;
    if (!address)
        return;
    QPainter& dc = *request.pDC;
    dc.setPen(QColor::fromRgb(request.bSelected ? kLinkPressedColor : kLinkColor));
    dc.drawText(QPoint(0, dc.fontMetrics().ascent()), QString::fromLatin1(address));
}
