// One owned reference of a GStreamer object (element, pad, bus ...) or mini
// object (caps, message, event, query, sample, buffer), released when the
// owner goes: GstPtr<GstPad> pPad(gst_element_get_static_pad(...)).
//
// Adopts the reference it is given (the transfer-full results of
// GStreamer's getters); take another one with gstRef(). Any thread, as the
// reference itself allows.
#ifndef VIDEO_CONTROL_GSTPTR_H
#define VIDEO_CONTROL_GSTPTR_H

#include <gst/gst.h>

#include <memory>

namespace vc {

struct GstUnref {
    template <typename T>
    void operator()(T* pObject) const {
        gst_object_unref(pObject);
    }
    void operator()(GstCaps* pCaps) const { gst_caps_unref(pCaps); }
    void operator()(GstMessage* pMessage) const { gst_message_unref(pMessage); }
    void operator()(GstEvent* pEvent) const { gst_event_unref(pEvent); }
    void operator()(GstQuery* pQuery) const { gst_query_unref(pQuery); }
    void operator()(GstSample* pSample) const { gst_sample_unref(pSample); }
    void operator()(GstBuffer* pBuffer) const { gst_buffer_unref(pBuffer); }
};

template <typename T>
using GstPtr = std::unique_ptr<T, GstUnref>;

// A new reference of a GStreamer object, owned.
template <typename T>
GstPtr<T> gstRef(T* pObject) {
    return GstPtr<T>(pObject ? static_cast<T*>(gst_object_ref(pObject)) : nullptr);
}

// A new object, owned: sinks its floating reference (the state of elements
// and pads GStreamer makes), so that it is released here unless a bin or an
// element takes a reference of its own.
template <typename T>
GstPtr<T> gstSink(T* pObject) {
    return GstPtr<T>(pObject ? static_cast<T*>(gst_object_ref_sink(pObject)) : nullptr);
}

}  // namespace vc

#endif  // VIDEO_CONTROL_GSTPTR_H
