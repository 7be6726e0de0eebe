#pragma once
// The quick help dialog: what the program does, what its three parameters mean and
// where feedback goes, in a read-only (but selectable) field above a "Done" button.

#include <QDialog>
#include <QString>

#include <map>

class CFlatButton;
class QPlainTextEdit;

class CQuickHelpDlg : public QDialog {
    Q_OBJECT
public:
    // Without a parent, the window active when it runs becomes its owner.
    explicit CQuickHelpDlg(QWidget* pParent = nullptr);
    ~CQuickHelpDlg() override;

    // The help text into the field, the focus on "Done", then the modal run.
    int DoModal();
    // Towards the field (false) or from it (true).
    bool UpdateData(bool bSaveAndValidate = true);

    QWidget* GetDlgItem(int id) const;

    // The fixed help text: 15 lines, each ending with CR LF.
    static QString HelpText();

protected:
    virtual void DoDataExchange(bool bSaveAndValidate);

private:
    std::map<int, QWidget*> m_controls;

public:
    CFlatButton* m_btnDone = nullptr;
    QString m_strHelp;
};
