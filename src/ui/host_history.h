#pragma once
// The host field's drop-down of the hosts traced last: an arrow at the field's right end
// (or Alt+Down in the field) lists them all, as a combo box's arrow does. Picking one puts
// it in the field; the trace starts as always, from Trace or Enter. Typing opens nothing,
// so Enter after a typed host always traces it.

#include <QObject>
#include <QStringList>

class QAction;
class QCompleter;
class QLineEdit;
class QStringListModel;

class HostHistory final : public QObject {
    Q_OBJECT
public:
    // Becomes a child of the field.
    explicit HostHistory(QLineEdit* field);

    // Most recent first.
    QStringList hosts() const;
    void SetHosts(const QStringList& hosts);
    // A trace of `host` began: it moves to the top of the list (hl::WithRecentHost).
    void AddHost(const QString& host);

    // Lists every host below the field.
    void ShowDropDown();
    QCompleter* completer() const { return m_completer; }
    QAction* dropDownAction() const { return m_dropDown; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* m_field;
    QStringListModel* m_model;
    QCompleter* m_completer;
    QAction* m_dropDown;
};
