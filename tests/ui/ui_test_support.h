#pragma once
// What the window tests share: message boxes recorded instead of shown, and settings
// kept in a folder of the test's own so that a user's settings are never read or changed.
#include "message_box.h"
#include "settings/registry_store.h"

#include <QFile>
#include <QMetaEnum>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>

struct RecordedMessage {
    QString text;
    QString caption;
    QMessageBox::Icon icon;
};

// Records every message box while it lives; the program goes on as if OK was pressed.
class MessageRecorder {
public:
    MessageRecorder()
    {
        m_previous = SetMessageBoxHandler(
            [this](QWidget*, const QString& text, const QString& caption, QMessageBox::Icon icon) {
                messages.push_back({ text, caption, icon });
                return int(QMessageBox::Ok);
            });
    }
    ~MessageRecorder() { SetMessageBoxHandler(m_previous); }
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    QStringList texts() const
    {
        QStringList out;
        for (const RecordedMessage& m : messages)
            out << m.text;
        return out;
    }

    // Each message whole, as "Icon | caption | text", to compare all three at once.
    QStringList boxes() const
    {
        QStringList out;
        for (const RecordedMessage& m : messages) {
            const char* icon = QMetaEnum::fromType<QMessageBox::Icon>().valueToKey(m.icon);
            out << QStringLiteral("%1 | %2 | %3").arg(QString::fromLatin1(icon), m.caption, m.text);
        }
        return out;
    }

    std::vector<RecordedMessage> messages;

private:
    MessageBoxHandler m_previous;
};

// Points XDG_CONFIG_HOME at a temporary folder for the life of the test program, even
// when it is run by hand outside ctest.
class IsolatedSettings {
public:
    IsolatedSettings()
    {
        QVERIFY2(m_dir.isValid(), "no temporary folder for the settings");
        qputenv("XDG_CONFIG_HOME", m_dir.path().toLocal8Bit());
    }
    QString file() const { return hl::RegistryStore::DefaultFilePath(); }
    // Back to a first run: no settings at all.
    void clear() const { QFile::remove(file()); }

private:
    QTemporaryDir m_dir;
};
