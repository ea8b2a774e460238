#include "TrustDialog.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>

DialogTrustPrompt::DialogTrustPrompt(OriginTrust* pTrust, QObject* parent) : QObject(parent), m_pTrust(pTrust) {}

DialogTrustPrompt::~DialogTrustPrompt() {
    for (const QByteArray& baOrigin : m_mapDialogs.keys()) withdraw(baOrigin);
}

bool DialogTrustPrompt::canAsk() {
    const QString strPlatform = QGuiApplication::platformName();
    return strPlatform != QLatin1String("offscreen") && strPlatform != QLatin1String("minimal");
}

void DialogTrustPrompt::ask(const QByteArray& baOrigin) {
    if (m_mapDialogs.value(baOrigin)) return;
    auto* pDialog = new QMessageBox(QMessageBox::Question, QStringLiteral("LocalService: allow this web site?"),
                                    QString(), QMessageBox::NoButton);
    // The origin is the page's own text: never read as markup.
    pDialog->setTextFormat(Qt::PlainText);
    pDialog->setText(
        QStringLiteral("A web page from\n\n%1\n\nasks to use LocalService.").arg(QString::fromUtf8(baOrigin)));
    pDialog->setInformativeText(QStringLiteral(
        "If you allow it, pages of this site can lay video windows over your browser, play and control cameras, "
        "talk with devices through your microphone and speakers, and save and read snapshots, recordings and "
        "downloads in your media folders.\n\nAllow only sites you know and use."));
    QPushButton* pAllow = pDialog->addButton(QStringLiteral("Allow"), QMessageBox::AcceptRole);
    QPushButton* pDeny = pDialog->addButton(QStringLiteral("Deny"), QMessageBox::RejectRole);
    // Enter must not allow: Deny has the focus and is the default.
    pAllow->setAutoDefault(false);
    pDialog->setDefaultButton(pDeny);
    pDialog->setEscapeButton(pDeny);
    pDialog->setCheckBox(new QCheckBox(QStringLiteral("Remember this decision"), pDialog));
    pDialog->setWindowModality(Qt::NonModal);
    pDialog->setAttribute(Qt::WA_DeleteOnClose);
    pDialog->setWindowFlag(Qt::WindowStaysOnTopHint);
    connect(pDialog, &QMessageBox::finished, this, [this, pDialog, pAllow, baOrigin] {
        m_mapDialogs.remove(baOrigin);
        const bool bAllow = pDialog->clickedButton() == pAllow;
        if (m_pTrust) m_pTrust->answer(baOrigin, bAllow, pDialog->checkBox()->isChecked());
    });
    m_mapDialogs.insert(baOrigin, pDialog);
    pDialog->show();
    pDialog->raise();
    pDeny->setFocus();
}

void DialogTrustPrompt::withdraw(const QByteArray& baOrigin) {
    const QPointer<QMessageBox> pDialog = m_mapDialogs.take(baOrigin);
    if (!pDialog) return;
    pDialog->disconnect(this);
    // Now, not later: at exit no event loop runs again.
    delete pDialog.data();
}
