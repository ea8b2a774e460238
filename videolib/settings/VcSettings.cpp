// VC_GetLocalConfig and VC_SetLocalConfig over the settings file.
#include "VcSettings.h"

#include "MediaFolders.h"
#include "VcLibrary.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStandardPaths>

#include <cmath>

using namespace vc;

namespace {

struct SettingInfo {
    const char* szKey;
    QStringList choices;  // empty: a folder inside eFolder, or a number
    MediaFolder eFolder;
    const char* szDefaultChoice;
    int iMaxNumber = 0;      // above 0: a whole number from 0 to this ...
    int iDefaultNumber = 0;  // ... by default this
};

const SettingInfo& info(Setting eSetting) {
    static const SettingInfo kSettings[] = {
        {"snapshotPath", {}, MediaFolder::Snapshots, nullptr},
        {"snapshotFormat", {QStringLiteral("png"), QStringLiteral("jpg")}, MediaFolder::Snapshots, "png"},
        {"recordPath", {}, MediaFolder::Recordings, nullptr},
        {"recordFormat", {QStringLiteral("mp4"), QStringLiteral("mkv")}, MediaFolder::Recordings, "mp4"},
        {"downloadPath", {}, MediaFolder::Downloads, nullptr},
        {"preRecordSeconds", {}, MediaFolder::Recordings, nullptr, 30, 5},
    };
    return kSettings[static_cast<int>(eSetting)];
}

constexpr Setting kAllSettings[] = {Setting::SnapshotPath, Setting::SnapshotFormat, Setting::RecordPath,
                                    Setting::RecordFormat, Setting::DownloadPath,   Setting::PreRecordSeconds};

QString settingsFile() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("LocalService/video_control.json"));
}

QJsonValue defaultValue(const SettingInfo& setting) {
    if (setting.iMaxNumber > 0) return setting.iDefaultNumber;
    if (setting.szDefaultChoice) return QLatin1String(setting.szDefaultChoice);
    return QDir::toNativeSeparators(mediaFolder(setting.eFolder));
}

// Checks a value for a setting and gives its stored form (a folder: its
// absolute path, inside its media folder); bMake makes a folder that does
// not exist yet (and checks it can be written).
Error check(const SettingInfo& setting, const QJsonValue& value, bool bMake, QJsonValue* pStored, QString* pWhy) {
    const QString strKey = QLatin1String(setting.szKey);
    if (setting.iMaxNumber > 0) {
        *pWhy = QStringLiteral("\"%1\" must be a whole number from 0 to %2").arg(strKey).arg(setting.iMaxNumber);
        const double dValue = value.toDouble(-1);
        if (!value.isDouble() || dValue != std::floor(dValue) || dValue < 0 || dValue > setting.iMaxNumber)
            return Error::BadRequest;
        *pStored = static_cast<int>(dValue);
        return Error::None;
    }
    if (!setting.choices.isEmpty()) {
        *pStored = value.toString().toLower();
        *pWhy = QStringLiteral("\"%1\" must be %2").arg(strKey, setting.choices.join(QStringLiteral(" or ")));
        return value.isString() && setting.choices.contains(pStored->toString()) ? Error::None : Error::BadRequest;
    }
    *pWhy = QStringLiteral("\"%1\" must name a folder").arg(strKey);
    if (!value.isString()) return Error::BadRequest;
    QString strPath;
    QJsonObject error;
    if (!resolveIn(setting.eFolder, value.toString(), &strPath, &error) || (bMake && !makeFolder(strPath, &error))) {
        *pWhy = QStringLiteral("\"%1\": %2").arg(strKey, error.value(QStringLiteral("errorMessage")).toString());
        return static_cast<Error>(error.value(QStringLiteral("errorCode")).toInt());
    }
    *pStored = QDir::toNativeSeparators(strPath);
    if (bMake && !QFileInfo(strPath).isWritable()) {
        *pWhy = QStringLiteral("\"%1\": cannot write into %2").arg(strKey, pStored->toString());
        return Error::FileError;
    }
    return Error::None;
}

QJsonObject readSettings() {
    QFile file(settingsFile());
    if (!file.open(QIODevice::ReadOnly)) return QJsonObject();
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    if (!document.isObject())
        qWarning("video_control: %s is no JSON object; the defaults apply", qPrintable(file.fileName()));
    return document.object();
}

QJsonValue storedOrDefault(const QJsonObject& stored, Setting eSetting) {
    const SettingInfo& setting = info(eSetting);
    QJsonValue storedValue;
    QString strWhy;
    const QJsonValue value = stored.value(QLatin1String(setting.szKey));
    return check(setting, value, false, &storedValue, &strWhy) == Error::None ? storedValue : defaultValue(setting);
}

// The settings only: the folders are inside the media folders; where the
// settings file lives is not a page's business.
QJsonObject getLocalConfig(const QJsonObject&) {
    const QJsonObject stored = readSettings();
    QJsonObject result;
    for (Setting eSetting : kAllSettings)
        result.insert(QLatin1String(info(eSetting).szKey), storedOrDefault(stored, eSetting));
    return result;
}

// Stores the settings the request names (null: back to the default); all or
// none. Other keys are not read.
QJsonObject setLocalConfig(const QJsonObject& request) {
    QJsonObject stored = readSettings();
    bool bChanged = false;
    for (Setting eSetting : kAllSettings) {
        const QString strKey = QLatin1String(info(eSetting).szKey);
        const QJsonValue value = request.value(strKey);
        if (value.isUndefined()) continue;
        bChanged = true;
        if (value.isNull()) {
            stored.remove(strKey);
            continue;
        }
        QJsonValue storedValue;
        QString strWhy;
        const Error eError = check(info(eSetting), value, true, &storedValue, &strWhy);
        if (eError != Error::None) return errorResult(eError, strWhy);
        stored.insert(strKey, storedValue);
    }
    if (!bChanged) return QJsonObject();
    QSaveFile file(settingsFile());
    if (!QDir().mkpath(QFileInfo(file.fileName()).absolutePath()) || !file.open(QIODevice::WriteOnly) ||
        file.write(QJsonDocument(stored).toJson()) < 0 || !file.commit())
        return errorResult(Error::FileError, QStringLiteral("cannot write %1").arg(file.fileName()));
    return QJsonObject();
}

}  // namespace

QString vc::setting(Setting eSetting) {
    return storedOrDefault(readSettings(), eSetting).toString();
}

int vc::settingNumber(Setting eSetting) {
    return storedOrDefault(readSettings(), eSetting).toInt();
}

VC_DEFINE_REQUEST(VC_GetLocalConfig, getLocalConfig)
VC_DEFINE_REQUEST(VC_SetLocalConfig, setLocalConfig)
