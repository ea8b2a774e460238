// The video events of a native window, as one list: each row is a signal
// that the video widget emits and that every hop (widget, component,
// window, registry) declares and relays as it is, and the dispatcher that
// hands it to the page (Window: WindowMessageDispatch, Video:
// VideoMessageDispatch).
//
// Every signal carries the "uuid" of the window's client and the event text
// for the page (the same "uuid" inside): strUuid is the widget's name, known
// where the text is built, so no dispatcher reads it back from the text.
//
// A class declares the signals in its signals section with
//     EVENT_SIGNALS(DECLARE_EVENT_SIGNAL)
// (moc expands the macro: this header must be found through the include
// path). A new event is one row here; its text is built where the library
// event arrives (VideoEvents.cpp) or in the widget (VideoWidget.cpp).
//
// Connections are made on the GUI thread and are direct: an event reaches
// its dispatcher before the widget's emit returns.
#ifndef VIDEO_EVENTSIGNALS_H
#define VIDEO_EVENTSIGNALS_H

#include <QObject>
#include <QString>

// X(signal, dispatcher)
#define EVENT_SIGNALS(X)         \
    X(sigWindowSelected, Window) \
    X(sigDrawEnd, Video)         \
    X(sigNetStreamEvent, Video)  \
    X(sigFisheyePTZEvent, Video) \
    X(sigMouseEvent, Video)      \
    X(sigFullScreenChange, Video)

#define DECLARE_EVENT_SIGNAL(signal, dispatcher) void signal(QString strUuid, QString strEvent);

namespace video {

enum class EventDispatcher { Window, Video };

// Connects every listed signal of pFrom to the same signal of pTo, which
// re-emits it: one hop of the relay.
template <class From, class To>
void relayEventSignals(From* pFrom, To* pTo) {
#define RELAY_EVENT_SIGNAL(signal, dispatcher) QObject::connect(pFrom, &From::signal, pTo, &To::signal);
    EVENT_SIGNALS(RELAY_EVENT_SIGNAL)
#undef RELAY_EVENT_SIGNAL
}

// Connects the listed signals of pFrom that go to eDispatcher to pfnTo of
// pTo (a signal or slot taking the uuid and the text).
template <class From, class To>
void connectEventSignals(From* pFrom, EventDispatcher eDispatcher, To* pTo, void (To::*pfnTo)(QString, QString)) {
#define CONNECT_EVENT_SIGNAL(signal, dispatcher) \
    if (eDispatcher == EventDispatcher::dispatcher) QObject::connect(pFrom, &From::signal, pTo, pfnTo);
    EVENT_SIGNALS(CONNECT_EVENT_SIGNAL)
#undef CONNECT_EVENT_SIGNAL
}

}  // namespace video

#endif  // VIDEO_EVENTSIGNALS_H
