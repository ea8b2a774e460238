// What the streaming threads of one pipeline share with the GUI-thread
// object that owns it. The threads hold the link (shared) and post to the
// owner only while pOwner is set; the owner clears it, under the mutex,
// before it stops the pipeline, so a call already queued finds no owner
// and does nothing.
#ifndef VIDEO_CONTROL_OWNERLINK_H
#define VIDEO_CONTROL_OWNERLINK_H

#include <QMetaObject>

#include <memory>
#include <mutex>

namespace vc {

template <typename Self, typename Owner>
struct OwnerLink : std::enable_shared_from_this<Self> {
    std::mutex mutex;
    Owner* pOwner = nullptr;

    // With the mutex held: runs f(owner) on the GUI thread, unless the
    // owner has let go of the link by then.
    template <typename F>
    void post(F f) {
        if (!pOwner) return;
        QMetaObject::invokeMethod(
            pOwner,
            [pSelf = this->shared_from_this(), f]() {
                if (pSelf->pOwner) f(pSelf->pOwner);
            },
            Qt::QueuedConnection);
    }
};

}  // namespace vc

#endif  // VIDEO_CONTROL_OWNERLINK_H
