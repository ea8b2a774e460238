#include "AudioMessageDispatch.h"

#include "AudioError.h"

#include "CredentialProtection.h"
#include "REZivORU.h"
#include "TickCount.h"
#include "ZBLog.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

const char* const kModuleTag = "KOTS";
const char* const kModePath = "/OKAPI/SecurityCP/TwoWayAudio/mode?format=json";
constexpr int kErrorModule = 9;
// Longest part of the cloud address handed to the library.
constexpr int kMaxAddressBytes = 64;

constexpr int kSuccess = audio::code(audio::Error::Success);
constexpr int kParameterError = audio::code(audio::Error::BadRequest);
constexpr int kTalkError = audio::code(audio::Error::TalkError);
constexpr int kLocalConfigError = audio::code(audio::Error::LocalConfigError);
constexpr int kNetworkError = audio::code(audio::Error::NetworkError);
constexpr int kAddressError = audio::code(audio::Error::AddressError);
constexpr int kInitError = audio::code(audio::Error::InitError);
constexpr int kChangeModelError = audio::code(audio::Error::ChangeModelError);

QString compact(const QJsonObject& object) {
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

// The keys every response of the module carries.
QJsonObject responseEnvelope(const QString& strSequence, const QString& strUuid, int iErrorCode) {
    return QJsonObject{{QStringLiteral("sequence"), strSequence},
                       {QStringLiteral("uuid"), strUuid},
                       {QStringLiteral("errorModule"), kErrorModule},
                       {QStringLiteral("errorCode"), iErrorCode}};
}

// A key a request must carry, and the JSON type of its value.
struct RequiredKey {
    const char* szName;
    QJsonValue::Type type;
};
// Of "startTalk": the keys its response echoes, then those of the cloud
// ("ZBCInfo") and of the talk.
const RequiredKey kEnvelopeKeys[] = {{"sequence", QJsonValue::String},
                                     {"talkId", QJsonValue::String},
                                     {"uuid", QJsonValue::String},
                                     {"ZBCInfo", QJsonValue::Object}};
const RequiredKey kCloudKeys[] = {
    {"address", QJsonValue::String}, {"AK", QJsonValue::String}, {"SK", QJsonValue::String}};
const RequiredKey kTalkKeys[] = {{"deviceSerial", QJsonValue::String},
                                 {"alarmTime", QJsonValue::String},
                                 {"Security", QJsonValue::Double},
                                 {"Iv", QJsonValue::String}};

// The name of the first key missing from the object or of another type, or
// null when all are there.
template <size_t N>
const char* firstBadKey(const QJsonObject& object, const RequiredKey (&keys)[N]) {
    for (const RequiredKey& key : keys) {
        if (object.value(QLatin1String(key.szName)).type() != key.type) return key.szName;
    }
    return nullptr;
}

}  // namespace

// Every line starts with the qualified method name and the source line.
#define KOTS_LOG(iLevel, szFormat, ...)                                                                               \
    ZBLog_Print(iLevel, kModuleTag, "[%s(%d)] " szFormat, (std::string("AudioMessageDispatch::") + __func__).c_str(), \
                __LINE__, ##__VA_ARGS__)
#define KOTS_PROGRESS(szFormat, ...) KOTS_LOG(ZBLOG_LEVEL_PROGRESS, szFormat, ##__VA_ARGS__)
#define KOTS_ERROR(szFormat, ...) KOTS_LOG(ZBLOG_LEVEL_ERROR, szFormat, ##__VA_ARGS__)

AudioMessageDispatch::AudioMessageDispatch(QObject* parent) : QObject(parent) {}

AudioMessageDispatch::~AudioMessageDispatch() {
    // A talk still open would call back into this object after it is gone.
    const std::int32_t hTalk = m_hTalk.load();
    if (hTalk != -1) ZBNet_StopVoiceTalk(hTalk);
    if (m_bInitSDK) {
        ZBNet_Fini();
        m_bInitSDK = false;
    }
}

// What each command takes and answers besides the envelope ("sequence",
// "uuid", "errorModule" 9, "errorCode"); tools/web/make-reference.mjs makes
// the page authors' reference from this and the table below.
//
// | command | request keys | result keys |
// |---|---|---|
// | startTalk | "talkId"; "ZBCInfo" {"address" (host:port), "AK", "SK" (protected keys)}; "deviceSerial"; "alarmTime"; "Security" 1; "Iv" | "handle", "audioTimeLeft" (s), "talkId"; "errorCode" 1 (bad request), 8000 (a talk runs), 8001-8016 (device and network) |
// | stopTalk | "talkId", "handle" | "talkId" |
// | getTalkStatus | "handle" | "talkStatus" (0 healthy, -1 not) |
// | changeModel | "handle", "model" | "errorCode" 1 (another handle), 8008 (the device refused) |
AudioMessageDispatch::CommandFn AudioMessageDispatch::findCommand(const QJsonObject& request) {
    static const struct {
        const char* szName;
        CommandFn fnRun;
    } kCommands[] = {
        {"startTalk", &AudioMessageDispatch::startREZivORUTalk},
        {"stopTalk", &AudioMessageDispatch::stopREZivORUTalk},
        {"getTalkStatus", &AudioMessageDispatch::getTalkStatus},
        {"changeModel", &AudioMessageDispatch::changeDeviceTalkModel},
    };
    const QString strCommand = request.value(QStringLiteral("cmd")).toString().section(QLatin1Char('.'), 1, 1);
    for (const auto& command : kCommands) {
        if (strCommand == QLatin1String(command.szName)) return command.fnRun;
    }
    return nullptr;
}

bool AudioMessageDispatch::answers(const QJsonObject& request) {
    return findCommand(request) != nullptr;
}

void AudioMessageDispatch::processMessage(const QString& message) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(message.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError) return;
    processRequest(document.object());
}

void AudioMessageDispatch::processRequest(const QJsonObject& request) {
    const CommandFn fnCommand = findCommand(request);
    if (!fnCommand) return;
    QString strResponse;
    if (fnCommand == &AudioMessageDispatch::getTalkStatus) {
        strResponse = getTalkStatus(request);
    } else {
        std::unique_lock<std::mutex> session(m_mutexSession, std::try_to_lock);
        strResponse = session ? (this->*fnCommand)(request) : busyResponse(request);
    }
    emit messageResponse(request.value(QStringLiteral("uuid")).toString(), strResponse);
}

QString AudioMessageDispatch::busyResponse(const QJsonObject& request) {
    return compact(responseEnvelope(request.value(QStringLiteral("sequence")).toString(),
                                    request.value(QStringLiteral("uuid")).toString(), kBusy));
}

QString AudioMessageDispatch::startREZivORUTalk(const QJsonObject& request) {
    int iErrorCode = kSuccess;
    std::int32_t hHandle = -1;
    std::int32_t itime = 0;
    QString strSequence;
    QString strUuid;
    QString strTalkId;

    KOTS_PROGRESS("startREZivORUTalk!");
    KOTS_PROGRESS("talking m_hTalk = [%d]!", m_hTalk.load());

    do {
        // The request holds protected keys: the log names the key, never a value.
        if (const char* szKey = firstBadKey(request, kEnvelopeKeys)) {
            KOTS_ERROR("startREZivORUTalk error param [%s]!", szKey);
            iErrorCode = kParameterError;
            break;
        }
        strSequence = request.value(QStringLiteral("sequence")).toString();
        strUuid = request.value(QStringLiteral("uuid")).toString();
        strTalkId = request.value(QStringLiteral("talkId")).toString();
        const QJsonObject info = request.value(QStringLiteral("ZBCInfo")).toObject();

        if (m_hTalk.load() != -1) {
            KOTS_ERROR("In talking handle param [%d]!", m_hTalk.load());
            iErrorCode = kTalkError;
            break;
        }
        m_iTalkStatus.store(-1);

        const char* szKey = firstBadKey(info, kCloudKeys);
        if (!szKey) szKey = firstBadKey(request, kTalkKeys);
        if (szKey) {
            KOTS_ERROR("startREZivORUTalk error param [%s]!", szKey);
            iErrorCode = kParameterError;
            break;
        }
        const QByteArray strAddress = info.value(QStringLiteral("address")).toString().toUtf8();
        const QByteArray strProtectedAK = info.value(QStringLiteral("AK")).toString().toUtf8();
        const QByteArray strProtectedSK = info.value(QStringLiteral("SK")).toString().toUtf8();
        m_strDeviceSerial = request.value(QStringLiteral("deviceSerial")).toString();
        m_strAlarmTime = request.value(QStringLiteral("alarmTime")).toString();
        const int iSecurity = request.value(QStringLiteral("Security")).toInt();
        const std::string strIv = request.value(QStringLiteral("Iv")).toString().toStdString();

        // A refused value decrypts to empty text; the start goes on with it.
        std::string strPlainAK;
        std::string strPlainSK;
        decryptCredential(strProtectedAK.toStdString(), iSecurity, strIv, strPlainAK);
        decryptCredential(strProtectedSK.toStdString(), iSecurity, strIv, strPlainSK);
        const QByteArray strAK = QByteArray::fromStdString(strPlainAK);
        const QByteArray strSK = QByteArray::fromStdString(strPlainSK);
        std::fill(strPlainAK.begin(), strPlainAK.end(), '\0');
        std::fill(strPlainSK.begin(), strPlainSK.end(), '\0');

        if (!initREZivORU(strAK, strSK)) {
            KOTS_ERROR("startREZivORUTalk  initREZivORU error!");
            iErrorCode = kInitError;
            break;
        }
        if (!setZBCAddress(strAddress)) {
            KOTS_ERROR("startREZivORUTalk  setZBCAddress error!");
            iErrorCode = kAddressError;
            break;
        }

        const QByteArray strDeviceSerial = m_strDeviceSerial.toUtf8();
        const QByteArray strAlarmTime = m_strAlarmTime.toUtf8();
        KOTS_PROGRESS("changeTalk start!");
        const int iChange = changeTalk(strDeviceSerial, "start", strAlarmTime, itime);
        if (iChange != kSuccess) {
            KOTS_ERROR("changeTalk  start error!");
            iErrorCode = iChange;
            break;
        }

        m_bChangeStart = true;
        KOTS_PROGRESS("startVoiceTalk!");
        const std::uint32_t t0 = platform::tickCount();
        hHandle = startVoiceTalk(strDeviceSerial);

        if (hHandle == -1) {
            const std::int32_t iSdkError = ZBNet_GetLastError();
            KOTS_ERROR("startVoiceTalk error code[%d]!", iSdkError);
            if (m_bChangeStart && changeTalk(strDeviceSerial, "end", strAlarmTime, itime) == kSuccess)
                m_bChangeStart = false;
            iErrorCode = mapSdkError(iSdkError);
            m_hTalk.store(-1);
            break;
        }

        m_iTalkStatus.store(0);
        m_strTalkId = strTalkId;
        const std::uint32_t t1 = platform::tickCount();
        m_hTalk.store(hHandle);
        // Unsigned difference: a wrap of the counter in between is harmless.
        const std::int32_t iElapsed = static_cast<std::int32_t>((t1 - t0) / 1000u);
        itime -= iElapsed;
        KOTS_PROGRESS("itime[%d] start talk time[%d]", itime, iElapsed);

        if (itime <= 0) itime = 1;
    } while (false);

    if (iErrorCode != kSuccess) {
        releaseLibrary();
    }

    QJsonObject response = responseEnvelope(strSequence, strUuid, iErrorCode);
    response.insert(QStringLiteral("handle"), static_cast<int>(hHandle));
    response.insert(QStringLiteral("audioTimeLeft"), static_cast<int>(itime));
    response.insert(QStringLiteral("talkId"), strTalkId);
    KOTS_PROGRESS("startREZivORUTalk end!");
    return compact(response);
}

QString AudioMessageDispatch::stopREZivORUTalk(const QJsonObject& request) {
    KOTS_PROGRESS("stopREZivORUTalk!");
    int iErrorCode = kSuccess;

    const QString strTalkId = request.value(QStringLiteral("talkId")).toString();
    const QString strSequence = request.value(QStringLiteral("sequence")).toString();
    const QString strUuid = request.value(QStringLiteral("uuid")).toString();
    // The page sends its handle too; the talk is found by its id.
    const int iRequestHandle = request.value(QStringLiteral("handle")).toInt();
    Q_UNUSED(iRequestHandle);

    if (strTalkId == m_strTalkId) {
        const std::int32_t hTalk = m_hTalk.load();
        if (hTalk != -1) {
            KOTS_PROGRESS("ZBNet_StopVoiceTalk! handle [%d]", hTalk);
            ZBNet_StopVoiceTalk(hTalk);
        }
        m_hTalk.store(-1);
        if (m_bChangeStart) {
            KOTS_PROGRESS("changeTalk! modle [end].");
            std::int32_t iScratch = 0;
            iErrorCode = changeTalk(m_strDeviceSerial.toUtf8(), "end", m_strAlarmTime.toUtf8(), iScratch);
            if (iErrorCode == kSuccess) m_bChangeStart = false;
        }
    } else {
        m_strDeviceSerial.clear();
    }

    releaseLibrary();

    QJsonObject response = responseEnvelope(strSequence, strUuid, iErrorCode);
    response.insert(QStringLiteral("talkId"), strTalkId);
    return compact(response);
}

QString AudioMessageDispatch::getTalkStatus(const QJsonObject& request) {
    const QString strSequence = request.value(QStringLiteral("sequence")).toString();
    const QString strUuid = request.value(QStringLiteral("uuid")).toString();
    const int iHandle = request.value(QStringLiteral("handle")).toInt();
    if (iHandle != m_hTalk.load()) m_iTalkStatus.store(-1);

    QJsonObject response = responseEnvelope(strSequence, strUuid, kSuccess);
    response.insert(QStringLiteral("talkStatus"), m_iTalkStatus.load() == 0 ? 0 : -1);
    return compact(response);
}

QString AudioMessageDispatch::changeDeviceTalkModel(const QJsonObject& request) {
    const QString strSequence = request.value(QStringLiteral("sequence")).toString();
    const QString strUuid = request.value(QStringLiteral("uuid")).toString();
    const int iTalkHandle = request.value(QStringLiteral("handle")).toInt();
    const QString strModel = request.value(QStringLiteral("model")).toString();
    int iErrorCode = kSuccess;

    const std::int32_t hTalk = m_hTalk.load();
    if (iTalkHandle == hTalk) {
        std::int32_t iScratch = 0;
        if (changeTalk(m_strDeviceSerial.toUtf8(), strModel.toUtf8(), m_strAlarmTime.toUtf8(), iScratch) != kSuccess) {
            KOTS_ERROR("changeTalk error[%s]!", strModel.toUtf8().constData());
            iErrorCode = kChangeModelError;
        }
    } else {
        KOTS_ERROR("changeTalk iTalkHandle[%d] m_hTalk[%d]!", iTalkHandle, hTalk);
        iErrorCode = kParameterError;
    }

    return compact(responseEnvelope(strSequence, strUuid, iErrorCode));
}

void AudioMessageDispatch::releaseLibrary() {
    ZBNet_Fini();
    m_strAK.fill('\0');
    m_strSK.fill('\0');
    m_strAK.clear();
    m_strSK.clear();
    m_strAddress.clear();
}

bool AudioMessageDispatch::initREZivORU(const QByteArray& strAK, const QByteArray& strSK) {
    if (strAK == m_strAK && strSK == m_strSK) return true;

    ZBNet_Fini();
    m_bInitSDK = false;
    KOTS_PROGRESS("initREZivORU!");
    if (!ZBNet_Init(strAK.constData(), strSK.constData())) {
        KOTS_ERROR("ZBNet_Init error[%d]!", ZBNet_GetLastError());
        return false;
    }
    m_bInitSDK = true;
    m_strAK = strAK;
    m_strSK = strSK;
    return true;
}

bool AudioMessageDispatch::setZBCAddress(const QByteArray& strAddress) {
    if (strAddress != m_strAddress) {
        KOTS_PROGRESS("setZBCAddress!");
        ZBNetLocalConfig config;
        std::memset(&config, 0, sizeof(config));
        const int nCopy = strAddress.size() < kMaxAddressBytes ? strAddress.size() : kMaxAddressBytes;
        std::memcpy(config.szAddress, strAddress.constData(), static_cast<size_t>(nCopy));
        if (!ZBNet_SetLocalConfig(0, &config)) {
            KOTS_ERROR("ZBNet_SetLocalConfig error[%d]!", ZBNet_GetLastError());
            return false;
        }
    }
    m_strAddress = strAddress;
    return true;
}

int AudioMessageDispatch::changeTalk(const QByteArray& strDeviceSerial, const QByteArray& strMode,
                                     const QByteArray& strAlarmTime, std::int32_t& iTimeLeft) {
    // The values go in as they are, without escaping.
    const QByteArray strBody = "{\"mode\":\"" + strMode + "\", \"alarmTime\":\"" + strAlarmTime + "\"}";

    char* pBuffer = nullptr;
    std::int32_t iLength = 0;
    if (!ZBNet_CmdWI(strDeviceSerial.constData(), kModePath, "PUT", strBody.constData(), &pBuffer, &iLength)) {
        KOTS_ERROR("ZBNet_CmdWI error[%d]!", ZBNet_GetLastError());
        return mapSdkError(ZBNet_GetLastError());
    }

    const QByteArray strAnswer(pBuffer ? pBuffer : "");
    int iResult = kSuccess;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(strAnswer, &error);
    const QJsonObject answer = document.object();
    if (error.error != QJsonParseError::NoError) {
        KOTS_ERROR("ZBNet_CmdWI return json error[%s]!", strAnswer.constData());
        iResult = kTalkError;
    } else if (answer.contains(QStringLiteral("errorCode")) && answer.value(QStringLiteral("errorCode")).toInt() != 1) {
        iResult = mapDeviceError(answer.value(QStringLiteral("errorCode")).toInt());
    } else if (strMode == "end" && answer.contains(QStringLiteral("statusString")) &&
               answer.value(QStringLiteral("statusString")).toString() == QLatin1String("OK")) {
        iTimeLeft = 0;
    } else if (answer.contains(QStringLiteral("audioTimeLeft"))) {
        iTimeLeft = answer.value(QStringLiteral("audioTimeLeft")).toInt();
    } else {
        KOTS_ERROR("ZBNet_CmdWI return error[%s] model[%s]!", strAnswer.constData(), strMode.constData());
        iResult = kTalkError;
    }
    ZBNet_FreeBuf(pBuffer);
    return iResult;
}

std::int32_t AudioMessageDispatch::startVoiceTalk(const QByteArray& strDeviceSerial) {
    ZBNetVoiceTalkParam param;
    std::memset(&param, 0, sizeof(param));
    param.iTalkType = 1;
    param.pfnCallback = &AudioMessageDispatch::voiceTalkMessageCallBack;
    return ZBNet_StartVoiceTalk(strDeviceSerial.constData(), &param, this);
}

int AudioMessageDispatch::mapSdkError(std::int32_t iError) {
    switch (iError) {
    case 0: return kSuccess;
    case 8: return kInitError;
    case 9: return kLocalConfigError;
    case 16:
    case 17:
    case 18:
    case 19:
    case 20:
    case 21: return kNetworkError;
    case 302:
    case 303:
    case 306:
    case 307:
    case 315: return kParameterError;
    default: return kAddressError;
    }
}

int AudioMessageDispatch::mapDeviceError(std::int32_t iError) {
    const auto uError = static_cast<std::uint32_t>(iError);
    if (uError == 1u) return kSuccess;
#define AUDIO_DEVICE_ERROR_CASE(number, name) \
    if (uError == (number)) return audio::code(audio::Error::name);
    AUDIO_DEVICE_ERROR_TABLE(AUDIO_DEVICE_ERROR_CASE)
#undef AUDIO_DEVICE_ERROR_CASE
    return kTalkError;
}

void AudioMessageDispatch::voiceTalkMessageCallBack(std::int32_t iIgnored, std::int32_t iMsgType, void* pUser) {
    Q_UNUSED(iIgnored);
    auto* pDispatch = static_cast<AudioMessageDispatch*>(pUser);
    if (!pDispatch) {
        KOTS_ERROR("talk error!");
        return;
    }
    if (iMsgType == ZBNET_TALK_MSG_CLOSED || iMsgType == ZBNET_TALK_MSG_READ_ERROR) {
        KOTS_ERROR("talk error handle[%d]!", pDispatch->m_hTalk.load());
        pDispatch->m_iTalkStatus.store(-1);
    }
}
