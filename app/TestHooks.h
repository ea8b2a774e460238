// Test builds only (localservice-testhooks): commands read line by line from
// standard input let integration tests and benchmarks shorten the server's
// timers and inject module output. The service binary never contains this.
#ifndef APP_TESTHOOKS_H
#define APP_TESTHOOKS_H

#include <QByteArray>
#include <QObject>

class QSocketNotifier;
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
class TestHooks : public QObject {
    Q_OBJECT
public:
    TestHooks(WebServer* pServer, QObject* parent = nullptr);

private slots:
    void onReadable();

private:
    void runLine(const QByteArray& baLine);

    WebServer* m_pServer;
    QSocketNotifier* m_pNotifier;
    QByteArray m_baPending;
};

#endif  // APP_TESTHOOKS_H
