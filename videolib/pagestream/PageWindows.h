// Windows drawn by the page ("render": "page" in "window.createWnd"): they
// have no native widget; each play window of one is an in-page stream
// (PageStream) that the page decodes and shows in its own elements. The
// registry keeps them by the exact "uuid", carries out their video commands
// from one table (kPageCommands: what every video command does in page
// mode) and hands each stream the media WebSocket the page opens for it.
//
// A play answers "stream": the path (under Worker::kMediaPath) that the
// page opens as a WebSocket on the service's port within claimTimeoutMs();
// the token in it is random and good for one connection. Unclaimed streams,
// the streams of a window that goes and of a client that goes are closed.
//
// Limits: kMaxStreamsPerWindow streams per window (client) and
// kMaxStreamsTotal in the process; a play beyond them answers 3031 and
// changes nothing. Layouts of 1 to kMaxPlayWindows play windows.
//
// One per process (instance()). GUI thread only.
#ifndef PAGESTREAM_PAGEWINDOWS_H
#define PAGESTREAM_PAGEWINDOWS_H

#include <QHash>
#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>

class QWebSocket;

namespace pagestream {

class PageStream;
class PageWindows;

// What a video command does for a window drawn by the page.
enum class PageMode {
    Stream,       // carried out here on the window's in-page streams
    Page,         // carried out by the page client; answered here
    Same,         // as for a native window (needs no native widget)
    Unsupported,  // answers 3030
};

struct PageWindow {
    int iPlayWindows = 1;
    int iSelected = 0;
    QMap<int, PageStream*> mapStreams;  // by play window; owned by the registry
    QJsonValue ratioMode = QStringLiteral("fit");
};

struct PageCommand {
    const char* szName;  // as in the video command table
    PageMode eMode;
    // Stream and Page rows: the result keys (or the error keys).
    QJsonObject (PageWindows::*fnRun)(const QString& strUuid, PageWindow& window, const QJsonObject& request);
    const char* szBehaviour;  // the README's words for it
};

// The whole table, one row per video command, in the command table's order.
const PageCommand* pageCommandsBegin();
const PageCommand* pageCommandsEnd();
const PageCommand* findPageCommand(const QString& strName);

class PageWindows : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxStreamsPerWindow = 16;
    static constexpr int kMaxStreamsTotal = 64;
    static constexpr int kMaxPlayWindows = 64;
    static constexpr int kDefaultClaimTimeoutMs = 10000;

    static PageWindows* instance();

    bool has(const QString& strUuid) const { return m_mapWindows.contains(strUuid); }
    // Registers an empty page window (one play window); one already there
    // under the uuid is closed first.
    void create(const QString& strUuid);
    // Closes the window's streams and forgets it; nothing when none.
    void close(const QString& strUuid);
    // Selects a play window as a click in the page does, and reports it
    // ("window.onGetSelectWndInfo") as a native window does.
    void select(const QString& strUuid, int iWndIndex);

    // A video command of a registered page window: true with the answer
    // text in *pstrAnswer, false for rows that run as for a native window.
    bool run(const QString& strName, const QJsonObject& request, QString* pstrAnswer);

    // A media WebSocket at strPath: true when it claims an unclaimed stream.
    bool attachMedia(const QString& strPath, QWebSocket* pSocket);

    int streamCount() const;
    void setClaimTimeoutMs(int iMs) { m_iClaimTimeoutMs = iMs; }

    // Rows of the table.
    QJsonObject play(const QString& strUuid, PageWindow& window, const QJsonObject& request);
    QJsonObject stop(const QString& strUuid, PageWindow& window, const QJsonObject& request);
    QJsonObject stopAll(const QString& strUuid, PageWindow& window, const QJsonObject& request);
    QJsonObject arrange(const QString& strUuid, PageWindow& window, const QJsonObject& request);
    QJsonObject startSave(const QString& strUuid, PageWindow& window, const QJsonObject& request);
    QJsonObject stopSave(const QString& strUuid, PageWindow& window, const QJsonObject& request);
    QJsonObject capture(const QString& strUuid, PageWindow& window, const QJsonObject& request);
    QJsonObject playInfo(const QString& strUuid, PageWindow& window, const QJsonObject& request);
    QJsonObject ratio(const QString& strUuid, PageWindow& window, const QJsonObject& request);
    QJsonObject answered(const QString& strUuid, PageWindow& window, const QJsonObject& request);

signals:
    // An event text for the page that owns the window: strUuid, the
    // window's "uuid", is also inside the text.
    void sigEvent(QString strUuid, QString strEvent);

private:
    PageWindows() = default;

    // The play window a request names ("wndIndex", default the selected
    // one), or -1.
    static int playWindowOf(const PageWindow& window, const QJsonObject& request);
    // The same, with its stream in *ppStream when that shows pictures (else
    // null); errorResultFor(index) is then the error to answer.
    static int playingWindowOf(const PageWindow& window, const QJsonObject& request, PageStream** ppStream);
    static QJsonObject errorResultFor(int iWndIndex);
    void emitEvent(const QString& strUuid, const QString& strName, const QJsonObject& content);
    void streamEvent(const QString& strUuid, int iWndIndex, const QString& strEvent, const QJsonObject& extra);
    // Ends one stream; bReport sends "stopped".
    void endStream(const QString& strUuid, PageWindow& window, int iWndIndex, bool bReport);
    void onStreamFinished(PageStream* pStream);

    QMap<QString, PageWindow> m_mapWindows;
    QHash<QString, QPointer<PageStream>> m_mapTokens;  // unclaimed streams by token
    int m_iClaimTimeoutMs = kDefaultClaimTimeoutMs;
};

}  // namespace pagestream

#endif  // PAGESTREAM_PAGEWINDOWS_H
