#pragma once
// The flat push button of every command button of the program ("Trace", "Host >",
// "About...", "OK", "Quick help", "Done"). It lies flat on the dialog face with an
// etched outline, shows a thin raised border while the mouse is over it, a sunken one
// while it is pressed and a frame inside its border while it has the focus. It paints
// itself from the desktop's palette, so light and dark themes both read well.
//
// It is a QPushButton so that a dialog's Enter handling finds it: a focused flat button
// is its dialog's default button, and when it loses the focus the dialog's own default
// ("Trace") is again. It also tells its dialog the default id as it changes
// (`defaultIdRequested`), which `CDefaultIdRouter` below turns into Enter handling for
// dialogs whose default command has no button of its own.

#include <QPointer>
#include <QPushButton>

class QDialog;

class CFlatButton : public QPushButton {
    Q_OBJECT
public:
    // The visual states, as `m_nState` holds them.
    enum { FLAT_NORMAL = 0, FLAT_PRESSED = 1, FLAT_HOVER = 2 };

    explicit CFlatButton(QWidget* parent = nullptr);
    CFlatButton(const QString& text, QWidget* parent = nullptr);
    ~CFlatButton() override;

    // The control id of the button in its dialog's template: the command its click and
    // Enter give. It is kept in the property kControlIdProperty (dialog_builder.h)
    // names, where the template builder puts it.
    int GetDlgCtrlID() const;
    void SetDlgCtrlID(int id);

    // The pushed state set from outside, as the dialog manager sets it for a key press:
    // the pressed look while `bHighlight` is true, the normal look after.
    void SetState(bool bHighlight);

    int state() const { return m_nState; }
    bool hasFocusFrame() const { return m_bFocus; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // The dialog's default command changes: the button's own id when it gains the focus,
    // IDOK (1) when it loses it.
    void defaultIdRequested(int id);

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    class RepaintCheck;
    void Init();
    void PostClick();

    bool m_bFocus = false; // had the focus when last painted; cleared on losing it
    int m_nState = FLAT_NORMAL;
};

// Enter for a dialog, as a dialog manager gives it: the command of the default id goes
// out; the focused flat button's id while one has the focus, IDOK (1) otherwise. A button
// of that id, when the dialog has one, is clicked; otherwise `command` is emitted, so that
// a dialog without an IDOK button still ends on Enter.
class CDefaultIdRouter : public QObject {
    Q_OBJECT
public:
    explicit CDefaultIdRouter(QDialog* dialog);

    // Follows the button's default-id requests.
    void Attach(CFlatButton* button);

    int GetDefID() const { return m_nDefID; }
    void SetDefID(int id) { m_nDefID = id; }

signals:
    void command(int id);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QDialog> m_pDialog;
    int m_nDefID = 1;
};
