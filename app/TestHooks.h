// Test builds only (localservice-testhooks): commands read line by line from
// standard input let integration tests and benchmarks shorten the server's
// timers and inject module output. The service binary never contains this.
#ifndef APP_TESTHOOKS_H
#define APP_TESTHOOKS_H

#include <QByteArray>
#include <QObject>

#include "OriginTrust.h"

class QSocketNotifier;
class OriginTrust;
class WebServer;

// Lines understood (each acknowledged on the log with "test hook: ..."):
//   poll <ms>     time a "system.get" waits
//   idle <ms>     time a timed-out client may stay away
//   emit <json>   the JSON text leaves the modules as a response or event
//                 (an event when it has "cmd") for its own "uuid"
//   vc-event <type> <uuid> <json>
//                 the video library reports an event of that type with the
//                 JSON object as data for the video widget of the window
//                 registered under uuid (no spaces in uuid)
//   vc-result <function> <json>
//                 every later call of the named video library function
//                 ("VC_Play") answers the JSON object; {} ends that
//   vc-key <uuid> <key>
//                 a key press (a Qt::Key value) reaches that video widget
//   window <uuid> logs "test hook: window <uuid> shown|hidden|none": the
//                 window registered under uuid and whether it is visible
//   page-claim <ms>
//                 time a page has to open an in-page stream's WebSocket
//   page-streams  logs "test hook: page-streams <n>": in-page streams open
//   paint <uuid> <rrggbb>
//                 fills that window and its video widget with one colour
//                 (screenshot tests find it by that colour)
//   prompt <ms>   questions about origins go to this log ("test hook: asked
//                 <origin>", "test hook: withdrawn <origin>") and requests
//                 wait <ms> for their answer
//   answer <origin> allow|deny [remember]
//                 the user's answer about the origin
//   pages         logs "test hook: pages <origin> <transport> <n>; ..."
//   waiting       logs "test hook: waiting <n>": requests waiting for answers
//   trusted       logs "test hook: trusted <origin> ..." (the user's)
//   revoke <origin>
//                 the user revokes the origin (as from the tray)
class TestHooks : public QObject, public TrustPrompt {
    Q_OBJECT
public:
    TestHooks(WebServer* pServer, OriginTrust* pTrust, QObject* parent = nullptr);

    void ask(const QByteArray& baOrigin) override;
    void withdraw(const QByteArray& baOrigin) override;

private slots:
    void onReadable();

private:
    void runLine(const QByteArray& baLine);

    WebServer* m_pServer;
    OriginTrust* m_pTrust;
    QSocketNotifier* m_pNotifier;
    QByteArray m_baPending;
};

#endif  // APP_TESTHOOKS_H
