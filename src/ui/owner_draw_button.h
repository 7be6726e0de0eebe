#pragma once
// A push button whose whole look is drawn by its dialog. The About dialog's two links
// are such buttons: the button does the pressing, the focus and the click, and asks its
// dialog (`drawItem`) to draw it, handing over a painter already set to the button's font.

#include <QAbstractButton>

class QPainter;

// One draw request, as the dialog gets it.
struct DrawItemRequest {
    int nCtlID; // the button's control id
    QPainter* pDC; // the button's painter: its font set, nothing filled
    QRect rcItem; // the button's rectangle
    bool bSelected; // pushed: the mouse button or the space bar is held on it
    bool bFocus; // it has the keyboard focus
    bool bDisabled;
};

class COwnerDrawButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit COwnerDrawButton(QWidget* parent = nullptr);

    // The control id, kept where the template builder keeps it.
    int GetDlgCtrlID() const;
    void SetDlgCtrlID(int id);

    QSize sizeHint() const override;

signals:
    void drawItem(const DrawItemRequest& request);

protected:
    void paintEvent(QPaintEvent* event) override;
};
