// Which page origins may use the service, and the user's say in it.
//
// An origin is trusted when the administrator lists it ("AllowedOrigins") or
// the user allowed it. Policy "list" trusts the administrator's list alone;
// "any" trusts every origin (a list, when given, still bounds the "Origin"
// header, as it always did); "ask" puts the first request of an unknown
// origin to the user through a TrustPrompt: one question per origin, which
// every request of that origin waits on until the user answers or the
// deadline passes. No prompt (no display), a refusal or no answer in time
// refuse. Requests of local programs (no page origin) always pass; browser
// requests that name no page never pass, except under "any".
//
// Thread rules: main thread only; the prompt answers on the main thread.
//
// Limits: at most kMaxOpenQuestions origins are asked about at once and at
// most kMaxWaitingRequests requests wait for answers; more are refused at
// once (Busy). Origins longer than AccessPolicy::kMaxOriginBytes and the
// opaque origin "null" are never asked about. Remembered decisions live in
// one small file (setStoreFile), written whole on every change.
#ifndef TRANSPORT_ORIGINTRUST_H
#define TRANSPORT_ORIGINTRUST_H

#include "AccessPolicy.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <functional>

class QTimer;

// Asks the user whether an origin may use the service.
class TrustPrompt {
public:
    virtual ~TrustPrompt() = default;
    // Puts the question about baOrigin; the answer comes back through
    // OriginTrust::answer, possibly before ask returns.
    virtual void ask(const QByteArray& baOrigin) = 0;
    // The question needs no answer any more (its deadline passed).
    virtual void withdraw(const QByteArray& baOrigin) = 0;
};

class OriginTrust : public QObject {
    Q_OBJECT
public:
    enum class Policy { Ask, List, Any };
    enum class Verdict { Trusted, Refused, Waiting, Busy };

    static constexpr int kDefaultAnswerTimeoutMs = 60000;
    static constexpr int kMaxOpenQuestions = 4;
    static constexpr int kMaxWaitingRequests = 64;
    // Origins named in the log as refused before that set starts over.
    static constexpr int kMaxLoggedOrigins = 1024;

    OriginTrust(Policy policy, QList<QByteArray> listAdmin, QObject* parent = nullptr);
    ~OriginTrust() override;

    // "ask", "list" or "any"; false (pPolicy untouched) for anything else.
    static bool parsePolicy(const QString& strName, Policy* pPolicy);
    Policy policy() const { return m_policy; }

    // Reads the remembered decisions from strPath and keeps them there from
    // now on. A missing or unreadable file remembers nothing.
    void setStoreFile(const QString& strPath);
    // The prompt (not owned; null: unknown origins are refused at once) and
    // how long a request waits for its answer.
    void setPrompt(TrustPrompt* pPrompt, int iTimeoutMs = kDefaultAnswerTimeoutMs);

    // The verdict on a request from origin. Waiting: fnDecided(bTrusted)
    // runs once the user answered or the deadline passed, unless pWaiter is
    // gone by then.
    Verdict check(const RequestOrigin& origin, QObject* pWaiter, std::function<void(bool)> fnDecided);

    // The user's answer about an origin; bRemember keeps it in the file.
    void answer(const QByteArray& baOrigin, bool bAllow, bool bRemember);
    // Takes the user's trust back: the origin is refused for the rest of
    // this run and forgotten in the file, and its pages are cut off
    // (sigRevoked). The administrator's origins cannot be revoked.
    void revoke(const QByteArray& baOrigin);

    // Origins the user allowed, sorted; and the administrator's.
    QList<QByteArray> userTrusted() const;
    QList<QByteArray> adminTrusted() const { return m_listAdmin; }
    // Requests waiting for the user's answers now.
    int waitingRequests() const;

signals:
    void sigRevoked(QByteArray baOrigin);
    // The trusted origins changed.
    void sigChanged();

private:
    struct Decision {
        bool bAllow = false;
        bool bRemembered = false;
    };
    struct Waiter {
        QPointer<QObject> pObject;
        std::function<void(bool)> fnDecided;
    };
    struct Question {
        QList<Waiter> waiters;
        QTimer* pDeadline = nullptr;
    };

    Verdict checkPage(const QByteArray& baOrigin, QObject* pWaiter, std::function<void(bool)>& fnDecided);
    // Trusted or Refused when the origin is decided, else Waiting.
    Verdict known(const QByteArray& baOrigin) const;
    Verdict refused(const QByteArray& baWhat);
    void settle(const QByteArray& baOrigin, bool bTrusted);
    void onDeadline(const QByteArray& baOrigin);
    void load();
    void save() const;

    const Policy m_policy;
    const QList<QByteArray> m_listAdmin;
    QString m_strStorePath;
    TrustPrompt* m_pPrompt = nullptr;
    int m_iAnswerTimeoutMs = kDefaultAnswerTimeoutMs;
    // The user's decisions: this run's and the remembered ones.
    QHash<QByteArray, Decision> m_mapDecisions;
    QHash<QByteArray, Question> m_mapQuestions;
    QSet<QByteArray> m_setLogged;
};

#endif  // TRANSPORT_ORIGINTRUST_H
