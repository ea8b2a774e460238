// The video library's events turned into the page's event texts. The
// callbacks are process-wide; the widget each event names tells the
// components apart. Events for widgets that are not video widgets are
// ignored.
//
// GUI thread only: the library calls the callbacks there.
#ifndef VIDEO_VIDEOEVENTS_H
#define VIDEO_VIDEOEVENTS_H

namespace video {

// Binds the handlers of event types 0, 1, 2, 3, 4, 5, 7 and 8, in that
// order; type 6 stays unbound. Every new component binds them again.
void bindEventCallbacks();

}  // namespace video

#endif  // VIDEO_VIDEOEVENTS_H
