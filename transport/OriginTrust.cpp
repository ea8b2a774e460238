#include "OriginTrust.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QTimer>

#include <algorithm>

namespace {
const char kAllowedKey[] = "allowed";
const char kDeniedKey[] = "denied";
// Stands for browser requests that name no page, in the refusal log.
const QByteArray kNoOrigin = QByteArrayLiteral("a browser request that names no page");
}  // namespace

OriginTrust::OriginTrust(Policy policy, QList<QByteArray> listAdmin, QObject* parent)
    : QObject(parent), m_policy(policy), m_listAdmin(std::move(listAdmin)) {}

OriginTrust::~OriginTrust() {
    for (const Question& question : m_mapQuestions) delete question.pDeadline;
}

bool OriginTrust::parsePolicy(const QString& strName, Policy* pPolicy) {
    static const struct {
        const char* szName;
        Policy policy;
    } kPolicies[] = {{"ask", Policy::Ask}, {"list", Policy::List}, {"any", Policy::Any}};
    for (const auto& entry : kPolicies) {
        if (strName != QLatin1String(entry.szName)) continue;
        *pPolicy = entry.policy;
        return true;
    }
    return false;
}

void OriginTrust::setStoreFile(const QString& strPath) {
    m_strStorePath = strPath;
    load();
}

void OriginTrust::setPrompt(TrustPrompt* pPrompt, int iTimeoutMs) {
    m_pPrompt = pPrompt;
    m_iAnswerTimeoutMs = qMax(1, iTimeoutMs);
}

OriginTrust::Verdict OriginTrust::check(const RequestOrigin& origin, QObject* pWaiter,
                                        std::function<void(bool)> fnDecided) {
    switch (origin.kind) {
    case RequestOrigin::LocalProgram: return Verdict::Trusted;
    case RequestOrigin::Unattributed: return m_policy == Policy::Any ? Verdict::Trusted : refused(kNoOrigin);
    case RequestOrigin::Page: break;
    }
    if (m_policy == Policy::Any) {
        const bool bListed = m_listAdmin.isEmpty() || origin.bFromReferer || m_listAdmin.contains(origin.baOrigin);
        return bListed ? Verdict::Trusted : refused(origin.baOrigin);
    }
    return checkPage(origin.baOrigin, pWaiter, fnDecided);
}

OriginTrust::Verdict OriginTrust::checkPage(const QByteArray& baOrigin, QObject* pWaiter,
                                            std::function<void(bool)>& fnDecided) {
    if (m_listAdmin.contains(baOrigin)) return Verdict::Trusted;
    if (m_policy == Policy::List) return refused(baOrigin);
    const Verdict verdict = known(baOrigin);
    if (verdict != Verdict::Waiting) return verdict == Verdict::Refused ? refused(baOrigin) : verdict;
    if (!m_pPrompt || baOrigin == "null" || baOrigin.size() > AccessPolicy::kMaxOriginBytes) return refused(baOrigin);

    if (waitingRequests() >= kMaxWaitingRequests ||
        (!m_mapQuestions.contains(baOrigin) && m_mapQuestions.size() >= kMaxOpenQuestions)) {
        qDebug().noquote() << "request refused: too many requests wait for the user's answer; origin"
                           << QString::fromUtf8(baOrigin);
        return Verdict::Busy;
    }
    if (!m_mapQuestions.contains(baOrigin)) {
        Question& question = m_mapQuestions[baOrigin];
        question.pDeadline = new QTimer(this);
        question.pDeadline->setSingleShot(true);
        connect(question.pDeadline, &QTimer::timeout, this, [this, baOrigin] { onDeadline(baOrigin); });
        question.pDeadline->start(m_iAnswerTimeoutMs);
        qDebug().noquote() << "asking the user about origin" << QString::fromUtf8(baOrigin);
        m_pPrompt->ask(baOrigin);
        // Answered at once.
        if (!m_mapQuestions.contains(baOrigin)) {
            const Verdict answered = known(baOrigin);
            return answered == Verdict::Trusted ? answered : refused(baOrigin);
        }
    }
    m_mapQuestions[baOrigin].waiters.append(Waiter{pWaiter, std::move(fnDecided)});
    return Verdict::Waiting;
}

OriginTrust::Verdict OriginTrust::known(const QByteArray& baOrigin) const {
    const auto it = m_mapDecisions.constFind(baOrigin);
    if (it == m_mapDecisions.constEnd()) return Verdict::Waiting;
    return it->bAllow ? Verdict::Trusted : Verdict::Refused;
}

OriginTrust::Verdict OriginTrust::refused(const QByteArray& baWhat) {
    if (!m_setLogged.contains(baWhat)) {
        if (m_setLogged.size() >= kMaxLoggedOrigins) m_setLogged.clear();
        m_setLogged.insert(baWhat);
        qDebug().noquote() << "origin refused:" << QString::fromUtf8(baWhat.left(AccessPolicy::kMaxOriginBytes));
    }
    return Verdict::Refused;
}

int OriginTrust::waitingRequests() const {
    int iCount = 0;
    for (const Question& question : m_mapQuestions) {
        for (const Waiter& waiter : question.waiters) iCount += waiter.pObject ? 1 : 0;
    }
    return iCount;
}

void OriginTrust::answer(const QByteArray& baOrigin, bool bAllow, bool bRemember) {
    qDebug().noquote() << (bAllow ? "the user allowed origin" : "the user denied origin") << QString::fromUtf8(baOrigin)
                       << (bRemember ? "(remembered)" : "");
    m_mapDecisions.insert(baOrigin, Decision{bAllow, bRemember});
    if (bRemember) save();
    if (bAllow) emit sigChanged();
    settle(baOrigin, bAllow);
}

void OriginTrust::revoke(const QByteArray& baOrigin) {
    const auto it = m_mapDecisions.find(baOrigin);
    if (it == m_mapDecisions.end() || !it->bAllow) return;
    const bool bRemembered = it->bRemembered;
    // Refused for this run; forgotten in the file, so the next run asks again.
    *it = Decision{false, false};
    if (bRemembered) save();
    qDebug().noquote() << "trust revoked for origin" << QString::fromUtf8(baOrigin);
    m_setLogged.remove(baOrigin);
    emit sigChanged();
    emit sigRevoked(baOrigin);
}

QList<QByteArray> OriginTrust::userTrusted() const {
    QList<QByteArray> list;
    for (auto it = m_mapDecisions.constBegin(); it != m_mapDecisions.constEnd(); ++it) {
        if (it->bAllow) list.append(it.key());
    }
    std::sort(list.begin(), list.end());
    return list;
}

void OriginTrust::settle(const QByteArray& baOrigin, bool bTrusted) {
    const auto it = m_mapQuestions.find(baOrigin);
    if (it == m_mapQuestions.end()) return;
    const Question question = it.value();
    m_mapQuestions.erase(it);
    delete question.pDeadline;
    for (const Waiter& waiter : question.waiters) {
        if (waiter.pObject) waiter.fnDecided(bTrusted);
    }
}

void OriginTrust::onDeadline(const QByteArray& baOrigin) {
    qDebug().noquote() << "no answer about origin" << QString::fromUtf8(baOrigin) << "in time";
    if (m_pPrompt) m_pPrompt->withdraw(baOrigin);
    refused(baOrigin);
    settle(baOrigin, false);
}

void OriginTrust::load() {
    QFile file(m_strStorePath);
    if (m_strStorePath.isEmpty() || !file.open(QIODevice::ReadOnly)) return;
    const QJsonObject object = QJsonDocument::fromJson(file.read(1024 * 1024)).object();
    for (const bool bAllow : {true, false}) {
        for (const QJsonValue& value : object.value(QLatin1String(bAllow ? kAllowedKey : kDeniedKey)).toArray()) {
            const QByteArray baOrigin = value.toString().toUtf8();
            if (!baOrigin.isEmpty() && baOrigin.size() <= AccessPolicy::kMaxOriginBytes)
                m_mapDecisions.insert(baOrigin, Decision{bAllow, true});
        }
    }
}

void OriginTrust::save() const {
    if (m_strStorePath.isEmpty()) return;
    QJsonArray allowed;
    QJsonArray denied;
    for (auto it = m_mapDecisions.constBegin(); it != m_mapDecisions.constEnd(); ++it) {
        if (it->bRemembered) (it->bAllow ? allowed : denied).append(QString::fromUtf8(it.key()));
    }
    QDir().mkpath(QFileInfo(m_strStorePath).absolutePath());
    QSaveFile file(m_strStorePath);
    const QByteArray baText =
        QJsonDocument(QJsonObject{{QLatin1String(kAllowedKey), allowed}, {QLatin1String(kDeniedKey), denied}}).toJson();
    if (!file.open(QIODevice::WriteOnly) || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        file.write(baText) != baText.size() || !file.commit()) {
        qDebug().noquote() << "cannot write the trusted origins to" << m_strStorePath << ":" << file.errorString();
    }
}
