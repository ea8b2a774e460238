// The desktop's question about a page origin: a non-modal dialog per origin
// that names it and what it could do, with Allow, Deny and "Remember this
// decision". Closing the dialog counts as Deny. The service goes on serving
// other clients while a dialog is open.
//
// Thread rules: main (GUI) thread only.
#ifndef APP_TRUSTDIALOG_H
#define APP_TRUSTDIALOG_H

#include "OriginTrust.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QPointer>

class QMessageBox;

class DialogTrustPrompt : public QObject, public TrustPrompt {
    Q_OBJECT
public:
    explicit DialogTrustPrompt(OriginTrust* pTrust, QObject* parent = nullptr);
    // Dialogs still open are closed unanswered.
    ~DialogTrustPrompt() override;

    // Whether this platform shows dialogs to a user (not "offscreen" or
    // "minimal").
    static bool canAsk();

    void ask(const QByteArray& baOrigin) override;
    void withdraw(const QByteArray& baOrigin) override;

private:
    QPointer<OriginTrust> m_pTrust;
    QHash<QByteArray, QPointer<QMessageBox>> m_mapDialogs;
};

#endif  // APP_TRUSTDIALOG_H
