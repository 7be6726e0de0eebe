#pragma once
// The About dialog: the program's name and version, a notice line, two links (the
// author's mail address and the product's web page) and the "OK" and "Quick help"
// buttons. The links are owner-drawn buttons whose look, cursor and click all live here.

#include "owner_draw_button.h"

#include <QCursor>
#include <QDialog>
#include <QFont>

#include <map>

class CDefaultIdRouter;
class CFlatButton;

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    // Without a parent, the window active when it runs becomes its owner.
    explicit CAboutDlg(QWidget* pParent = nullptr);
    ~CAboutDlg() override;

    // Initialises the dialog and runs it until it is closed.
    int DoModal();
    // The link font on both links and the focus on "OK"; returns true.
    bool OnInitDialog();

    QWidget* GetDlgItem(int id) const;

    // Link colours: blue, and cyan while the link is held down.
    static constexpr QRgb kLinkColor = 0x0000FF;
    static constexpr QRgb kLinkPressedColor = 0x00FFFF;

public slots:
    void OnMailLink(); // a new mail to the author
    void OnWebLink(); // the product's web page
    void OnQuickHelp(); // the quick help dialog, over this one

protected:
    void OnDrawItem(const DrawItemRequest& request);

private:
    std::map<int, QWidget*> m_controls;
    CDefaultIdRouter* m_pDefId = nullptr;

public:
    QFont m_fontLink; // the dialog's font, underlined
    QCursor m_hLinkCursor; // the pointing hand, over the links only
    CFlatButton* m_btnOK = nullptr;
    CFlatButton* m_btnQuickHelp = nullptr;
    COwnerDrawButton* m_btnWebLink = nullptr;
    COwnerDrawButton* m_btnMailLink = nullptr;
};
